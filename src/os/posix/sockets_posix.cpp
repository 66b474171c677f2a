#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "os/loopback_address.h"
#include "os/sockets.h"

namespace qm::os {

namespace {

std::string failure(std::string_view what, int code) {
    return std::string(what) + ": " + std::system_category().message(code) + ".";
}

int fd_of(Socket::Native native) { return static_cast<int>(native); }

timeval to_timeval(std::chrono::milliseconds limit) {
    if (limit.count() < 0) limit = std::chrono::milliseconds(0);
    timeval value{};
    value.tv_sec = static_cast<time_t>(limit.count() / 1000);
    value.tv_usec = static_cast<suseconds_t>((limit.count() % 1000) * 1000);
    return value;
}

Result<Socket> new_stream_socket() {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return fail(failure("Could not create a network socket", errno));
    return Socket(static_cast<Socket::Native>(fd));
}

}  // namespace

void SocketPolicy::close(Native native) noexcept { ::close(fd_of(native)); }

Result<std::size_t> Socket::receive(char* buffer, std::size_t capacity) {
    for (;;) {
        ssize_t n = ::recv(fd_of(native_handle()), buffer, capacity, 0);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return fail("Receiving timed out.");
        return fail(failure("Receiving failed", errno));
    }
}

Result<void> Socket::send_all(std::string_view data) {
    while (!data.empty()) {
        // MSG_NOSIGNAL: a peer that has gone away is an error here, never a
        // SIGPIPE that ends the process.
        ssize_t n = ::send(fd_of(native_handle()), data.data(), data.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) return fail("Sending timed out.");
            return fail(failure("Sending failed", errno));
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

Result<void> Socket::set_timeouts(std::chrono::milliseconds receive_limit, std::chrono::milliseconds send_limit) {
    timeval receive = to_timeval(receive_limit);
    timeval send = to_timeval(send_limit);
    if (::setsockopt(fd_of(native_handle()), SOL_SOCKET, SO_RCVTIMEO, &receive, sizeof receive) != 0 ||
        ::setsockopt(fd_of(native_handle()), SOL_SOCKET, SO_SNDTIMEO, &send, sizeof send) != 0) {
        return fail(failure("Could not set the socket's time limits", errno));
    }
    return {};
}

void Socket::shutdown_send() {
    if (valid()) ::shutdown(fd_of(native_handle()), SHUT_WR);
}

void Socket::shutdown_both() const {
    if (valid()) ::shutdown(fd_of(native_handle()), SHUT_RDWR);
}

Result<Socket> Socket::accept_one() {
    for (;;) {
        int fd = ::accept4(fd_of(native_handle()), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) return Socket(static_cast<Native>(fd));
        // A connection that was reset before it was taken is not the
        // listener's failure; wait for the next one.
        if (errno == EINTR || errno == ECONNABORTED) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return fail("Waiting for a connection timed out.");
        return fail(failure("Could not accept a connection", errno));
    }
}

Result<std::uint16_t> Socket::local_port() const {
    sockaddr_in address{};
    socklen_t length = sizeof address;
    if (::getsockname(fd_of(native_handle()), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return fail(failure("Could not read the socket's port", errno));
    }
    return ntohs(address.sin_port);
}

Result<Socket> listen_loopback(std::uint16_t port, int backlog) {
    Socket socket = QM_TRY(new_stream_socket());
    int fd = static_cast<int>(socket.native_handle());
    std::string where = "Could not listen on 127.0.0.1:" + std::to_string(port);
    int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0) return fail(failure(where, errno));
    sockaddr_in address = loopback_address(port);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        return fail(failure(where, errno));
    }
    if (::listen(fd, backlog) != 0) return fail(failure(where, errno));
    return socket;
}

Result<Socket> connect_loopback(std::uint16_t port) {
    Socket socket = QM_TRY(new_stream_socket());
    int fd = static_cast<int>(socket.native_handle());
    sockaddr_in address = loopback_address(port);
    std::string where = "Could not connect to 127.0.0.1:" + std::to_string(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) return socket;
    if (errno != EINTR) return fail(failure(where, errno));
    // An interrupted connect goes on by itself; wait for its outcome.
    pollfd watched{fd, POLLOUT, 0};
    while (::poll(&watched, 1, -1) < 0) {
        if (errno != EINTR) return fail(failure(where, errno));
    }
    int code = 0;
    socklen_t length = sizeof code;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &code, &length) != 0) code = errno;
    if (code != 0) return fail(failure(where, code));
    return socket;
}

}  // namespace qm::os
