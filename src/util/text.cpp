#include "util/text.h"

#include <cctype>

#include <algorithm>

#include "util/utf8.h"

namespace qm {
namespace {

constexpr std::string_view ellipsis = "\xE2\x80\xA6";  // U+2026

char lower_ascii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool is_ascii_space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; }

// Length of the well-formed UTF-8 sequence starting at `i`, or 0 when the
// byte there does not start one.
std::size_t sequence_length(std::string_view text, std::size_t i) {
    const int length = utf8_sequence(text.data() + i, text.data() + text.size());
    return length > 0 ? static_cast<std::size_t>(length) : 0;
}

// Bytes taken by the character at `i`: a whole valid sequence, or one byte.
std::size_t character_length(std::string_view text, std::size_t i) {
    return std::max<std::size_t>(sequence_length(text, i), 1);
}

// The code point of the valid sequence of `length` bytes at `i`.
char32_t code_point_at(std::string_view text, std::size_t i, std::size_t length) {
    const auto byte = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(text[i + k])); };
    switch (length) {
        case 1:
            return byte(0);
        case 2:
            return ((byte(0) & 0x1F) << 6) | (byte(1) & 0x3F);
        case 3:
            return ((byte(0) & 0x0F) << 12) | ((byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
        default:
            return ((byte(0) & 0x07) << 18) | ((byte(1) & 0x3F) << 12) | ((byte(2) & 0x3F) << 6) | (byte(3) & 0x3F);
    }
}

bool is_invisible_control(char32_t c) {
    if (c < 0x20 || c == 0x7F) return true;
    if (c >= 0x80 && c <= 0x9F) return true;
    if (c == 0x2028 || c == 0x2029 || c == 0xFEFF) return true;
    if (c == 0x200E || c == 0x200F) return true;  // left-to-right / right-to-left marks
    if (c >= 0x202A && c <= 0x202E) return true;  // embeddings and overrides
    return c >= 0x2066 && c <= 0x2069;            // isolates
}

// The text with each byte that does not start a valid UTF-8 sequence, and
// each character that `unwanted` picks, written as U+FFFD.
template <class Predicate>
std::string replace_characters(std::string_view text, Predicate unwanted) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = sequence_length(text, i);
        if (length == 0) {
            append_utf8(out, 0xFFFD);
            ++i;
            continue;
        }
        if (unwanted(code_point_at(text, i, length))) {
            append_utf8(out, 0xFFFD);
        } else {
            out.append(text.substr(i, length));
        }
        i += length;
    }
    return out;
}

bool ends_with_program_extension(std::string_view part) {
    if (part.size() < 4) return false;
    const std::string tail = to_lower_ascii(part.substr(part.size() - 4));
    return tail == ".exe" || tail == ".com" || tail == ".bat" || tail == ".cmd";
}

}  // namespace

bool is_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t length = sequence_length(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

std::string replace_invalid_utf8(std::string_view text) {
    if (is_valid_utf8(text)) return std::string(text);
    return replace_characters(text, [](char32_t) { return false; });
}

std::size_t count_characters(std::string_view text) {
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); i += character_length(text, i)) ++count;
    return count;
}

void append_utf8(std::string& out, char32_t c) {
    if ((c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) c = 0xFFFD;
    char bytes[4];
    std::size_t length = 0;
    if (c < 0x80) {
        bytes[length++] = static_cast<char>(c);
    } else if (c < 0x800) {
        bytes[length++] = static_cast<char>(0xC0 | (c >> 6));
        bytes[length++] = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        bytes[length++] = static_cast<char>(0xE0 | (c >> 12));
        bytes[length++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        bytes[length++] = static_cast<char>(0x80 | (c & 0x3F));
    } else {
        bytes[length++] = static_cast<char>(0xF0 | (c >> 18));
        bytes[length++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        bytes[length++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        bytes[length++] = static_cast<char>(0x80 | (c & 0x3F));
    }
    out.append(bytes, length);
}

std::string trim(std::string_view text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && is_ascii_space(text[begin])) ++begin;
    while (end > begin && is_ascii_space(text[end - 1])) --end;
    return std::string(text.substr(begin, end - begin));
}

std::string to_lower_ascii(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = lower_ascii(c);
    return out;
}

bool equal_ignoring_ascii_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lower_ascii(a[i]) != lower_ascii(b[i])) return false;
    }
    return true;
}

std::string_view file_name(std::string_view path) {
    const std::size_t slash = path.find_last_of("\\/");
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view file_stem(std::string_view path) {
    const std::string_view name = file_name(path);
    return name.substr(0, name.rfind('.'));
}

bool has_control_character(std::string_view text) {
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t length = sequence_length(text, i);
        if (length == 0) {
            ++i;  // a stray byte is not a character at all, let alone a control
            continue;
        }
        if (is_invisible_control(code_point_at(text, i, length))) return true;
        i += length;
    }
    return false;
}

