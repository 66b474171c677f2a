// libFuzzer target: request heads from the network, and the API router with
// whatever body a request may carry. Either answers or refuses; never crashes.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

#include "demo/demo_platform.h"
#include "engine/engine_context.h"
#include "json/json.h"
#include "platform/environment.h"
#include "platform/files.h"
#include "server/http_request.h"
#include "server/window_server.h"

namespace {

qm::server::ServerState& fuzz_state() {
    static qm::EngineContext engine(std::make_unique<qm::DemoPlatform>(false),
                                    qm::data_folder_override(qm::os::join_path(qm::os::temp_folder(), "quillmoor-fuzz-data")));
    static qm::server::ServerState state;
    state.engine = &engine;
    return state;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::optional<qm::server::RequestHead> head = qm::server::parse_request_head(input);
    if (!head) return 0;
    (void)qm::server::find_header(*head, "host");
    (void)qm::server::query_value(head->query, "k");
    // Read-only routes and planning only: nothing the fuzzer sends may change files.
    std::size_t split = input.find("\r\n\r\n");
    qm::Result<qm::json::JsonValue> body =
        qm::json::parse(split == std::string_view::npos ? std::string_view("{}") : input.substr(split + 4));
    if (!body) return 0;
    for (const char* path : {"/api/plan", "/api/scan", "/api/restore/plan"}) {
        (void)qm::server::route_api(fuzz_state(), "POST", path, *body);
    }
    (void)qm::server::route_api(fuzz_state(), head->method, head->path.starts_with("/api/") ? "/api/state" : head->path, *body);
    return 0;
}
