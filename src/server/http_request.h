// The parts of HTTP/1.1 the window server needs: the request head parsed
// from outside bytes (never trusted, never crashing), header look-up, the
// query's `k` value, and the response writer with the fixed security headers.
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm::server {

struct RequestHead {
    std::string method;
    std::string path;   // before the first "?"
    std::string query;  // after the first "?", empty when none
    std::vector<std::pair<std::string, std::string>> headers;
    std::uint64_t content_length = 0;  // missing or malformed: 0
};

inline constexpr std::size_t max_head_bytes = 32768;

// Parses the head (without the blank line). Nothing when the first line has
// no method or target.
[[nodiscard]] std::optional<RequestHead> parse_request_head(std::string_view head);

// The first header of that name, compared without ASCII case; nothing when absent.
[[nodiscard]] std::optional<std::string> find_header(const RequestHead& head, std::string_view name);

// The value of the first query pair named `name`, or nothing.
[[nodiscard]] std::optional<std::string> query_value(std::string_view query, std::string_view name);

// A whole response: status line, content type, length, the fixed security
// headers and the content security policy (with the script nonce for the page).
[[nodiscard]] std::string http_response(int status, std::string_view content_type, std::string_view body,
                                        std::string_view script_nonce = {});

}  // namespace qm::server
