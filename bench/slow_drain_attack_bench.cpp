// The slow-drain attack on a running window server, from this computer, and
// how the window fares meanwhile. A plain program that times itself (no
// Google Benchmark loop): bench/slow_drain_attack.sh starts the server and
// runs it.
//
// Attackers, in the "drain" kind (the default): each sends a request that is
// refused (a foreign Host) announcing a body of a gigabyte, then one byte of
// it every 50 ms until the server closes the connection, and connects again
// at once. In the "head" kind: each sends no token and its head one byte
// every half second, never finishing it, and connects again once closed.
// The window: every 250 ms
// one well-formed request with the token, timed until its whole answer has
// arrived; it must be answered within a second every time.
//
// Usage: slow_drain_attack_bench PORT TOKEN [SECONDS, default 20] [ATTACKERS, default 48] [drain|head]
// Exit code 0 when every request of the window was answered within a second.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "os/sockets.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

struct AttackFigures {
    std::atomic<long> connections{0};
    std::atomic<long> refused_connects{0};
    std::atomic<long> bytes_trickled{0};
    std::mutex lock;
    std::vector<double> held_ms;  // from connecting until the server had closed
};

void attack(std::uint16_t port, Clock::time_point end, AttackFigures& figures, bool slow_head) {
    const std::string refused = "POST /api/plan HTTP/1.1\r\nHost: evil.example\r\nContent-Length: 1000000000\r\n\r\n";
    const auto pause = slow_head ? 500ms : 50ms;
    while (Clock::now() < end) {
        const auto connected = Clock::now();
        qm::Result<qm::os::Socket> socket = qm::os::connect_loopback(port);
        if (!socket || !socket->send_all(slow_head ? std::string("G") : refused)) {
            ++figures.refused_connects;
            std::this_thread::sleep_for(10ms);
            continue;
        }
        ++figures.connections;
        (void)socket->set_timeouts(1s, 1s);
        // The first byte after the server has closed still goes out; the
        // reset it brings back fails the next one.
        while (Clock::now() < end && socket->send_all("x")) {
            ++figures.bytes_trickled;
            std::this_thread::sleep_for(pause);
        }
        if (Clock::now() < end) {
            std::lock_guard<std::mutex> guard(figures.lock);
            figures.held_ms.push_back(milliseconds(Clock::now() - connected));
        }
    }
}

// One request of the window; the time until its whole answer arrived, or a
// negative number when it was not answered with 200.
double window_request(std::uint16_t port, const std::string& token) {
    const auto started = Clock::now();
    qm::Result<qm::os::Socket> socket = qm::os::connect_loopback(port);
    if (!socket) return -1;
    (void)socket->set_timeouts(5s, 5s);
    const std::string request = "GET /api/state HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nx-quillmoor-token: " + token + "\r\n\r\n";
    if (!socket->send_all(request)) return -1;
    std::string answer;
    char buffer[8192];
    while (true) {
        qm::Result<std::size_t> got = socket->receive(buffer, sizeof buffer);
        if (!got || *got == 0) break;
        answer.append(buffer, *got);
    }
    if (!answer.starts_with("HTTP/1.1 200")) return -1;
    return milliseconds(Clock::now() - started);
}

double percentile(std::vector<double> values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, static_cast<std::size_t>(share * static_cast<double>(values.size())))];
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "Usage: slow_drain_attack_bench PORT TOKEN [SECONDS] [ATTACKERS] [drain|head]\n");
        return 2;
    }
    const auto port = static_cast<std::uint16_t>(std::atoi(argv[1]));
    const std::string token = argv[2];
    const int seconds = argc > 3 ? std::atoi(argv[3]) : 20;
    const int attackers = argc > 4 ? std::atoi(argv[4]) : 48;
    const bool slow_head = argc > 5 && std::string(argv[5]) == "head";

    AttackFigures figures;
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    std::vector<std::thread> threads;
    for (int i = 0; i < attackers; ++i) threads.emplace_back([&] { attack(port, end, figures, slow_head); });

    // The attack takes hold before the window's first request.
    std::this_thread::sleep_for(500ms);
    std::vector<double> answered_ms;
    int late = 0;
    int unanswered = 0;
    while (Clock::now() + 1s < end) {
        const auto next = Clock::now() + 250ms;
        const double took = window_request(port, token);
        if (took < 0) {
            ++unanswered;
        } else {
            answered_ms.push_back(took);
            if (took > 1000) ++late;
        }
        std::this_thread::sleep_until(next);
    }
    for (std::thread& thread : threads) thread.join();

    const int requests = static_cast<int>(answered_ms.size()) + unanswered;
    std::printf("attack (%s): %d clients for %d s: %ld connections, %ld bytes trickled, %ld connects refused\n",
                slow_head ? "slow heads" : "slow drain", attackers, seconds, figures.connections.load(),
                figures.bytes_trickled.load(), figures.refused_connects.load());
    std::printf("attack: a connection was held by the server for median %.0f ms, at most %.0f ms\n",
                percentile(figures.held_ms, 0.5), percentile(figures.held_ms, 1.0));
    std::printf("window: %d requests, %d answered within 1 s, %d late, %d unanswered\n", requests,
                requests - late - unanswered, late, unanswered);
    std::printf("window: answer time median %.1f ms, 99th percentile %.1f ms, at most %.1f ms\n",
                percentile(answered_ms, 0.5), percentile(answered_ms, 0.99), percentile(answered_ms, 1.0));
    return late == 0 && unanswered == 0 && requests > 0 ? 0 : 1;
}