std::string replace_control_characters(std::string_view text, bool keep_line_feeds) {
    return replace_characters(text, [keep_line_feeds](char32_t c) {
        return is_invisible_control(c) && !(keep_line_feeds && c == '\n');
    });
}

std::string shorten(std::string_view text, std::size_t limit) {
    if (count_characters(text) <= limit) return std::string(text);
    if (limit == 0) return std::string(ellipsis);
    std::size_t end = 0;
    for (std::size_t kept = 0; kept + 1 < limit; ++kept) end += character_length(text, end);
    std::string out(text.substr(0, end));
    out += ellipsis;
    return out;
}

std::string make_slug(std::string_view name) {
    static constexpr std::string_view separators = " -_.,()+&'";
    const std::string valid = replace_invalid_utf8(name);
    std::string slug;
    std::string pending;  // separators seen since the last letter or digit
    std::size_t characters = 0;
    for (std::size_t i = 0; i < valid.size();) {
        const std::size_t length = character_length(valid, i);
        const std::string_view character = std::string_view(valid).substr(i, length);
        i += length;
        const unsigned char first = static_cast<unsigned char>(character[0]);
        const bool letter_or_digit =
            first >= 0x80 ? character != "\u2026" && character != "\u00A0" : std::isalnum(first) != 0;
        if (letter_or_digit) {
            if (!slug.empty() && !pending.empty()) {
                if (characters + count_characters(pending) + 1 > 60) break;
                slug += pending;
                characters += count_characters(pending);
            }
            pending.clear();
            if (characters + 1 > 60) break;
            slug += character;
            ++characters;
        } else if (length == 1 && separators.find(character[0]) != std::string_view::npos) {
            // Keep one space of a run, and other separators as written.
            if (!(character[0] == ' ' && !pending.empty() && pending.back() == ' ')) pending += character;
        }
    }
    // A closing bracket right after the last word belongs to it: "App (beta)".
    if (!slug.empty() && pending.starts_with(')') && characters < 60) slug += ')';
    return slug;
}

bool equal_fixed_time(std::string_view a, std::string_view b) {
    const std::size_t longer = std::max(a.size(), b.size());
    std::size_t difference = a.size() ^ b.size();
    for (std::size_t i = 0; i < longer; ++i) {
        const unsigned x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0U;
        const unsigned y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0U;
        difference |= x ^ y;
    }
    return difference == 0;
}

std::vector<std::string> split_lines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> split_command_line(std::string_view text, bool shell_quotes) {
    std::vector<std::string> words;
    std::string word;
    bool in_word = false;  // a word has started, even if it is still empty
    char quote = 0;        // the open quote character, or 0 outside quotes
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        const bool has_next = i + 1 < text.size();
        if (quote != 0) {
            if (c == quote) {
                quote = 0;
            } else if (shell_quotes && quote == '"' && c == '\\' && has_next &&
                       (text[i + 1] == '"' || text[i + 1] == '$' || text[i + 1] == '\\' || text[i + 1] == '`')) {
                word += text[++i];
            } else {
                word += c;
            }
        } else if (is_ascii_space(c)) {
            if (in_word) words.push_back(std::move(word));
            word.clear();
            in_word = false;
        } else if (c == '"' || (shell_quotes && c == '\'')) {
            quote = c;
            in_word = true;
        } else if (shell_quotes && c == '\\' && has_next) {
            word += text[++i];
            in_word = true;
        } else {
            // Includes a backslash at the very end: nothing follows it to
            // make literal, so it is kept rather than lost.
            word += c;
            in_word = true;
        }
    }
    if (in_word) words.push_back(std::move(word));
    return words;
}

std::string program_of_command_line(std::string_view text) {
    const std::string line = trim(text);
    const std::string_view view = line;
    if (view.empty()) return {};
    if (view.front() == '"') {
        const std::size_t close = view.find('"', 1);
        return std::string(close == std::string_view::npos ? view.substr(1) : view.substr(1, close - 1));
    }

    // Parts are separated by runs of white space; `end` marks where each part
    // ends in the original text, so spaces inside a path survive unchanged.
    const auto part_end = [&](std::size_t begin) {
        std::size_t end = begin;
        while (end < view.size() && !is_ascii_space(view[end])) ++end;
        return end;
    };
    const auto next_part = [&](std::size_t end) {
        while (end < view.size() && is_ascii_space(view[end])) ++end;
        return end;
    };

    const std::size_t first_end = part_end(0);
    const std::string_view first = view.substr(0, first_end);
    const bool looks_like_path = first.find_first_of("\\/:") != std::string_view::npos;
    if (!looks_like_path || ends_with_program_extension(first)) return std::string(first);

    for (std::size_t begin = next_part(first_end); begin < view.size();) {
        const char lead = view[begin];
        if (lead == '-' || lead == '/' || lead == '"') break;
        const std::size_t end = part_end(begin);
        if (ends_with_program_extension(view.substr(begin, end - begin))) {
            return std::string(view.substr(0, end));
        }
        begin = next_part(end);
    }
    return std::string(first);
}

}  // namespace qm
