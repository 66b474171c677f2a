// The window server, started as the real program on the demonstration,
// against clients on this computer that try to keep it from answering, to
// make it use unbounded time or memory, or to slip a request past its checks
// through the way the request is framed.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef __linux__
#include <sys/resource.h>
#include <unistd.h>
#endif

#include "json/json.h"
#include "os/sockets.h"
#include "support/server_process.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using test::HttpAnswer;
using test::ServerProcess;
using Clock = std::chrono::steady_clock;

std::string error_of(const HttpAnswer& answer) {
    Result<json::JsonValue> body = json::parse(answer.body);
    return body ? json::get_text(*body, "error") : "(not json: " + answer.body + ")";
}

class HostileClient : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(server_.started());
        token_ = server_.bootstrap();
        ASSERT_EQ(token_.size(), 64u);
        host_ = "Host: 127.0.0.1:" + std::to_string(server_.port()) + "\r\n";
    }

    [[nodiscard]] os::Socket connect() const {
        Result<os::Socket> socket = os::connect_loopback(static_cast<std::uint16_t>(server_.port()));
        EXPECT_TRUE(socket.has_value());
        return socket ? std::move(*socket) : os::Socket();
    }

    // A well-formed request of the window, with its token.
    [[nodiscard]] HttpAnswer state() const { return server_.get("/api/state", token_); }

    // A plan request whose head carries `headers` after the host line, then `body`.
    [[nodiscard]] HttpAnswer plan_with(const std::string& headers, const std::string& body) const {
        return server_.raw("POST /api/plan HTTP/1.1\r\n" + host_ + "x-quillmoor-token: " + token_ + "\r\n" + headers +
                           "\r\n" + body);
    }

    ServerProcess server_;
    std::string token_;
    std::string host_;
};

// Clients that announce a huge body on a request that is refused and then
// send it slowly, or as fast as they can, hold the server only briefly.
TEST_F(HostileClient, BodiesSentSlowlyOrEndlesslyAfterARefusalNeverStopTheWindow) {
    const std::string refused = "POST /api/plan HTTP/1.1\r\nHost: evil.example\r\nContent-Length: 1000000000\r\n\r\n";
    std::vector<os::Socket> slow;
    for (int i = 0; i < 48; ++i) {
        os::Socket socket = connect();
        ASSERT_TRUE(socket.valid());
        ASSERT_TRUE(socket.send_all(refused).has_value());
        slow.push_back(std::move(socket));
    }
    // One byte every 50 ms from each, until the server has closed every one.
    std::atomic<bool> stop{false};
    std::atomic<int> closed{0};
    const auto started = Clock::now();
    std::thread trickle([&] {
        std::vector<bool> gone(slow.size(), false);
        while (!stop.load() && closed.load() < static_cast<int>(slow.size())) {
            for (std::size_t i = 0; i < slow.size(); ++i) {
                if (!gone[i] && !slow[i].send_all("x")) {
                    gone[i] = true;
                    ++closed;
                }
            }
            std::this_thread::sleep_for(50ms);
        }
    });

    std::this_thread::sleep_for(300ms);
    const auto asked = Clock::now();
    HttpAnswer answer = state();
    EXPECT_EQ(answer.status, 200) << "the window was refused while 48 clients trickled bodies";
    EXPECT_LT(Clock::now() - asked, 1s);

    while (closed.load() < static_cast<int>(slow.size()) && Clock::now() - started < 6s)
        std::this_thread::sleep_for(20ms);
    const auto took = Clock::now() - started;
    stop.store(true);
    trickle.join();
    EXPECT_EQ(closed.load(), 48);
    EXPECT_LT(took, 3s) << "the server read trickled bodies for too long";
    slow.clear();

    // A client that sends the announced gigabyte as fast as it can is cut off
    // after a few megabytes, not read to the end.
    os::Socket fast = connect();
    ASSERT_TRUE(fast.send_all(refused).has_value());
    const std::string block(65536, 'x');
    std::uint64_t sent = 0;
    while (sent < 64u * 1024 * 1024 && fast.send_all(block)) sent += block.size();
    EXPECT_LT(sent, 32u * 1024 * 1024);
}

// Sixty clients without a token that send their heads a byte every half
// second, reconnecting whenever closed, hold no slot for long: each is closed
// within the head's deadline (or sooner, to make room), and every request of
// the window meanwhile is answered within a second.
TEST_F(HostileClient, SlowHeadsNeverKeepTheWindowsOwnRequestsOut) {
    std::atomic<bool> stop{false};
    std::atomic<int> closed{0};
    std::vector<std::thread> attackers;
    for (int i = 0; i < 60; ++i) {
        attackers.emplace_back([&] {
            while (!stop.load()) {
                Result<os::Socket> socket = os::connect_loopback(static_cast<std::uint16_t>(server_.port()));
                if (!socket) {
                    std::this_thread::sleep_for(20ms);
                    continue;
                }
                (void)socket->set_timeouts(1s, 1s);
                while (!stop.load() && socket->send_all("G")) std::this_thread::sleep_for(500ms);
                ++closed;
            }
        });
    }
    std::this_thread::sleep_for(1s);
    int slow = 0;
    for (int i = 0; i < 16; ++i) {
        const auto started = Clock::now();
        const HttpAnswer answer = state();
        if (answer.status != 200 || Clock::now() - started > 1s) ++slow;
        std::this_thread::sleep_for(250ms);
    }
    stop = true;
    for (std::thread& attacker : attackers) attacker.join();
    EXPECT_EQ(slow, 0);
    EXPECT_GT(closed.load(), 0);  // the server closed them; none held on
}

