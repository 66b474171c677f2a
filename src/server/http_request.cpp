#include "server/http_request.h"

#include "util/text.h"

namespace qm::server {

namespace {

std::uint64_t parse_length(std::string_view text) {
    if (text.empty() || text.size() > 19) return 0;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

std::string_view reason_phrase(int status) {
    switch (status) {
        case 200: return "OK";
        case 400: return "Bad Request";
        case 403: return "Forbidden";
        case 404: return "Not Found";
        case 405: return "Method Not Allowed";
        case 413: return "Payload Too Large";
        default: return "Internal Server Error";
    }
}

}  // namespace

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
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos) continue;
        head.headers.emplace_back(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
    }
    if (std::optional<std::string> length = find_header(head, "content-length")) head.content_length = parse_length(*length);
    return head;
}

std::optional<std::string> find_header(const RequestHead& head, std::string_view name) {
    for (const auto& [key, value] : head.headers) {
        if (equal_ignoring_ascii_case(key, name)) return value;
    }
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

std::string http_response(int status, std::string_view content_type, std::string_view body, std::string_view script_nonce) {
    std::string out;
    out.reserve(body.size() + 700);
    out.append("HTTP/1.1 ").append(std::to_string(status)).append(" ").append(reason_phrase(status)).append("\r\n");
    out.append("Content-Type: ").append(content_type).append("\r\n");
    out.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n");
    out.append("Cache-Control: no-store\r\nConnection: close\r\nX-Content-Type-Options: nosniff\r\n"
               "Referrer-Policy: no-referrer\r\nX-Frame-Options: DENY\r\n");
    out.append("Content-Security-Policy: default-src 'self'; ");
    if (script_nonce.empty()) {
        out.append("script-src 'self'");
    } else {
        out.append("script-src 'self' 'nonce-").append(script_nonce).append("'");
    }
    out.append("; style-src 'self' 'unsafe-inline'; img-src 'self' data:; connect-src 'self'; frame-ancestors 'none'; "
               "base-uri 'none'; form-action 'none'\r\n\r\n");
    out.append(body);
    return out;
}

}  // namespace qm::server
