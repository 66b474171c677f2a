// The window server over real loopback sockets, started as the real program
// on the demonstration.
#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <chrono>
#include <thread>

#include "json/json.h"
#include "os/sockets.h"
#include "server/http_request.h"
#include "support/run_program.h"
#include "support/server_process.h"

namespace qm {
namespace {

using test::HttpAnswer;
using test::ServerProcess;

std::string error_of(const HttpAnswer& answer) {
    Result<json::JsonValue> body = json::parse(answer.body);
    return body ? json::get_text(*body, "error") : "(not json: " + answer.body + ")";
}

TEST(WindowServer, LinkNamesTheRealPortAndThePageCarriesItsNonce) {
    ServerProcess server;
    ASSERT_TRUE(server.started());
    EXPECT_NE(server.port(), 0u);
    EXPECT_EQ(server.link(), "http://127.0.0.1:" + std::to_string(server.port()) + "/#k=" + server.key());
    EXPECT_EQ(server.key().size(), 64u);

    HttpAnswer page = server.get("/");
    EXPECT_EQ(page.status, 200);
    std::size_t at = page.head.find("'nonce-");
    ASSERT_NE(at, std::string::npos);
    std::string nonce = page.head.substr(at + 7, 24);
    EXPECT_NE(page.body.find("nonce=\"" + nonce + "\""), std::string::npos);
    EXPECT_EQ(page.body.find("{{NONCE}}"), std::string::npos);
    for (const char* header : {"Cache-Control: no-store", "X-Content-Type-Options: nosniff", "X-Frame-Options: DENY",
                               "Referrer-Policy: no-referrer", "frame-ancestors 'none'"}) {
        EXPECT_NE(page.head.find(header), std::string::npos) << header;
    }
    EXPECT_NE(server.get("/").head.find("'nonce-" + nonce), std::string::npos - 1);  // a new nonce each time
    EXPECT_EQ(server.raw("PUT / HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.port()) + "\r\n\r\n").status,
              405);
    EXPECT_EQ(error_of(server.get("/favicon.ico")), "Not found.");
}

TEST(WindowServer, HostOriginLinkAndTokenChecks) {
    ServerProcess server;
    ASSERT_TRUE(server.started());
    const std::string port = std::to_string(server.port());
    EXPECT_EQ(error_of(server.post("/api/bootstrap", "{\"k\":\"" + std::string(64, '0') + "\"}")),
              "This link has already been used, or is wrong. Press Quit in the window that is open, or start Quillmoor "
              "again.");
    const std::string token = server.bootstrap();
    ASSERT_EQ(token.size(), 64u);
    EXPECT_EQ(server.bootstrap(), "");  // the link works once

    HttpAnswer wrong_host = server.raw("GET /api/state HTTP/1.1\r\nHost: evil.example:" + port +
                                       "\r\nx-quillmoor-token: " + token + "\r\n\r\n");
    EXPECT_EQ(wrong_host.status, 403);
    EXPECT_EQ(error_of(wrong_host), "Wrong host name.");
    EXPECT_EQ(error_of(server.raw("GET /api/state HTTP/1.1\r\nx-quillmoor-token: " + token + "\r\n\r\n")),
              "Wrong host name.");

    EXPECT_EQ(server.get("/api/state", token, "Origin: http://127.0.0.1:" + port + "\r\n").status, 200);
    EXPECT_EQ(server.get("/api/state", token, "Origin: http://localhost:" + port + "\r\n").status, 200);
    HttpAnswer other_port = server.get("/api/state", token, "Origin: http://127.0.0.1:1\r\n");
    EXPECT_EQ(other_port.status, 403);
    EXPECT_EQ(error_of(other_port), "Cross-origin requests are not allowed.");

    EXPECT_EQ(error_of(server.get("/api/state")), "Missing or wrong token.");
    EXPECT_EQ(error_of(server.get("/api/state?k=" + token)), "Missing or wrong token.");
    EXPECT_EQ(server.post("/api/bye?k=" + token, "").status, 200);
    EXPECT_EQ(server.post("/api/ping", "", token).status, 200);  // keeps it alive after the bye

    EXPECT_EQ(error_of(server.post("/api/plan", "{not json", token)), "Bad request body: expected a key at byte 1");
    EXPECT_EQ(error_of(server.post("/api/nothing", "{}", token)), "Unknown request.");
    EXPECT_EQ(error_of(server.get("/api/plan", token)), "Unknown request.");
    EXPECT_EQ(error_of(server.get("/api/bootstrap")), "Bad request.");

    // An announced body over 4 MiB is refused without being read.
    auto started = std::chrono::steady_clock::now();
    HttpAnswer huge = server.raw("POST /api/plan HTTP/1.1\r\nHost: 127.0.0.1:" + port +
                                 "\r\nx-quillmoor-token: " + token + "\r\nContent-Length: 4194305\r\n\r\n{");
    EXPECT_EQ(huge.status, 413);
    EXPECT_EQ(error_of(huge), "The request was too large or did not arrive in time.");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
}

TEST(WindowServer, TwentySimultaneousBootstrapsHaveExactlyOneWinner) {
    ServerProcess server;
    ASSERT_TRUE(server.started());
    std::atomic<int> winners{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 20; ++i) {
        threads.emplace_back([&] {
            HttpAnswer answer = server.post("/api/bootstrap", "{\"k\":\"" + server.key() + "\"}");
            if (answer.status == 200) ++winners;
            if (answer.status == 403) ++refused;
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(winners.load(), 1);
    EXPECT_EQ(refused.load(), 19);
}

TEST(WindowServer, EveryRouteAnswersWithItsShape) {
    ServerProcess server;
    ASSERT_TRUE(server.started());
    const std::string token = server.bootstrap();
    auto get_json = [&](const std::string& path) { return json::parse(server.get(path, token).body).value(); };
    auto post_json = [&](const std::string& path, const std::string& body) {
        HttpAnswer answer = server.post(path, body, token);
        EXPECT_EQ(answer.status, 200) << path << " " << answer.body;
        return json::parse(answer.body).value_or(json::JsonValue());
    };

    EXPECT_EQ(json::get_text(get_json("/api/state"), "journal"), "C:\\Users\\tamsel\\AppData\\Local\\Quillmoor");
    EXPECT_EQ(json::get(post_json("/api/scan", "{}"), "items")->as_array().size(), 26u);
    EXPECT_EQ(json::get(post_json("/api/scan", R"({"what":"running"})"), "items")->as_array().size(), 6u);
    EXPECT_EQ(json::get(post_json("/api/scan", R"({"what":"apps"})"), "items")->as_array().size(), 4u);
    EXPECT_EQ(json::write(post_json("/api/plan", R"({"changes":[]})")), R"({"plans":[]})");
    EXPECT_EQ(json::write(post_json("/api/plan", R"({"changes":{}})")), R"({"plans":[]})");

    const std::string spooler =
        R"({"changes":[{"action":"disable","id":"service|machine|Services|Spooler","ack":true}]})";
    json::JsonValue plans = post_json("/api/plan", spooler);
    EXPECT_EQ(json::get_text(json::get(plans, "plans")->as_array()[0], "name"), "Print Spooler");
    json::JsonValue applied = post_json("/api/apply", spooler);
    const json::JsonValue& result = json::get(applied, "results")->as_array()[0];
    EXPECT_TRUE(json::get_flag(result, "ok"));
    EXPECT_NE(json::get(result, "admin_needed"), nullptr);

    json::JsonValue history = get_json("/api/history");
    const json::JsonValue& record = json::get(history, "records")->as_array()[0];
    EXPECT_TRUE(json::get_flag(record, "can_undo"));
    json::JsonValue undone =
        post_json("/api/undo", "{\"seq\":" + json::write(*json::get(record, "seq")) + ",\"ack\":true}");
    EXPECT_TRUE(json::get_flag(undone, "ok")) << json::write(undone);

    json::JsonValue created = post_json("/api/backup/create", R"({"label":"test"})");
    EXPECT_TRUE(json::get_flag(created, "ok"));
    EXPECT_EQ(json::get_count(created, "count"), 26u);
    const std::string name = json::get_text(created, "name");
    json::JsonValue list = get_json("/api/backup/list");
    EXPECT_GE(json::get(list, "backups")->as_array().size(), 2u);  // with the automatic one
    json::JsonValue text = post_json("/api/backup/get", "{\"name\":\"" + name + "\"}");
    EXPECT_TRUE(json::get_text(text, "text").starts_with("{\"format\":\"quillmoor-backup\""));
    EXPECT_EQ(json::get_text(post_json("/api/backup/get", R"({"name":"../x.json"})"), "message"),
              "That is not a backup file name.");
    json::JsonValue restore = post_json("/api/restore/plan", "{\"name\":\"" + name + "\"}");
    EXPECT_TRUE(json::get_flag(restore, "ok"));
    EXPECT_EQ(json::get_count(restore, "same"), 26u);
    json::JsonValue foreign =
        post_json("/api/restore/plan",
                  R"({"text":"{\"format\":\"quillmoor-backup\",\"host\":\"ELSEWHERE\",)"
                  R"(\"items\":[{\"id\":\"run|user|HKCU\\\\Run\\\\64|Gone\",\"name\":\"Gone\",\"enabled\":true}]}"})");
    EXPECT_TRUE(json::get_flag(foreign, "wrong_machine"));
    EXPECT_EQ(json::get_text(json::get(foreign, "items")->as_array()[0], "kind"), "missing");
    EXPECT_TRUE(json::get_flag(post_json("/api/backup/delete", "{\"name\":\"" + name + "\"}"), "ok"));

    EXPECT_EQ(json::get_text(post_json("/api/elevate", ""), "message"),
              "The demonstration is already shown with administrator rights.");
    EXPECT_EQ(json::get_count(get_json("/api/knowledge"), "builtin_rules"), 516u);
    json::JsonValue refused = post_json("/api/knowledge/settings", R"({"url":"http://x","auto_check":true})");
    EXPECT_EQ(json::get_text(refused, "message"), "The update address must start with https://");
    EXPECT_FALSE(json::get_flag(get_json("/api/knowledge"), "auto_check"));
    EXPECT_TRUE(json::get_flag(post_json("/api/knowledge/settings", R"({"url":"https://x.example/k.json"})"), "ok"));
    EXPECT_EQ(json::get_text(post_json("/api/knowledge/rollback", ""), "message"),
              "There is no earlier knowledge to go back to; the built-in knowledge is already in use.");
    EXPECT_EQ(json::get_text(post_json("/api/knowledge/import", R"({"text":"{}"})"), "message"),
              "That is not a Quillmoor knowledge pack.");
    EXPECT_FALSE(json::get_flag(post_json("/api/knowledge/update", R"({"url":"http://plain"})"), "ok"));
    EXPECT_NE(json::get(get_json("/api/doctor"), "probes"), nullptr);
}

TEST(WindowServer, SlowAndMalformedHeadsNeverStopOthersBeingAnswered) {
    ServerProcess server;
    ASSERT_TRUE(server.started());
    const std::string host = "Host: 127.0.0.1:" + std::to_string(server.port()) + "\r\n";

    // A request sent one byte at a time is still answered.
    {
        Result<os::Socket> socket = os::connect_loopback(static_cast<std::uint16_t>(server.port()));
        ASSERT_TRUE(socket.has_value());
        const std::string request = "GET /favicon.ico HTTP/1.1\r\n" + host + "\r\n";
        for (char c : request) {
            ASSERT_TRUE(socket->send_all(std::string_view(&c, 1)).has_value());
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        char buffer[512];
        Result<std::size_t> got = socket->receive(buffer, sizeof buffer);
        ASSERT_TRUE(got && *got > 12);
        EXPECT_EQ(std::string(buffer, 12), "HTTP/1.1 404");
    }
    // A head over 32 KiB is closed without an answer.
    EXPECT_EQ(server.raw("GET / HTTP/1.1\r\n" + host + "X-Filler: " + std::string(40000, 'a') + "\r\n\r\n").status, 0);
    EXPECT_EQ(server.raw("NONSENSE\r\n\r\n").status, 0);

    // 200 connections that say nothing; the server answers again once they time out.
    std::vector<os::Socket> idle;
    for (int i = 0; i < 200; ++i) {
        Result<os::Socket> socket = os::connect_loopback(static_cast<std::uint16_t>(server.port()));
        if (socket) idle.push_back(std::move(*socket));
    }
    EXPECT_GE(idle.size(), 150u);
#ifdef __linux__
    // However many wait, the server never runs more than 48 connection threads
    // (plus its accept loop, watchdog and start-up knowledge check).
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    std::ifstream status("/proc/" + std::to_string(server.pid()) + "/status");
    std::string line;
    int threads = -1;
    while (std::getline(status, line)) {
        if (line.starts_with("Threads:")) threads = std::stoi(line.substr(8));
    }
    EXPECT_GT(threads, 40);
    EXPECT_LE(threads, 48 + 3);
#endif
    auto started = std::chrono::steady_clock::now();
    HttpAnswer answer;
    while (answer.status == 0 && std::chrono::steady_clock::now() - started < std::chrono::seconds(30)) {
        answer = server.get("/favicon.ico");
    }
    EXPECT_EQ(answer.status, 404);
}

TEST(WindowServer, GoodbyeWithoutAPingStopsTheServerAfterElevenSeconds) {
    ServerProcess server;
    ASSERT_TRUE(server.started());
    const std::string token = server.bootstrap();
    ASSERT_EQ(server.post("/api/ping", "", token).status, 200);
    auto bye = std::chrono::steady_clock::now();
    ASSERT_EQ(server.post("/api/bye", "", token).status, 200);
    std::this_thread::sleep_for(std::chrono::seconds(9));
    EXPECT_EQ(server.get("/favicon.ico").status, 404);  // still running
    ASSERT_TRUE(server.wait_for_exit(8));
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - bye).count();
    // The watchdog looks every 2 seconds, so the end comes 11 to 13 seconds
    // after the goodbye; the rest is room for a loaded machine.
    EXPECT_GE(seconds, 10.5);
    EXPECT_LE(seconds, 15.0);
}

TEST(WindowServer, ATakenPortIsNamedOnceWithTheSystemsReason) {
    Result<os::Socket> taken = os::listen_loopback(0);
    ASSERT_TRUE(taken.has_value()) << taken.error();
    const std::string port = std::to_string(taken->local_port().value_or(0));
    test::ProgramRun run = test::run_program({"--demo", "serve", "--no-browser", "--port", port});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "");
#ifdef _WIN32
    const std::string said = "Cannot listen on 127.0.0.1:" + port + ": ";
    EXPECT_TRUE(run.err.starts_with(said) && run.err.size() > said.size() + 2) << run.err;
    EXPECT_EQ(run.err.find("listen", said.size()), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("127.0.0.1", said.size()), std::string::npos) << run.err;
#else
    EXPECT_EQ(run.err, "Cannot listen on 127.0.0.1:" + port + ": Address already in use.\n");
#endif
}

TEST(HttpHead, ParsesLeniantlyAndNeverCrashes) {
    std::optional<server::RequestHead> head = server::parse_request_head(
        "POST /api/bye?k=abc&x=1 HTTP/1.1\r\nHOST:  127.0.0.1:5 \r\nbroken line\r\ncontent-length: 12");
    ASSERT_TRUE(head.has_value());
    EXPECT_EQ(head->path, "/api/bye");
    EXPECT_EQ(*server::find_header(*head, "Host"), "127.0.0.1:5");
    EXPECT_EQ(head->content_length, 12u);
    EXPECT_EQ(*server::query_value(head->query, "k"), "abc");
    EXPECT_FALSE(server::parse_request_head("GET").has_value());
    EXPECT_EQ(server::parse_request_head("GET / HTTP/1.1\r\nContent-Length: -5")->content_length, 0u);
    EXPECT_EQ(server::parse_request_head("GET / HTTP/1.1\r\nContent-Length: 99999999999999999999999")->content_length,
              server::length_too_large);
    const std::string sample = "GET /x?k=1 HTTP/1.1\r\nHost: a\r\nOrigin: b\xff\xfe\r\nContent-Length: 3";
    for (std::size_t cut = 0; cut <= sample.size(); ++cut) (void)server::parse_request_head(sample.substr(0, cut));
}

}  // namespace
}  // namespace qm