TEST_F(HostileClient, ALengthTooLongForANumberIsTooLarge) {
    const std::string body = R"({"changes":[{"action":"disable","id":"service|machine|Services|Spooler"}]})";
    for (const char* length : {"99999999999999999999", "18446744073709551616", "123456789012345678901234567890"}) {
        HttpAnswer answer = plan_with("Content-Length: " + std::string(length) + "\r\n", body);
        EXPECT_EQ(answer.status, 413) << length;
        EXPECT_EQ(error_of(answer), "The request was too large or did not arrive in time.") << length;
    }
    // The largest length that fits is over the limit as well; the limit itself is not.
    EXPECT_EQ(plan_with("Content-Length: 18446744073709551615\r\n", body).status, 413);
    EXPECT_EQ(plan_with("Content-Length: " + std::to_string(body.size()) + "\r\n", body).status, 200);
}

TEST_F(HostileClient, AHeadOverTheLimitAsSentIsClosedUnanswered) {
    // A head of exactly `size` bytes through its blank line.
    auto head_of = [&](std::size_t size) {
        std::string start = "GET /favicon.ico HTTP/1.1\r\n" + host_ + "X-Filler: ";
        return start + std::string(size - start.size() - 4, 'a') + "\r\n\r\n";
    };
    ASSERT_EQ(head_of(32768).size(), 32768u);
    EXPECT_EQ(server_.raw(head_of(32768)).status, 404);
    for (std::size_t size : {32769u, 33000u, 36864u}) EXPECT_EQ(server_.raw(head_of(size)).status, 0) << size;
}

TEST_F(HostileClient, AnyTransferEncodingIsRefused) {
    const std::string chunked = "1f\r\n{\"changes\":[{\"action\":\"enable\"}]}\r\n0\r\n\r\n";
    for (const char* coding : {"chunked", "gzip, chunked", "identity"}) {
        HttpAnswer answer = plan_with("Transfer-Encoding: " + std::string(coding) + "\r\n", chunked);
        EXPECT_EQ(answer.status, 501) << coding;
        EXPECT_NE(answer.head.find("501 Not Implemented"), std::string::npos) << answer.head;
        EXPECT_EQ(error_of(answer), "Transfer-Encoding is not supported.") << coding;
    }
    // Together with a length as well.
    EXPECT_EQ(plan_with("Content-Length: 2\r\nTransfer-Encoding: chunked\r\n", "{}").status, 501);
}

TEST_F(HostileClient, RepeatedSingleHeadersAndFoldedLinesAreRefused) {
    const std::string own = "127.0.0.1:" + std::to_string(server_.port());
    const std::string repeated = "A header that may appear only once is repeated.";
    auto request = [&](const std::string& headers) {
        return server_.raw("GET /api/state HTTP/1.1\r\n" + headers + "\r\n");
    };
    const std::string token = "x-quillmoor-token: " + token_ + "\r\n";

    // Host: whichever copy is the right one.
    for (const std::string& hosts :
         {"Host: " + own + "\r\nHost: evil.example\r\n", "Host: evil.example\r\nhost: " + own + "\r\n",
          "Host: " + own + "\r\nHOST: " + own + "\r\n"}) {
        HttpAnswer answer = request(hosts + token);
        EXPECT_EQ(answer.status, 400) << hosts;
        EXPECT_EQ(error_of(answer), repeated) << hosts;
    }
    // Origin and token: a good first copy does not carry a bad second one.
    EXPECT_EQ(request(host_ + "Origin: http://" + own + "\r\nOrigin: http://evil.example\r\n" + token).status, 400);
    EXPECT_EQ(request(host_ + token + "x-quillmoor-token: " + std::string(64, '0') + "\r\n").status, 400);
    // Content-Length: even when both copies agree.
    EXPECT_EQ(plan_with("Content-Length: 2\r\nContent-Length: 40\r\n", "{}").status, 400);
    EXPECT_EQ(plan_with("Content-Length: 2\r\ncontent-length: 2\r\n", "{}").status, 400);

    // A continuation line is not a header of its own, nor part of the one before.
    HttpAnswer folded_host = request("X-Note: a\r\n Host: " + own + "\r\n" + token);
    EXPECT_EQ(folded_host.status, 400);
    EXPECT_EQ(error_of(folded_host), "A header line is folded onto the one before it.");
    EXPECT_EQ(request(host_ + "\tevil.example\r\n" + token).status, 400);

    // The window's own requests still pass.
    EXPECT_EQ(request(host_ + "Origin: http://" + own + "\r\n" + token).status, 200);
}

