#include "server/window_server.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "embedded.h"
#include "os/console.h"
#include "os/detached_thread.h"
#include "os/environment.h"
#include "os/files.h"
#include "os/new_file.h"
#include "os/sockets.h"
#include "server/http_request.h"
#include "util/build_info.h"
#include "os/random_hex.h"
#include "util/text.h"
#include "util/time_text.h"

namespace qm::server {

namespace {

using namespace std::chrono_literals;

constexpr std::size_t bootstrap_body_limit = 4096;
constexpr std::size_t body_limit = 4194304;
constexpr std::string_view json_type = "application/json; charset=utf-8";
constexpr std::string_view spent_link =
    "This link has already been used, or is wrong. Press Quit in the window that is open, or start Quillmoor again.";

// Ends the process without running static destructors while other threads
// may still be answering requests; the work registered for the end of the run
// (such as removing the demonstration's folder) is done first.
[[noreturn]] void end_process() { os::end_program_now(0); }

std::string error_body(std::string_view message) {
    json::JsonValue body = json::ObjectBuilder().flag("ok", false).string("error", std::string(message)).done();
    return json::write(body);
}

struct Connection {
    os::Socket socket;
    const ConnectionLimits* limits = nullptr;
    RequestHead head;
    std::string body;  // what has arrived after the head so far
    bool body_done = false;
    bool length_known = true;  // false when the head's framing was refused
    bool closed_for_room = false;  // its slot went to a newer connection (HeadWaiters)
};

// Reads until the blank line; false means: close without an answer. No
// read waits past the head's deadline, so a peer that sends a byte now and
// then, or nothing, is closed when the head's time is up.
bool read_head(Connection& c) {
    const auto deadline = std::chrono::steady_clock::now() + c.limits->head_time;
    HeadCollector collector;
    char buffer[4096];
    while (collector.state() == HeadCollector::State::more) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) return false;
        const std::chrono::milliseconds wait = std::min(left, c.limits->receive_wait);
        if (!c.socket.set_timeouts(wait, c.limits->receive_wait)) return false;
        Result<std::size_t> got = c.socket.receive(buffer, sizeof buffer);
        if (!got || *got == 0) return false;
        collector.add(std::string_view(buffer, *got));
    }
    (void)c.socket.set_timeouts(c.limits->receive_wait, c.limits->receive_wait);
    if (collector.state() == HeadCollector::State::too_large) return false;
    std::optional<RequestHead> head = parse_request_head(collector.head());
    if (!head) return false;
    c.head = std::move(*head);
    c.body = collector.rest();
    return true;
}

// Reads the declared body within `limit` bytes and the body's time.
bool read_body(Connection& c, std::size_t limit) {
    if (c.head.content_length > limit) return false;
    const auto deadline = std::chrono::steady_clock::now() + c.limits->body_time;
    char buffer[8192];
    while (c.body.size() < c.head.content_length) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        Result<std::size_t> got = c.socket.receive(buffer, sizeof buffer);
        if (!got || *got == 0) return false;
        c.body.append(buffer, *got);
    }
    c.body.resize(static_cast<std::size_t>(c.head.content_length));
    c.body_done = true;
    return true;
}

// Sends the whole answer within the answer's time. It goes in pieces, each
// allowed to wait no longer than one read may (the socket's limit from the
// start) nor than the time that is left, so a peer that reads slowly or not
// at all cannot stretch the answer past that time: a piece that the limit
// cuts short can wait once more inside send_all, but only for so long. Most
// answers are one piece and never touch the socket's limits.
void send(Connection& c, std::string_view response) {
    constexpr std::size_t piece = 65536;
    const auto deadline = std::chrono::steady_clock::now() + c.limits->answer_time;
    while (!response.empty()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left <= 0ms) return;
        if (left < c.limits->receive_wait && !c.socket.set_timeouts(c.limits->receive_wait, left)) return;
        const std::string_view part = response.substr(0, piece);
        if (!c.socket.send_all(part)) return;
        response.remove_prefix(part.size());
    }
}

bool drain_needed(const Connection& c) {
    return !c.body_done && (!c.length_known || c.body.size() < c.head.content_length);
}

