#include "formats/xml_text.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <utility>

#include "util/decode.h"
#include "util/text.h"

namespace qm::formats {
namespace {

constexpr std::size_t none = std::string_view::npos;
constexpr std::string_view comment_open = "<!--";
constexpr std::string_view comment_close = "-->";
constexpr std::string_view cdata_open = "<![CDATA[";
constexpr std::string_view cdata_close = "]]>";

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// True when `name` stands at `at` and is followed by a character that ends a
// tag name: white space or ">", and for start tags also "/".
bool name_at(std::string_view document, std::size_t at, std::string_view name, bool start_tag) {
    if (document.size() - at <= name.size() || document.compare(at, name.size(), name) != 0) return false;
    const char next = document[at + name.size()];
    return is_space(next) || next == '>' || (start_tag && next == '/');
}

// The position just past the ">" that ends a tag, searching from inside the
// tag and skipping quoted attribute values; none when the tag is cut.
std::size_t tag_end(std::string_view document, std::size_t from) {
    char quote = 0;
    for (std::size_t i = from; i < document.size(); ++i) {
        const char c = document[i];
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return none;
}

struct Span {
    std::size_t start = 0;          // the "<" of the start tag
    std::size_t content_begin = 0;  // just past the start tag
    std::size_t content_end = 0;    // the "<" of the closing tag
    std::size_t end = 0;            // just past the closing tag
    bool closed = false;
};

}  // namespace

std::optional<std::string> attribute(std::string_view element, std::string_view name) {
    if (element.empty() || element.front() != '<' || name.empty()) return std::nullopt;
    std::size_t i = 1;
    // Past the tag's own name.
    while (i < element.size() && !is_space(element[i]) && element[i] != '>' && element[i] != '/') ++i;
    while (i < element.size()) {
        while (i < element.size() && (is_space(element[i]) || element[i] == '/')) ++i;
        if (i >= element.size() || element[i] == '>') return std::nullopt;
        const std::size_t name_begin = i;
        while (i < element.size() && !is_space(element[i]) && element[i] != '=' && element[i] != '>' &&
               element[i] != '/')
            ++i;
        const std::string_view found = element.substr(name_begin, i - name_begin);
        while (i < element.size() && is_space(element[i])) ++i;
        if (i >= element.size() || element[i] != '=') continue;  // an attribute without a value
        ++i;
        while (i < element.size() && is_space(element[i])) ++i;
        if (i >= element.size()) return std::nullopt;
        const char quote = element[i];
        if (quote != '"' && quote != '\'') continue;  // not well formed: read on from here
        const std::size_t close = element.find(quote, i + 1);
        if (close == none) return std::nullopt;
        if (found == name) return restore_entities(element.substr(i + 1, close - i - 1));
        i = close + 1;
    }
    return std::nullopt;
}

std::vector<Element> find_elements(std::string_view document, std::string_view name) {
    std::vector<Element> elements;
    if (name.empty()) return elements;
    std::vector<Span> spans;
    std::vector<std::size_t> open;  // indexes into spans, innermost last
    std::size_t i = 0;
    while ((i = document.find('<', i)) != none) {
        const std::string_view rest = document.substr(i);
        std::size_t next = i + 1;
        if (rest.starts_with(comment_open) || rest.starts_with(cdata_open)) {
            const bool comment = rest.starts_with(comment_open);
            const std::string_view close = comment ? comment_close : cdata_close;
            const std::size_t found = document.find(close, i + (comment ? comment_open : cdata_open).size());
            if (found == none) break;
            next = found + close.size();
        } else if (rest.size() > 1 && rest[1] == '/' && name_at(document, i + 2, name, false)) {
            const std::size_t end = tag_end(document, i + 2 + name.size());
            if (end == none) break;
            if (!open.empty()) {
                Span& span = spans[open.back()];
                open.pop_back();
                span.content_end = i;
                span.end = end;
                span.closed = true;
            }
            next = end;
        } else if (name_at(document, i + 1, name, true)) {
            const std::size_t end = tag_end(document, i + 1 + name.size());
            if (end == none) break;
            const bool self_closing = document[end - 2] == '/';
            spans.push_back(Span{i, end, end, end, self_closing});
            if (!self_closing) open.push_back(spans.size() - 1);
            next = end;
        }
        i = next;
    }
    for (const Span& span : spans) {
        if (!span.closed) continue;
        elements.push_back(Element{document.substr(span.start, span.end - span.start),
                                   document.substr(span.content_begin, span.content_end - span.content_begin)});
    }
    return elements;
}

std::optional<std::string_view> first_element(std::string_view document, std::string_view name) {
    std::vector<Element> elements = find_elements(document, name);
    if (elements.empty()) return std::nullopt;
    return elements.front().content;
}

std::string element_text(std::string_view document, std::string_view name) {
    const std::optional<std::string_view> content = first_element(document, name);
    if (!content) return {};
    // Comments are dropped and CDATA sections kept as written; entities are
    // restored only in the text between them.
    std::string text;
    std::size_t i = 0;
    while (i < content->size()) {
        const std::size_t comment = content->find(comment_open, i);
        const std::size_t cdata = content->find(cdata_open, i);
        const std::size_t markup = std::min(comment, cdata);
        if (markup == none) {
            text += restore_entities(content->substr(i));
            break;
        }
        text += restore_entities(content->substr(i, markup - i));
        const bool is_comment = markup == comment;
        const std::size_t body = markup + (is_comment ? comment_open : cdata_open).size();
        const std::size_t end = content->find(is_comment ? comment_close : cdata_close, body);
        if (end == none) {
            if (!is_comment) text += content->substr(body);
            break;
        }
        if (!is_comment) text += content->substr(body, end - body);
        i = end + (is_comment ? comment_close : cdata_close).size();
    }
    return trim(text);
}

std::string restore_entities(std::string_view text) {
    static constexpr std::array<std::pair<std::string_view, char>, 5> entities = {{
        {"&lt;", '<'},
        {"&gt;", '>'},
        {"&quot;", '"'},
        {"&apos;", '\''},
        {"&amp;", '&'},
    }};
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        bool replaced = false;
        if (text[i] == '&') {
            for (const auto& [entity, character] : entities) {
                if (text.substr(i).starts_with(entity)) {
                    out.push_back(character);
                    i += entity.size();
                    replaced = true;
                    break;
                }
            }
        }
        if (!replaced) out.push_back(text[i++]);
    }
    return out;
}

std::string escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                out.push_back(c);
                break;
        }
    }
    return out;
}

std::string decode_document(std::string_view bytes) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    const bool has_mark =
        bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF") || bytes.starts_with("\xEF\xBB\xBF");
    if (!has_mark && bytes.size() >= 2) {
        // Without a mark, UTF-16 shows itself by the zero half of its first
        // character ("<" or white space in any real document).
        if (byte(0) != 0 && byte(1) == 0) return decode_text("\xFF\xFE" + std::string(bytes));
        if (byte(0) == 0 && byte(1) != 0) return decode_text("\xFE\xFF" + std::string(bytes));
    }
    return decode_text(bytes);
}

}  // namespace qm::formats
