// Starts the real program's window server on the demonstration and talks to
// it over loopback sockets, as a browser would.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace qm::test {

struct HttpAnswer {
    int status = 0;  // 0: the server closed without an answer
    std::string head;
    std::string body;
};

class ServerProcess {
public:
    // `environment` is a prefix such as "QUILLMOOR_TEST_XSS=1 " (POSIX only).
    ServerProcess();
    ~ServerProcess();
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    [[nodiscard]] bool started() const { return port_ != 0; }
    [[nodiscard]] unsigned port() const { return port_; }
    [[nodiscard]] const std::string& key() const { return key_; }
    [[nodiscard]] const std::string& link() const { return link_; }
    // The server's process id where the test can know it (POSIX), else 0.
    [[nodiscard]] long pid() const { return pid_; }

    // Sends raw bytes and reads the whole answer until the server closes.
    HttpAnswer raw(std::string_view request) const;
    HttpAnswer get(std::string_view path, std::string_view token = {}, std::string_view extra_headers = {}) const;
    HttpAnswer post(std::string_view path, std::string_view body, std::string_view token = {},
                    std::string_view extra_headers = {}) const;
    // Exchanges the link key for the token; empty when refused.
    std::string bootstrap() const;
    // True once the process has ended (waits up to `seconds`).
    bool wait_for_exit(int seconds);

private:
    FILE* pipe_ = nullptr;
    long pid_ = 0;
    unsigned port_ = 0;
    std::string key_;
    std::string link_;
    bool ended_ = false;
    mutable std::string token_;  // the token once any bootstrap won, for stopping the server
};

}  // namespace qm::test
