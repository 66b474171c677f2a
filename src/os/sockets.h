// TCP sockets on the loopback address, with one RAII type per socket.
// Winsock is started once on first use (and is thread-safe to use after).
// Every call reports failure as a value; none raises or ends the process.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "os/unique_handle.h"
#include "util/result.h"

namespace qm::os {

// The system's socket as a number wide enough for either system's type
// (a descriptor, or a SOCKET whose INVALID_SOCKET is all ones, so -1).
struct SocketPolicy {
    using Native = std::intptr_t;
    static Native none() noexcept { return -1; }
    static bool is_valid(Native native) noexcept { return native != -1; }
    static void close(Native native) noexcept;  // close or closesocket
};

// An owned connected or listening socket; closed when destroyed or replaced.
class Socket {
public:
    using Native = SocketPolicy::Native;

    Socket() = default;
    explicit Socket(Native native) : handle_(native) {}

    [[nodiscard]] bool valid() const { return handle_.valid(); }

    // Receives up to `capacity` bytes into `buffer`. 0 means the peer closed
    // the connection; a failure or an expired receive timeout is an error.
    [[nodiscard]] Result<std::size_t> receive(char* buffer, std::size_t capacity);

    // Sends all of `data`, looping over partial sends.
    [[nodiscard]] Result<void> send_all(std::string_view data);

    // Per-call limits for receive and send (SO_RCVTIMEO / SO_SNDTIMEO).
    [[nodiscard]] Result<void> set_timeouts(std::chrono::milliseconds receive_limit,
                                            std::chrono::milliseconds send_limit);

    // Ends sending; the peer then reads end of stream.
    void shutdown_send();

    // Ends both directions: a receive waiting on another thread returns at
    // once. Safe to call from another thread while the socket is open.
    void shutdown_both() const;

    // For a listening socket: waits for one connection.
    [[nodiscard]] Result<Socket> accept_one();

    // For a listening socket: the port it is bound to.
    [[nodiscard]] Result<std::uint16_t> local_port() const;

    void close() { handle_.reset(); }

    // The system's socket, still owned by this object.
    [[nodiscard]] Native native_handle() const { return handle_.get(); }

private:
    UniqueHandle<SocketPolicy> handle_;
};

// Binds to 127.0.0.1 only (port 0 lets the system choose) and listens.
[[nodiscard]] Result<Socket> listen_loopback(std::uint16_t port, int backlog = 64);

// Connects to 127.0.0.1:port (used by tests and by a second window opener).
[[nodiscard]] Result<Socket> connect_loopback(std::uint16_t port);

}  // namespace qm::os