TEST_F(HostileClient, APlanOrApplyWithMoreChangesThanTheWindowSendsIsRefused) {
    auto changes = [](std::size_t count) {
        std::string body = "{\"changes\":[";
        for (std::size_t i = 0; i < count; ++i) body += i == 0 ? "{}" : ",{}";
        return body + "]}";
    };
    const std::string too_many = "A request may carry at most 1000 changes.";
    for (const char* path : {"/api/plan", "/api/apply"}) {
        HttpAnswer answer = server_.post(path, changes(1001), token_);
        EXPECT_EQ(answer.status, 400) << path;
        EXPECT_EQ(error_of(answer), too_many) << path;
    }
    // The issue's request: a whole 4 MiB of empty changes is refused at once.
    const auto started = Clock::now();
    HttpAnswer flood = server_.post("/api/plan", changes(1398000), token_);
    EXPECT_EQ(flood.status, 400);
    EXPECT_LT(Clock::now() - started, 3s);
    EXPECT_LT(flood.body.size(), 200u);

    HttpAnswer most = server_.post("/api/plan", changes(1000), token_);
    ASSERT_EQ(most.status, 200);
    EXPECT_EQ(json::get(json::parse(most.body).value(), "plans")->as_array().size(), 1000u);
    EXPECT_EQ(json::get(json::parse(server_.get("/api/history", token_).body).value(), "records")->as_array().size(),
              0u);
}

#ifdef __linux__
// Read from /proc: the CPU time the process has used so far.
std::chrono::milliseconds cpu_time_of(long pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // After the name in parentheses: the state, ten more fields, then utime and stime.
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string skipped;
    for (int i = 0; i < 11; ++i) fields >> skipped;
    long user = 0, system = 0;
    fields >> user >> system;
    return std::chrono::milliseconds((user + system) * 1000 / ::sysconf(_SC_CLK_TCK));
}

// The number the process's next descriptor will have.
int lowest_free_descriptor_of(long pid) {
    int fd = 0;
    while (::access(("/proc/" + std::to_string(pid) + "/fd/" + std::to_string(fd)).c_str(), F_OK) == 0) ++fd;
    return fd;
}

// When no descriptor is left for a new connection, the accept loop waits
// instead of spinning, the connections already open are answered, and new
// ones are served again once descriptors are free.
TEST_F(HostileClient, AcceptingWithoutDescriptorsLeftWaitsAndServesTheOpenConnections) {
    const long pid = server_.pid();
    ASSERT_NE(pid, 0);
    // Room for one more connection.
    rlimit was{};
    ASSERT_EQ(::prlimit(static_cast<pid_t>(pid), RLIMIT_NOFILE, nullptr, &was), 0);
    rlimit limit{static_cast<rlim_t>(lowest_free_descriptor_of(pid) + 1), was.rlim_max};
    ASSERT_EQ(::prlimit(static_cast<pid_t>(pid), RLIMIT_NOFILE, &limit, nullptr), 0);

    os::Socket open = connect();
    ASSERT_TRUE(open.send_all("GET /favicon.ico HTTP/1.1\r\n").has_value());
    std::this_thread::sleep_for(200ms);
    // These wait in the listener's queue: accepting them fails for now.
    std::vector<os::Socket> waiting;
    for (int i = 0; i < 3; ++i) waiting.push_back(connect());
    std::this_thread::sleep_for(200ms);

    const std::chrono::milliseconds before = cpu_time_of(pid);
    std::this_thread::sleep_for(1s);
    const std::chrono::milliseconds used = cpu_time_of(pid) - before;
    EXPECT_LT(used, 150ms) << "the accept loop spins while accepting fails";

    // The open connection is still served.
    ASSERT_TRUE(open.send_all(host_ + "\r\n").has_value());
    ASSERT_TRUE(open.set_timeouts(5s, 5s).has_value());
    char buffer[64];
    Result<std::size_t> got = open.receive(buffer, sizeof buffer);
    ASSERT_TRUE(got && *got >= 12);
    EXPECT_EQ(std::string(buffer, 12), "HTTP/1.1 404");
    open.close();

    // With descriptors free again the waiting connections are served too.
    ASSERT_EQ(::prlimit(static_cast<pid_t>(pid), RLIMIT_NOFILE, &was, nullptr), 0);
    waiting.clear();
    const auto started = Clock::now();
    EXPECT_EQ(state().status, 200);
    EXPECT_LT(Clock::now() - started, 2s);
}
#endif

}  // namespace
}  // namespace qm