// After an answer the rest of a declared body is read away, so the browser
// sees the answer rather than a reset connection. Bounded in bytes and in
// time as a whole, as a peer may announce any length and send it one byte at
// a time; where the length is unknown, it reads until the peer closes.
void drain(Connection& c) {
    (void)c.socket.set_timeouts(c.limits->drain_wait, c.limits->drain_wait);
    const auto deadline = std::chrono::steady_clock::now() + c.limits->drain_time;
    std::uint64_t left = c.length_known ? c.head.content_length - c.body.size() : length_too_large;
    left = std::min(left, c.limits->drain_bytes);
    char buffer[4096];
    while (left > 0 && std::chrono::steady_clock::now() < deadline) {
        Result<std::size_t> got =
            c.socket.receive(buffer, static_cast<std::size_t>(std::min<std::uint64_t>(left, sizeof buffer)));
        if (!got || *got == 0) return;
        left -= *got;
    }
}

void answer_error(Connection& c, int status, std::string_view message) {
    send(c, http_response(status, json_type, error_body(message)));
}

void answer_json(Connection& c, const json::JsonValue& body) {
    send(c, http_response(200, json_type, json::write(body)));
}

void handle(Connection& c, ServerState& state) {
    const std::uint64_t waiter = state.head_waiters.add(c.socket);
    const bool head_read = read_head(c);
    c.closed_for_room = !state.head_waiters.remove(waiter);
    if (!head_read || c.closed_for_room) return;
    const RequestHead& head = c.head;
    const std::string port = std::to_string(state.port);

    if (std::optional<HeadRefusal> refusal =
            refuse_head(head, {"host", "content-length", "origin", "x-quillmoor-token"})) {
        // Where the body ends is not known for certain, so nothing of it is trusted.
        c.length_known = false;
        return answer_error(c, refusal->status, refusal->message);
    }

    std::optional<std::string> host = find_header(head, "host");
    if (!host || (*host != "127.0.0.1:" + port && *host != "localhost:" + port)) {
        return answer_error(c, 403, "Wrong host name.");
    }
    std::optional<std::string> origin = find_header(head, "origin");
    if (origin && !origin->empty() && *origin != "http://127.0.0.1:" + port && *origin != "http://localhost:" + port) {
        return answer_error(c, 403, "Cross-origin requests are not allowed.");
    }

    if (head.path == "/" || head.path == "/index.html") {
        if (head.method != "GET") return answer_error(c, 405, "GET only.");
        std::optional<std::string> nonce = os::random_hex(12);
        if (!nonce) return answer_error(c, 500, "No random numbers.");
        std::string page(embedded::page_html());
        for (std::size_t at = page.find("{{NONCE}}"); at != std::string::npos; at = page.find("{{NONCE}}", at)) {
            page.replace(at, 9, *nonce);
            at += nonce->size();
        }
        return send(c, http_response(200, "text/html; charset=utf-8", page, *nonce));
    }
    if (!head.path.starts_with("/api/")) return answer_error(c, 404, "Not found.");

    if (head.path == "/api/bootstrap") {
        if (head.method != "POST" || !read_body(c, bootstrap_body_limit)) return answer_error(c, 400, "Bad request.");
        Result<json::JsonValue> body = json::parse(c.body);
        const std::string key = body ? json::get_text(*body, "k") : std::string();
        if (!equal_fixed_time(key, state.link_key) || state.link_used.exchange(true)) {
            return answer_error(c, 403, spent_link);
        }
        // The forwarding page has done its work and holds a spent key.
        if (!state.opener_file.empty()) (void)os::remove_file(state.opener_file);
        json::JsonValue answer = json::ObjectBuilder().flag("ok", true).string("token", state.token).done();
        return answer_json(c, answer);
    }

    std::optional<std::string> token = find_header(head, "x-quillmoor-token");
    bool allowed = token && equal_fixed_time(*token, state.token);
    if (!allowed && head.path == "/api/bye") {
        std::optional<std::string> from_query = query_value(head.query, "k");
        allowed = from_query && equal_fixed_time(*from_query, state.token);
    }
    if (!allowed) return answer_error(c, 403, "Missing or wrong token.");

    json::JsonValue body = json::JsonValue::object();
    if (head.method == "POST") {
        if (!read_body(c, body_limit))
            return answer_error(c, 413, "The request was too large or did not arrive in time.");
        if (!c.body.empty() && head.path != "/api/bye") {
            Result<json::JsonValue> parsed = json::parse(c.body);
            if (!parsed) return answer_error(c, 400, "Bad request body: " + parsed.error().message);
            body = std::move(*parsed);
        }
    }

    ApiAnswer answer = route_api(state, head.method, head.path, body);
    if (!answer.known) return answer_error(c, 404, "Unknown request.");
    if (answer.status >= 400) return answer_error(c, answer.status, answer.error);
    answer_json(c, answer.body);
    if (head.method == "POST" && head.path == "/api/quit") {
        c.socket.shutdown_send();
        // Without a thread to wait on, the process ends at once; the answer
        // has gone out already.
        if (!os::start_detached_thread([] {
                std::this_thread::sleep_for(400ms);
                end_process();
            })) {
            end_process();
        }
    }
}

