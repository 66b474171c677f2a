// The parts of HTTP/1.1 the window server needs: the request head collected
// and parsed from outside bytes (never trusted, never crashing), the framing
// checks made before anything else, header look-up, the query's `k` value,
// and the response writer with the fixed security headers.
// Pure functions and a value type; thread-safe.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm::server {

// A Content-Length whose digits do not fit in 64 bits reads as this, so it
// is over every limit instead of passing as no body.
inline constexpr std::uint64_t length_too_large = std::numeric_limits<std::uint64_t>::max();

struct RequestHead {
    std::string method;
    std::string path;   // before the first "?"
    std::string query;  // after the first "?", empty when none
    std::vector<std::pair<std::string, std::string>> headers;
    std::uint64_t content_length = 0;  // missing or not all digits: 0; too long for 64 bits: length_too_large
    bool folded_line = false;          // a header line began with white space (an obsolete continuation)
};

// The most a head may take as sent, through its blank line.
inline constexpr std::size_t max_head_bytes = 32768;

// Collects a request head from the pieces in which it arrives. Looks for the
// blank line only in bytes not searched before, and refuses a head that is
// over `limit` bytes as sent, however the pieces fall.
class HeadCollector {
public:
    enum class State { more, complete, too_large };

    explicit HeadCollector(std::size_t limit = max_head_bytes) : limit_(limit) {}

    // Adds the next piece; once complete or too large, later pieces are ignored.
    State add(std::string_view piece);

    [[nodiscard]] State state() const { return state_; }
    // The head without its blank line, once complete.
    [[nodiscard]] std::string_view head() const;
    // What arrived after the blank line: the start of the body.
    [[nodiscard]] std::string_view rest() const;

private:
    std::size_t limit_;
    std::string received_;
    std::size_t head_end_ = 0;  // just after the blank line, once complete
    State state_ = State::more;
};

// Parses the head (without the blank line). Nothing when the first line has
// no method or target.
[[nodiscard]] std::optional<RequestHead> parse_request_head(std::string_view head);

// The first header of that name, compared without ASCII case; nothing when absent.
[[nodiscard]] std::optional<std::string> find_header(const RequestHead& head, std::string_view name);

// How many headers of that name the head has, compared without ASCII case.
[[nodiscard]] std::size_t count_headers(const RequestHead& head, std::string_view name);

// Why a head cannot be served as it stands, found before any of its values is
// looked at: a folded line or a repeated header of `single_headers` (400),
// any Transfer-Encoding (501, as the body's length is then unknown).
struct HeadRefusal {
    int status = 400;
    std::string message;
};
[[nodiscard]] std::optional<HeadRefusal> refuse_head(const RequestHead& head,
                                                     std::initializer_list<std::string_view> single_headers);

// The value of the first query pair named `name`, or nothing.
[[nodiscard]] std::optional<std::string> query_value(std::string_view query, std::string_view name);

// A whole response: status line, content type, length, the fixed security
// headers and the content security policy (with the script nonce for the page).
[[nodiscard]] std::string http_response(int status, std::string_view content_type, std::string_view body,
                                        std::string_view script_nonce = {});

}  // namespace qm::server
