#include <chrono>

#include <gtest/gtest.h>

#include "os/sockets.h"

namespace qm::os {
namespace {

using namespace std::chrono_literals;

struct Connection {
    Socket listener;
    Socket client;
    Socket server;
};

Connection connect_pair() {
    Connection pair;
    auto listener = listen_loopback(0);
    EXPECT_TRUE(listener.has_value()) << listener.error();
    if (!listener) return pair;
    pair.listener = std::move(*listener);
    auto port = pair.listener.local_port();
    EXPECT_TRUE(port.has_value());
    auto client = connect_loopback(port.value_or(0));
    EXPECT_TRUE(client.has_value()) << client.error();
    if (!client) return pair;
    pair.client = std::move(*client);
    auto server = pair.listener.accept_one();
    EXPECT_TRUE(server.has_value()) << server.error();
    if (server) pair.server = std::move(*server);
    return pair;
}

// Reads until `size` bytes have arrived, the peer closes, or a failure.
std::string receive_bytes(Socket& socket, std::size_t size) {
    std::string received;
    char buffer[4096];
    while (received.size() < size) {
        auto n = socket.receive(buffer, sizeof buffer);
        if (!n || *n == 0) break;
        received.append(buffer, *n);
    }
    return received;
}

TEST(LoopbackSockets, ExchangeBytesBothWays) {
    Connection pair = connect_pair();
    ASSERT_TRUE(pair.server.valid());
    EXPECT_NE(pair.listener.local_port().value_or(0), 0);
    ASSERT_TRUE(pair.client.set_timeouts(5s, 5s).has_value());
    ASSERT_TRUE(pair.server.set_timeouts(5s, 5s).has_value());

    std::string request = "GET / HTTP/1.1\r\n\r\n";
    ASSERT_TRUE(pair.client.send_all(request).has_value());
    EXPECT_EQ(receive_bytes(pair.server, request.size()), request);

    std::string reply(300000, 'r');
    ASSERT_TRUE(pair.server.send_all(reply).has_value());
    EXPECT_EQ(receive_bytes(pair.client, reply.size()), reply);

    // After the client ends sending, the server reads the end of the stream
    // but can still answer.
    pair.client.shutdown_send();
    char byte = 0;
    EXPECT_EQ(pair.server.receive(&byte, 1).value_or(99), 0u);
    ASSERT_TRUE(pair.server.send_all("late").has_value());
    EXPECT_EQ(receive_bytes(pair.client, 4), "late");

    pair.server.close();
    EXPECT_EQ(pair.client.receive(&byte, 1).value_or(99), 0u) << "the peer's close reads as 0";
}

TEST(LoopbackSockets, ReceiveTimeoutExpiresWithAnError) {
    Connection pair = connect_pair();
    ASSERT_TRUE(pair.server.valid());
    ASSERT_TRUE(pair.server.set_timeouts(200ms, 200ms).has_value());
    char buffer[16];
    auto start = std::chrono::steady_clock::now();
    auto received = pair.server.receive(buffer, sizeof buffer);
    auto elapsed = std::chrono::steady_clock::now() - start;
    ASSERT_FALSE(received.has_value());
    EXPECT_FALSE(received.error().message.empty());
    EXPECT_GE(elapsed, 150ms);
    EXPECT_LT(elapsed, 5s);
}

TEST(LoopbackSockets, SendingToAClosedPeerFailsWithoutEndingTheProcess) {
    Connection pair = connect_pair();
    ASSERT_TRUE(pair.server.valid());
    pair.server.close();
    ASSERT_TRUE(pair.client.set_timeouts(2s, 2s).has_value());
    std::string block(65536, 'x');
    bool failed = false;
    for (int i = 0; i < 200 && !failed; ++i) failed = !pair.client.send_all(block).has_value();
    EXPECT_TRUE(failed);
}

TEST(LoopbackSockets, ReplacingASocketClosesTheOldOne) {
    auto first = listen_loopback(0);
    ASSERT_TRUE(first.has_value()) << first.error();
    std::uint16_t port = first->local_port().value_or(0);
    ASSERT_NE(port, 0);
    auto second = listen_loopback(0);
    ASSERT_TRUE(second.has_value()) << second.error();
    *first = std::move(*second);
    EXPECT_FALSE(second->valid());
    EXPECT_NE(first->local_port().value_or(port), port);
    EXPECT_FALSE(connect_loopback(port).has_value()) << "the old listener must be closed";

    // Its port is free again for a new listener.
    auto again = listen_loopback(port);
    EXPECT_TRUE(again.has_value()) << (again ? "" : again.error().message);
}

}  // namespace
}  // namespace qm::os
