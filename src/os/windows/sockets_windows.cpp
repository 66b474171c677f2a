#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <climits>

#include "os/loopback_address.h"
#include "os/sockets.h"
#include "os/windows/wide.h"

namespace qm::os {

namespace {

// Winsock is started on first use, once per process; the C++ runtime makes
// the initialisation of this local static thread-safe. It stays started
// until the process ends.
class WinsockSession {
public:
    WinsockSession() {
        WSADATA data{};
        code_ = ::WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~WinsockSession() {
        if (code_ == 0) ::WSACleanup();
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
    [[nodiscard]] int code() const { return code_; }

private:
    int code_ = 0;
};

int winsock_start_code() {
    static WinsockSession session;
    return session.code();
}

std::string failure(std::string_view what, int code) {
    return std::string(what) + ": " + windows::error_text(static_cast<unsigned long>(code)) + ".";
}

SOCKET socket_of(Socket::Native native) { return static_cast<SOCKET>(native); }

DWORD to_milliseconds(std::chrono::milliseconds limit) {
    return static_cast<DWORD>(std::clamp<long long>(limit.count(), 0, 0x7FFFFFFF));
}

Result<Socket> new_stream_socket() {
    if (int code = winsock_start_code()) return fail(failure("Could not start Windows Sockets", code));
    // Overlapped, as socket() makes them: without it SO_RCVTIMEO and
    // SO_SNDTIMEO never take effect. Not inheritable: a child program must
    // never hold the window server's sockets open.
    SOCKET s =
        ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) return fail(failure("Could not create a network socket", ::WSAGetLastError()));
    return Socket(static_cast<Socket::Native>(s));
}

}  // namespace

void SocketPolicy::close(Native native) noexcept { ::closesocket(socket_of(native)); }

Result<std::size_t> Socket::receive(char* buffer, std::size_t capacity) {
    int n = ::recv(socket_of(native_handle()), buffer, static_cast<int>(std::min<std::size_t>(capacity, INT_MAX)), 0);
    if (n >= 0) return static_cast<std::size_t>(n);
    int code = ::WSAGetLastError();
    if (code == WSAETIMEDOUT) return fail("Receiving timed out.");
    return fail(failure("Receiving failed", code));
}

Result<void> Socket::send_all(std::string_view data) {
    while (!data.empty()) {
        int n = ::send(socket_of(native_handle()), data.data(),
                       static_cast<int>(std::min<std::size_t>(data.size(), 1u << 20)), 0);
        if (n == SOCKET_ERROR) {
            int code = ::WSAGetLastError();
            if (code == WSAETIMEDOUT) return fail("Sending timed out.");
            return fail(failure("Sending failed", code));
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

Result<void> Socket::set_timeouts(std::chrono::milliseconds receive_limit, std::chrono::milliseconds send_limit) {
    DWORD receive = to_milliseconds(receive_limit);
    DWORD send = to_milliseconds(send_limit);
    if (::setsockopt(socket_of(native_handle()), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&receive),
                     sizeof receive) != 0 ||
        ::setsockopt(socket_of(native_handle()), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&send),
                     sizeof send) != 0) {
        return fail(failure("Could not set the socket's time limits", ::WSAGetLastError()));
    }
    return {};
}

void Socket::shutdown_send() {
    if (valid()) ::shutdown(socket_of(native_handle()), SD_SEND);
}

void Socket::shutdown_both() const {
    if (valid()) ::shutdown(socket_of(native_handle()), SD_BOTH);
}

Result<Socket> Socket::accept_one() {
    for (;;) {
        SOCKET s = ::accept(socket_of(native_handle()), nullptr, nullptr);
        if (s != INVALID_SOCKET) {
            ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
            return Socket(static_cast<Native>(s));
        }
        int code = ::WSAGetLastError();
        // A connection that was reset before it was taken is not the
        // listener's failure; wait for the next one.
        if (code == WSAECONNRESET || code == WSAEINTR) continue;
        if (code == WSAETIMEDOUT) return fail("Waiting for a connection timed out.");
        return fail(failure("Could not accept a connection", code));
    }
}

Result<std::uint16_t> Socket::local_port() const {
    sockaddr_in address{};
    int length = sizeof address;
    if (::getsockname(socket_of(native_handle()), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return fail(failure("Could not read the socket's port", ::WSAGetLastError()));
    }
    return ntohs(address.sin_port);
}

Result<Socket> listen_loopback(std::uint16_t port, int backlog) {
    Socket socket = QM_TRY(new_stream_socket());
    SOCKET s = socket_of(socket.native_handle());
    std::string where = "Could not listen on 127.0.0.1:" + std::to_string(port);
    // No other program may bind the same port while we hold it.
    BOOL on = TRUE;
    if (::setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on) != 0) {
        return fail(failure(where, ::WSAGetLastError()));
    }
    sockaddr_in address = loopback_address(port);
    if (::bind(s, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return fail(failure(where, ::WSAGetLastError()));
    }
    if (::listen(s, backlog) != 0) return fail(failure(where, ::WSAGetLastError()));
    return socket;
}

Result<Socket> connect_loopback(std::uint16_t port) {
    Socket socket = QM_TRY(new_stream_socket());
    sockaddr_in address = loopback_address(port);
    if (::connect(socket_of(socket.native_handle()), reinterpret_cast<const sockaddr*>(&address), sizeof address) !=
        0) {
        return fail(failure("Could not connect to 127.0.0.1:" + std::to_string(port), ::WSAGetLastError()));
    }
    return socket;
}

}  // namespace qm::os
