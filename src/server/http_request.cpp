#include "server/http_request.h"

#include "util/text.h"

namespace qm::server {

namespace {

// Decimal digits only; anything else counts as no length. A number too
// large for 64 bits is length_too_large, never a wrapped or empty length.
std::uint64_t parse_length(std::string_view text) {
    if (text.empty()) return 0;
    std::uint64_t value = 0;
    bool overflow = false;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (length_too_large - digit) / 10) overflow = true;
        if (!overflow) value = value * 10 + digit;
    }
    return overflow ? length_too_large : value;
}

std::string_view reason_phrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 405:
            return "Method Not Allowed";
        case 413:
            return "Payload Too Large";
        case 501:
            return "Not Implemented";
        default:
            return "Internal Server Error";
    }
}

}  // namespace

HeadCollector::State HeadCollector::add(std::string_view piece) {
    if (state_ != State::more) return state_;
    // The blank line may straddle two pieces, so the search starts three
    // bytes before the new ones.
    const std::size_t from = received_.size() < 3 ? 0 : received_.size() - 3;
    received_.append(piece);
    const std::size_t blank = received_.find("\r\n\r\n", from);
    if (blank != std::string::npos) {
        head_end_ = blank + 4;
        state_ = head_end_ > limit_ ? State::too_large : State::complete;
    } else if (received_.size() >= limit_) {
        // Even a blank line in the next byte would end the head past the limit.
        state_ = State::too_large;
    }
    return state_;
}

std::string_view HeadCollector::head() const {
    if (state_ != State::complete) return {};
    return std::string_view(received_).substr(0, head_end_ - 4);
}

std::string_view HeadCollector::rest() const {
    if (state_ != State::complete) return {};
    return std::string_view(received_).substr(head_end_);
}

std::optional<RequestHead> parse_request_head(std::string_view raw) {
    // Invalid UTF-8 is replaced, so every later step sees clean text.
    const std::string text = replace_invalid_utf8(raw);
    std::string_view rest = text;
    auto next_line = [&rest]() {
        std::size_t end = rest.find("\r\n");
        std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 2);
        return line;
    };

    std::string_view first = next_line();
    std::vector<std::string_view> words;
    while (!first.empty()) {
        std::size_t space = first.find(' ');
        std::string_view word = first.substr(0, space);
        if (!word.empty()) words.push_back(word);
        first = space == std::string_view::npos ? std::string_view() : first.substr(space + 1);
    }
    if (words.size() < 2) return std::nullopt;

    RequestHead head;
    head.method = words[0];
    std::string_view target = words[1];
    std::size_t question = target.find('?');
    head.path = target.substr(0, question);
    if (question != std::string_view::npos) head.query = target.substr(question + 1);

    while (!rest.empty()) {
        std::string_view line = next_line();
        // A line that begins with white space continues the one before it in
        // old HTTP; it is never taken as a header of its own.
        if (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            head.folded_line = true;
            continue;
        }
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        head.headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
    if (std::optional<std::string> length = find_header(head, "content-length"))
        head.content_length = parse_length(*length);
    return head;
}

std::optional<std::string> find_header(const RequestHead& head, std::string_view name) {
    for (const auto& [key, value] : head.headers) {
        if (equal_ignoring_ascii_case(key, name)) return value;
    }
    return std::nullopt;
}

std::size_t count_headers(const RequestHead& head, std::string_view name) {
    std::size_t count = 0;
    for (const auto& header : head.headers) {
        if (equal_ignoring_ascii_case(header.first, name)) ++count;
    }
    return count;
}

std::optional<HeadRefusal> refuse_head(const RequestHead& head,
                                       std::initializer_list<std::string_view> single_headers) {
    if (head.folded_line) return HeadRefusal{400, "A header line is folded onto the one before it."};
    for (std::string_view name : single_headers) {
        // Two copies could be read differently by two readers; neither is trusted.
        if (count_headers(head, name) > 1) return HeadRefusal{400, "A header that may appear only once is repeated."};
    }
    if (count_headers(head, "transfer-encoding") > 0) return HeadRefusal{501, "Transfer-Encoding is not supported."};
    return std::nullopt;
}

std::optional<std::string> query_value(std::string_view query, std::string_view name) {
    while (!query.empty()) {
        std::size_t amp = query.find('&');
        std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        std::size_t equals = pair.find('=');
        if (pair.substr(0, equals) == name) {
            return std::string(equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1));
        }
    }
    return std::nullopt;
}

std::string http_response(int status, std::string_view content_type, std::string_view body,
                          std::string_view script_nonce) {
    std::string out;
    out.reserve(body.size() + 700);
    out.append("HTTP/1.1 ").append(std::to_string(status)).append(" ").append(reason_phrase(status)).append("\r\n");
    out.append("Content-Type: ").append(content_type).append("\r\n");
    out.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n");
    out.append(
        "Cache-Control: no-store\r\nConnection: close\r\nX-Content-Type-Options: nosniff\r\n"
        "Referrer-Policy: no-referrer\r\nX-Frame-Options: DENY\r\n");
    out.append("Content-Security-Policy: default-src 'self'; ");
    if (script_nonce.empty()) {
        out.append("script-src 'self'");
    } else {
        out.append("script-src 'self' 'nonce-").append(script_nonce).append("'");
    }
    out.append(
        "; style-src 'self' 'unsafe-inline'; img-src 'self' data:; connect-src 'self'; frame-ancestors 'none'; "
        "base-uri 'none'; form-action 'none'\r\n\r\n");
    out.append(body);
    return out;
}

}  // namespace qm::server