void watchdog(ServerState& state, const os::Streams& streams) {
    while (true) {
        std::this_thread::sleep_for(2s);
        // Milliseconds, so that a reloaded page's first ping in the same second
        // as the old page's goodbye still counts as coming after it.
        const std::int64_t t = now_unix_millis();
        const std::int64_t bye = state.bye_at.load();
        const std::int64_t ping = state.last_ping.load();
        if (bye != 0 && ping <= bye && t - bye >= 11000) end_process();
        if (state.window_opened.load() && t - ping > 600000) end_process();
        if (!state.window_opened.load() && t - state.started > 900000) {
            streams.err("No window was opened in 15 minutes; stopping.\n");
            end_process();
        }
    }
}

// A page that sends the browser on to the link at once. The link is made of
// the loopback address, a port and hex digits, so it needs no escaping.
std::string forwarding_page(const std::string& link) {
    return "<!doctype html>\n<html><head><meta charset=\"utf-8\"><meta name=\"referrer\" content=\"no-referrer\">"
           "<meta http-equiv=\"refresh\" content=\"0;url=" +
           link + "\"><title>Quillmoor</title></head>\n<body><script>location.replace(\"" + link +
           "\");</script><p><a href=\"" + link + "\">Open Quillmoor</a></p></body></html>\n";
}

// Writes the forwarding page, readable by this user only, into the
// temporary folder; its path, or nothing when it could not be written.
std::optional<std::string> write_forwarding_page(const std::string& link) {
    std::optional<std::string> noise = os::random_hex(8);
    if (!noise) return std::nullopt;
    const std::string path = os::join_path(os::temp_folder(), "quillmoor-window-" + *noise + ".html");
    if (!os::write_private_file(path, forwarding_page(link))) return std::nullopt;
    os::give_to_invoking_user(path);
    return path;
}

}  // namespace

std::uint64_t HeadWaiters::add(os::Socket& socket) {
    std::lock_guard held(lock_);
    const std::uint64_t id = next_++;
    waiting_.emplace_back(id, &socket);
    return id;
}

bool HeadWaiters::remove(std::uint64_t id) {
    std::lock_guard held(lock_);
    return std::erase_if(waiting_, [id](const auto& entry) { return entry.first == id; }) > 0;
}

bool HeadWaiters::close_oldest() {
    std::lock_guard held(lock_);
    if (waiting_.empty()) return false;
    // Under the lock, so its owner cannot close the socket meanwhile: it
    // removes itself first, which waits for this.
    waiting_.front().second->shutdown_both();
    waiting_.erase(waiting_.begin());
    return true;
}

