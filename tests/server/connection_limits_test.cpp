// One connection of the window server served in this process over a real
// loopback socket, with limits small enough to reach within a test.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "os/sockets.h"
#include "server/window_server.h"
#include "support/demo_engine.h"

namespace qm {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class ConnectionLimitsTest : public test::DemoEngineTest {
protected:
    ConnectionLimitsTest() : DemoEngineTest("connection-limits") {}

    void SetUp() override {
        DemoEngineTest::SetUp();
        Result<os::Socket> listening = os::listen_loopback(0);
        ASSERT_TRUE(listening.has_value()) << listening.error();
        listener_ = std::move(*listening);
        state_.port = listener_.local_port().value_or(0);
        state_.token = std::string(64, '7');
        state_.engine = &engine();
    }

    void TearDown() override {
        if (server_.joinable()) server_.join();
        DemoEngineTest::TearDown();
    }

    // Accepts the next connection and serves it with `limits` on a thread of
    // its own; `served_` turns true once the connection has been closed.
    void serve_next(server::ConnectionLimits limits) {
        server_ = std::thread([this, limits] {
            Result<os::Socket> accepted = listener_.accept_one();
            if (!accepted) return;
            state_.in_flight.fetch_add(1);
            server::serve_connection(std::move(*accepted), state_, limits);
            served_.store(true);
        });
    }

    [[nodiscard]] os::Socket connect() const {
        Result<os::Socket> socket = os::connect_loopback(state_.port);
        EXPECT_TRUE(socket.has_value());
        return socket ? std::move(*socket) : os::Socket();
    }

    // A plan request of 1000 changes whose ids make its answer several megabytes.
    [[nodiscard]] std::string large_plan_request() const {
        std::string body = "{\"changes\":[";
        for (int i = 0; i < 1000; ++i)
            body += (i ? ",{\"id\":\"" : "{\"id\":\"") + std::string(4000, 'a' + i % 26) + "\"}";
        body += "]}";
        return "POST /api/plan HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(state_.port) +
               "\r\nx-quillmoor-token: " + state_.token + "\r\nContent-Length: " + std::to_string(body.size()) +
               "\r\n\r\n" + body;
    }

    static std::string read_all(os::Socket& socket) {
        std::string received;
        char buffer[65536];
        while (true) {
            Result<std::size_t> got = socket.receive(buffer, sizeof buffer);
            if (!got || *got == 0) return received;
            received.append(buffer, *got);
        }
    }

    static std::size_t declared_length(const std::string& response) {
        const std::size_t at = response.find("Content-Length: ");
        return at == std::string::npos ? 0 : std::stoul(response.substr(at + 16));
    }

    os::Socket listener_;
    server::ServerState state_;
    std::thread server_;
    std::atomic<bool> served_{false};
};

// The send limit holds for the whole answer, not for each piece of it: a peer
// that reads slowly, or never, keeps the connection only for the answer's
// time; one that stops reading, only for as long as a read may wait. A peer
// that reads gets the whole answer, however many pieces it took.
TEST_F(ConnectionLimitsTest, AnAnswerReadSlowlyOrNeverEndsInTime) {
    enum class Reading { all, slowly, never };
    const struct {
        const char* peer;
        Reading reading;
        std::chrono::milliseconds answer_time;
        std::chrono::milliseconds receive_wait;
    } cases[] = {
        {"reads everything, the server's own limits", Reading::all, 30s, 5s},
        {"never reads, 0.6 s for the answer", Reading::never, 600ms, 5s},
        {"reads 64 KiB every 50 ms, 0.6 s for the answer", Reading::slowly, 600ms, 5s},
        {"never reads, 0.5 s for each read", Reading::never, 30s, 500ms},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.peer);
        server::ConnectionLimits limits;
        limits.answer_time = c.answer_time;
        limits.receive_wait = c.receive_wait;
        served_.store(false);
        serve_next(limits);
        os::Socket client = connect();
        ASSERT_TRUE(client.set_timeouts(10s, 10s).has_value());
        ASSERT_TRUE(client.send_all(large_plan_request()).has_value());
        const auto sent = Clock::now();
        std::string response;
        char buffer[65536];
        while (!served_.load() && Clock::now() - sent < 8s) {
            if (c.reading == Reading::all) response += read_all(client);
            std::this_thread::sleep_for(50ms);
            if (c.reading != Reading::slowly) continue;
            Result<std::size_t> got = client.receive(buffer, sizeof buffer);
            if (got && *got > 0) response.append(buffer, *got);
        }
        EXPECT_TRUE(served_.load());
        EXPECT_LT(Clock::now() - sent, 4s);
        EXPECT_EQ(state_.in_flight.load(), 0u);
        server_.join();

        response += read_all(client);
        const std::size_t head = response.find("\r\n\r\n");
        ASSERT_NE(head, std::string::npos);
        EXPECT_EQ(response.substr(0, 12), "HTTP/1.1 200");
        EXPECT_GT(declared_length(response), 4000000u);
        if (c.reading == Reading::all) {
            EXPECT_EQ(response.size() - head - 4, declared_length(response));
        } else {
            EXPECT_LT(response.size() - head - 4, declared_length(response));  // what was given up never arrives
        }
    }
}

}  // namespace
}  // namespace qm
