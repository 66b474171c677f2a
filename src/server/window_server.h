// The window server: a small HTTP/1.1 server on 127.0.0.1 that serves the
// page and the JSON API to the user's browser. It prints a one-time link,
// exchanges that link once for an access token, refuses foreign host names
// and origins, bounds every request in size and time, and ends the process
// by itself when the window is gone. One thread per connection (at most 48);
// the changing state is held in atomics.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "platform/streams.h"
#include "engine/engine_context.h"
#include "json/json.h"

namespace qm::server {

struct ServerState {
    std::string link_key;  // 64 hex digits, shown only in the link
    std::string token;     // 64 hex digits, required on every API call but bootstrap
    std::uint16_t port = 0;
    std::int64_t started = 0;                 // milliseconds since 1970, like the two below
    std::atomic<std::int64_t> last_ping{0};   // 0 before the first ping
    std::atomic<std::int64_t> bye_at{0};      // 0 when no goodbye came
    std::atomic<bool> link_used{false};
    std::atomic<bool> window_opened{false};
    std::atomic<std::uint64_t> in_flight{0};
    EngineContext* engine = nullptr;
};

inline constexpr std::uint64_t max_connections = 48;

// Listens, prints the link, opens the browser when asked and serves until
// the process is ended by the stop rules. Returns only on failure (1).
int run_window_server(EngineContext& engine, std::uint16_t port, bool open_browser, const Streams& streams);

// One API call after the request has passed every check. `known` is false for
// a method and path the API does not have.
struct ApiAnswer {
    bool known = true;
    json::JsonValue body;
};
[[nodiscard]] ApiAnswer route_api(ServerState& state, const std::string& method, const std::string& path,
                                  const json::JsonValue& body);

}  // namespace qm::server
