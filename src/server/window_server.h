// The window server: a small HTTP/1.1 server on 127.0.0.1 that serves the
// page and the JSON API to the user's browser. It prints a one-time link,
// exchanges that link once for an access token, refuses foreign host names
// and origins, bounds every request in size and time, and ends the process
// by itself when the window is gone. One thread per connection (at most 48,
// of which at most 16 read away the rest of a body after the answer); a
// connection that has not sent its whole head within three seconds is
// closed, and so is the longest-waiting one when a new connection finds
// every slot taken. The browser is opened on a page only this user can read,
// which forwards it to the link, so that the link's key is never on a
// command line or in a child's environment. The changing state is held in
// atomics.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "os/sockets.h"
#include "os/streams.h"
#include "engine/engine_context.h"
#include "json/json.h"
#include "server/window_watch.h"

namespace qm::server {

// The connections still waiting for a whole request head. When every slot
// is taken, the one that has waited longest is closed to make room, so peers
// that send their heads a byte at a time cannot keep the window's own
// requests out: those send theirs at once and are through in a moment.
class HeadWaiters {
public:
    // Registers a connection's socket; the number identifies it.
    std::uint64_t add(os::Socket& socket);
    // Before the socket is used for anything but reading its head, or closed.
    // false when close_oldest chose it meanwhile: its slot was given away.
    bool remove(std::uint64_t id);
    // Ends the reading of the longest-waiting head (a receive waiting on it
    // returns, where the system wakes it, or at its deadline) and takes it
    // off the list; false when none waits.
    bool close_oldest();

private:
    std::mutex lock_;
    std::uint64_t next_ = 1;
    std::vector<std::pair<std::uint64_t, os::Socket*>> waiting_;  // oldest first; guarded by lock_
};

struct ServerState {
    std::string link_key;  // 64 hex digits, shown only in the link
    std::string token;     // 64 hex digits, required on every API call but bootstrap
    std::uint16_t port = 0;
    std::int64_t started = 0;                // milliseconds since 1970, like the two below
    std::atomic<std::int64_t> last_ping{0};  // 0 before the first ping
    std::atomic<std::int64_t> bye_at{0};     // 0 when no goodbye came
    std::atomic<bool> link_used{false};
    std::atomic<bool> window_opened{false};
    std::atomic<std::uint64_t> in_flight{0};  // connections accepted and not yet closed
    std::atomic<std::uint64_t> draining{0};   // of those, answered ones reading away the rest of a body
    // Connections closed to make room, whose threads have not ended yet; they
    // no longer count in in_flight, and at most max_connections of them are.
    std::atomic<std::uint64_t> closing{0};
    engine::EngineContext* engine = nullptr;
    // The page that forwards the browser to the link, removed once the link is used.
    std::string opener_file;
    HeadWaiters head_waiters;
    // Running only while the window's switch "Watch for changes" is on.
    WindowWatch watch;
};

inline constexpr std::uint64_t max_connections = 48;
inline constexpr std::uint64_t max_draining = 16;

// How long and how much one connection may take. Every wait is bounded both
// per read and as a whole, so no peer can hold a thread for longer.
struct ConnectionLimits {
    std::chrono::milliseconds receive_wait{5000};  // one read, or one piece of the answer
    std::chrono::milliseconds head_time{3000};     // the whole head
    std::chrono::milliseconds body_time{30000};    // the whole body
    std::chrono::milliseconds answer_time{30000};  // sending the whole answer
    std::chrono::milliseconds drain_wait{150};     // one read while draining
    std::chrono::milliseconds drain_time{1000};    // the whole drain
    std::uint64_t drain_bytes = 4194304;           // the most a drain reads
};

// Serves one accepted connection to its end: reads one request, checks and
// answers it, reads away what is left of a body the answer did not need
// (unless `max_draining` connections are doing so already), and closes it.
// The caller has counted the connection in `state.in_flight`; it is
// subtracted again once the connection is closed.
void serve_connection(os::Socket socket, ServerState& state, const ConnectionLimits& limits = {});

// Listens, prints the link, opens the browser when asked and serves until
// the process is ended by the stop rules. Returns only on failure (1).
int run_window_server(engine::EngineContext& engine, std::uint16_t port, bool open_browser, const os::Streams& streams);

// One API call after the request has passed every check. `known` is false for
// a method and path the API does not have; a request the API refuses as a
// whole has a status of 400 or more and the sentence in `error`.
struct ApiAnswer {
    bool known = true;
    json::JsonValue body;
    int status = 200;
    std::string error;
};

// The most changes one plan or apply request may carry. The window sends one
// per item it lists, a few hundred at most.
inline constexpr std::size_t max_changes_per_request = 1000;
[[nodiscard]] ApiAnswer route_api(ServerState& state, const std::string& method, const std::string& path,
                                  const json::JsonValue& body);

}  // namespace qm::server