int run_window_server(engine::EngineContext& engine, std::uint16_t port, bool open_browser,
                      const os::Streams& streams) {
    Result<os::Socket> listener = os::listen_loopback(port);
    if (!listener) {
        // The seam's sentence names the address too; it is said once, with the system's reason.
        const std::string where = "127.0.0.1:" + std::to_string(port);
        std::string reason = listener.error().message;
        if (const std::string named = "Could not listen on " + where + ": "; reason.starts_with(named)) {
            reason.erase(0, named.size());
        }
        streams.err("Cannot listen on " + where + ": " + reason + "\n");
        return 1;
    }
    Result<std::uint16_t> bound = listener->local_port();
    std::optional<std::string> key = os::random_hex(32);
    std::optional<std::string> token = os::random_hex(32);
    if (!key || !token) {
        streams.err(
            "The operating system could not provide random numbers, so the window cannot be made safe. Nothing was "
            "started.\n");
        return 1;
    }
    // The state lives until the process ends; threads never outlive it.
    static ServerState state;
    state.link_key = *key;
    state.token = *token;
    state.port = bound ? *bound : port;
    state.started = now_unix_millis();
    state.engine = &engine;

    const bool demo = engine.demo();
    // Without the watchdog nothing would end a server whose window is gone.
    (void)os::start_detached_thread([&engine, demo] { engine.knowledge().automatic_check(demo); });
    if (Result<void> started = os::start_detached_thread([&streams] { watchdog(state, streams); }); !started) {
        streams.err(started.error().message + " Nothing was started.\n");
        return 1;
    }

    const std::string link = "http://127.0.0.1:" + std::to_string(state.port) + "/#k=" + state.link_key;
    streams.out("Quillmoor " + std::string(build::version) + " is running. Its window is at:\n  " + link +
                "\nThe link works once: it opens the window and is then useless. Close the browser tab, or press "
                "Ctrl+C here, to stop it.\n");
    // The browser is handed the path of a page only this user can read, never
    // the link itself: a command line is there for every local user to read.
    std::optional<os::EndOfRunTask> opener_removal;
    if (open_browser) {
        if (std::optional<std::string> opener = write_forwarding_page(link)) {
            state.opener_file = *opener;
            opener_removal.emplace([path = *opener] { (void)os::remove_file(path); });
            engine.platform().open_in_browser(*opener);
        }
    }

    // Accepting fails again at once for as long as its cause lasts (no
    // descriptor or memory left), so each failure in a row waits longer, up to
    // half a second; the connections already open go on on their own threads.
    std::chrono::milliseconds pause = 0ms;
    while (true) {
        Result<os::Socket> accepted = listener->accept_one();
        if (!accepted) {
            pause = std::clamp(pause * 2, 10ms, 500ms);
            std::this_thread::sleep_for(pause);
            continue;
        }
        pause = 0ms;
        if (state.in_flight.fetch_add(1) >= max_connections) {
            state.in_flight.fetch_sub(1);
            // Room is made by closing the connection that has waited longest
            // for its head; its slot passes to this one at once, while its
            // thread ends on its own (at the latest at its head's deadline).
            if (state.closing.fetch_add(1) >= max_connections || !state.head_waiters.close_oldest()) {
                state.closing.fetch_sub(1);
                accepted->close();
                continue;
            }
            // The closed connection's count in in_flight is now this one's.
        }
        // A std::function must be copyable, so the socket travels in a shared
        // holder; it is moved out once, on the connection's own thread.
        auto socket = std::make_shared<os::Socket>(std::move(*accepted));
        if (!os::start_detached_thread([socket] { serve_connection(std::move(*socket), state); })) {
            // No thread could be started: the connection is closed unanswered.
            state.in_flight.fetch_sub(1);
        }
    }
}

void serve_connection(os::Socket socket, ServerState& state, const ConnectionLimits& limits) {
    Connection connection;
    connection.socket = std::move(socket);
    connection.limits = &limits;
    (void)connection.socket.set_timeouts(limits.receive_wait, limits.receive_wait);
    handle(connection, state);
    // Reading away the rest of a body is a courtesy to the browser. It is
    // skipped when too many connections are draining already, so peers that
    // announce bodies they never finish cannot take every connection slot.
    if (drain_needed(connection)) {
        if (state.draining.fetch_add(1) < max_draining) drain(connection);
        state.draining.fetch_sub(1);
    }
    connection.socket.close();
    if (connection.closed_for_room) state.closing.fetch_sub(1);
    else state.in_flight.fetch_sub(1);
}

}  // namespace qm::server
