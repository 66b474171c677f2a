#include "support/server_process.h"

#include <chrono>
#include <thread>

#include "json/json.h"
#include "os/sockets.h"

#ifdef _WIN32
#define popen _popen
#define pclose _pclose
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
extern char** environ;
#endif

namespace qm::test {

ServerProcess::ServerProcess() {
#ifdef _WIN32
    // cmd.exe strips one pair of outer quotes.
    std::string command = std::string("\"\"") + QM_PROGRAM_PATH + "\" --demo serve --no-browser --port 0\"";
    pipe_ = popen(command.c_str(), "r");
#else
    // Started directly rather than through a shell, so that its process id is known.
    int fds[2];
    if (::pipe(fds) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    posix_spawn_file_actions_addclose(&actions, fds[1]);
    const char* argv[] = {QM_PROGRAM_PATH, "--demo", "serve", "--no-browser", "--port", "0", nullptr};
    pid_t child = 0;
    int spawned = posix_spawn(&child, QM_PROGRAM_PATH, &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        return;
    }
    pid_ = child;
    pipe_ = ::fdopen(fds[0], "r");
#endif
    if (pipe_ == nullptr) return;
    char line[512];
    for (int i = 0; i < 3 && std::fgets(line, sizeof line, pipe_) != nullptr; ++i) {
        std::string text(line);
        std::size_t at = text.find("http://127.0.0.1:");
        if (at == std::string::npos) continue;
        link_ = text.substr(at);
        while (!link_.empty() && (link_.back() == '\n' || link_.back() == '\r')) link_.pop_back();
        std::size_t colon = link_.find(':', 7);
        port_ = static_cast<unsigned>(std::stoul(link_.substr(colon + 1)));
        key_ = link_.substr(link_.find("#k=") + 3);
        break;
    }
}

ServerProcess::~ServerProcess() {
    if (pipe_ == nullptr) return;
    if (!ended_ && port_ != 0) {
        if (token_.empty()) (void)bootstrap();
        (void)post("/api/quit", "", token_);
    }
    // Waits for the process; quit ends it within half a second.
#ifdef _WIN32
    pclose(pipe_);
#else
    std::fclose(pipe_);
    if (pid_ != 0) ::waitpid(static_cast<pid_t>(pid_), nullptr, 0);
#endif
}

bool ServerProcess::wait_for_exit(int seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
        if (!os::connect_loopback(static_cast<std::uint16_t>(port_))) {
            ended_ = true;
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    return false;
}

HttpAnswer ServerProcess::raw(std::string_view request) const {
    HttpAnswer answer;
    Result<os::Socket> socket = os::connect_loopback(static_cast<std::uint16_t>(port_));
    if (!socket) return answer;
    (void)socket->set_timeouts(std::chrono::seconds(20), std::chrono::seconds(20));
    (void)socket->send_all(request);
    std::string received;
    char buffer[8192];
    while (true) {
        Result<std::size_t> got = socket->receive(buffer, sizeof buffer);
        if (!got || *got == 0) break;
        received.append(buffer, *got);
    }
    std::size_t end = received.find("\r\n\r\n");
    if (received.size() < 12 || end == std::string::npos) return answer;
    answer.status = std::stoi(received.substr(9, 3));
    answer.head = received.substr(0, end);
    answer.body = received.substr(end + 4);
    return answer;
}

HttpAnswer ServerProcess::get(std::string_view path, std::string_view token, std::string_view extra_headers) const {
    std::string request = "GET " + std::string(path) + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) + "\r\n";
    if (!token.empty()) request += "x-quillmoor-token: " + std::string(token) + "\r\n";
    request += std::string(extra_headers) + "\r\n";
    return raw(request);
}

HttpAnswer ServerProcess::post(std::string_view path, std::string_view body, std::string_view token,
                               std::string_view extra_headers) const {
    std::string request = "POST " + std::string(path) + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port_) +
                          "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n";
    if (!token.empty()) request += "x-quillmoor-token: " + std::string(token) + "\r\n";
    request += std::string(extra_headers) + "\r\n" + std::string(body);
    HttpAnswer answer = raw(request);
    if (path == "/api/bootstrap" && answer.status == 200) {
        Result<json::JsonValue> parsed = json::parse(answer.body);
        if (parsed) token_ = json::get_text(*parsed, "token");
    }
    return answer;
}

std::string ServerProcess::bootstrap() const {
    HttpAnswer answer = post("/api/bootstrap", "{\"k\":\"" + key_ + "\"}");
    if (answer.status != 200) return {};
    Result<json::JsonValue> body = json::parse(answer.body);
    return body ? json::get_text(*body, "token") : std::string();
}

}  // namespace qm::test
