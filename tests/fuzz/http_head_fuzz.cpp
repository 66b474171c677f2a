// libFuzzer target: request heads from the network, collected in pieces as
// they arrive, their framing (Content-Length in every form, Transfer-Encoding,
// repeated and folded headers), and the API router with whatever body a
// request may carry. Either answers or refuses; never crashes, and the
// framing decisions hold whatever the bytes and however they are cut.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "platforms/demo/demo_platform.h"
#include "engine/engine_context.h"
#include "json/json.h"
#include "os/environment.h"
#include "os/files.h"
#include "server/http_request.h"
#include "server/window_server.h"
#include "util/text.h"

namespace {

using qm::server::HeadCollector;

qm::server::ServerState& fuzz_state() {
    static qm::engine::EngineContext engine(std::make_unique<qm::demo::DemoPlatform>(false),
                                            qm::model::data_folder_override(
                                                qm::os::join_path(qm::os::temp_folder(), "quillmoor-fuzz-data")));
    static qm::server::ServerState state;
    state.engine = &engine;
    return state;
}

void check(bool holds) {
    if (!holds) std::abort();
}

// The length a Content-Length value stands for, worked out another way:
// digits only, saturating at the largest 64-bit value.
std::uint64_t expected_length(std::string_view value) {
    if (value.empty()) return 0;
    unsigned __int128 total = 0;
    for (char c : value) {
        if (c < '0' || c > '9') return 0;
        total = total * 10 + static_cast<unsigned>(c - '0');
        if (total > qm::server::length_too_large) total = qm::server::length_too_large;
    }
    return static_cast<std::uint64_t>(total);
}

// Collects `input` as it would arrive in pieces of the sizes `seed` picks,
// and checks that the outcome is the same as when it arrives whole.
void check_collecting(std::string_view input, std::uint8_t seed, std::size_t limit) {
    HeadCollector whole(limit);
    whole.add(input);
    HeadCollector pieces(limit);
    std::size_t at = 0;
    std::uint32_t state = seed * 2654435761u + 1;
    while (at < input.size() && pieces.state() == HeadCollector::State::more) {
        state = state * 1103515245u + 12345u;
        const std::size_t size = 1 + (state >> 16) % 64;
        pieces.add(input.substr(at, size));
        at += size;
    }
    check(pieces.state() == whole.state());
    check(pieces.head() == whole.head());
    if (whole.state() == HeadCollector::State::complete) {
        const std::size_t end = input.find("\r\n\r\n");
        check(end != std::string_view::npos && end + 4 <= limit);
        check(whole.head() == input.substr(0, end));
        check(input.substr(end + 4).starts_with(pieces.rest()));
    }
    if (whole.state() == HeadCollector::State::too_large) {
        const std::size_t end = input.find("\r\n\r\n");
        check(end == std::string_view::npos ? input.size() >= limit : end + 4 > limit);
    }
}

// Whether a line after the first begins with white space, read from the raw bytes.
bool has_folded_line(std::string_view text) {
    for (std::size_t at = text.find("\r\n"); at != std::string_view::npos; at = text.find("\r\n", at + 2)) {
        if (at + 2 < text.size() && (text[at + 2] == ' ' || text[at + 2] == '\t')) return true;
    }
    return false;
}

void check_framing(std::string_view text, const qm::server::RequestHead& head) {
    std::size_t lengths = 0;
    std::size_t codings = 0;
    std::size_t hosts = 0;
    std::uint64_t length = 0;
    for (const auto& [name, value] : head.headers) {
        if (qm::equal_ignoring_ascii_case(name, "content-length")) {
            if (lengths++ == 0) length = expected_length(value);
        }
        if (qm::equal_ignoring_ascii_case(name, "transfer-encoding")) ++codings;
        if (qm::equal_ignoring_ascii_case(name, "host")) ++hosts;
    }
    check(head.folded_line == has_folded_line(text));
    check(head.content_length == length);
    std::optional<qm::server::HeadRefusal> refusal = qm::server::refuse_head(head, {"host", "content-length"});
    if (head.folded_line || lengths > 1 || hosts > 1) {
        check(refusal && refusal->status == 400);
    } else if (codings > 0) {
        check(refusal && refusal->status == 501);
    } else {
        check(!refusal);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    // A small limit as well, so that its edge is reached often.
    check_collecting(input, size == 0 ? 0 : data[0], qm::server::max_head_bytes);
    check_collecting(input, size == 0 ? 0 : data[size - 1], 64);

    std::optional<qm::server::RequestHead> head = qm::server::parse_request_head(input);
    if (!head) return 0;
    check_framing(input, *head);
    (void)qm::server::find_header(*head, "host");
    (void)qm::server::query_value(head->query, "k");
    // Read-only routes and planning only: nothing the fuzzer sends may change files.
    std::size_t split = input.find("\r\n\r\n");
    qm::Result<qm::json::JsonValue> body =
        qm::json::parse(split == std::string_view::npos ? std::string_view("{}") : input.substr(split + 4));
    if (!body) return 0;
    for (const char* path : {"/api/plan", "/api/scan", "/api/restore/plan"}) {
        qm::server::ApiAnswer answer = qm::server::route_api(fuzz_state(), "POST", path, *body);
        const qm::json::JsonValue* changes = qm::json::get(*body, "changes");
        const bool too_many = std::string_view(path) == "/api/plan" && changes && changes->is_array() &&
                              changes->as_array().size() > qm::server::max_changes_per_request;
        check(answer.known && (answer.status == 400) == too_many);
    }
    (void)qm::server::route_api(fuzz_state(), head->method, head->path.starts_with("/api/") ? "/api/state" : head->path,
                                *body);
    return 0;
}
