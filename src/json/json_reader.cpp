// The strict JSON reader: one pass, one cursor, recursion bounded at 64 levels.
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <system_error>

#include "json/json.h"
#include "json/utf8_scan.h"
#include "util/hex.h"
#include "util/text.h"
#include "util/utf8.h"

namespace qm::json {
namespace {

constexpr int max_nesting = 64;

// Bytes that may make up a number: 0-9 + - . e E.
constexpr bool is_number_byte(unsigned char byte) noexcept {
    return (byte >= '0' && byte <= '9') || byte == '+' || byte == '-' || byte == '.' || byte == 'e' || byte == 'E';
}

constexpr bool is_whitespace(char byte) noexcept { return byte == ' ' || byte == '\n' || byte == '\r' || byte == '\t'; }

// For a number text that the decimal conversion found out of range: true when
// it is too large (an overflow), false when it is too small (an underflow).
// Decided by the decimal exponent of its first significant digit.
bool magnitude_is_large(const char* first, const char* last) {
    const char* p = first;
    if (p < last && (*p == '-' || *p == '+')) ++p;
    while (p < last && *p == '0') ++p;
    std::int64_t magnitude = 0;
    const char* integer_digits = p;
    while (p < last && *p >= '0' && *p <= '9') ++p;
    if (p > integer_digits) {
        magnitude = p - integer_digits - 1;
        if (p < last && *p == '.') ++p;
        while (p < last && *p >= '0' && *p <= '9') ++p;
    } else {
        if (p < last && *p == '.') ++p;
        const char* fraction = p;
        while (p < last && *p == '0') ++p;
        magnitude = -(p - fraction) - 1;
        while (p < last && *p >= '0' && *p <= '9') ++p;
    }
    std::int64_t exponent = 0;
    if (p < last && (*p == 'e' || *p == 'E')) {
        ++p;
        bool negative = false;
        if (p < last && (*p == '-' || *p == '+')) negative = *p++ == '-';
        constexpr std::int64_t saturation = std::int64_t{1} << 40;
        for (; p < last && *p >= '0' && *p <= '9'; ++p) {
            if (exponent < saturation) exponent = exponent * 10 + (*p - '0');
        }
        if (negative) exponent = -exponent;
    }
    // Both terms are far below the limits of 64 bits: the text length bounds
    // the first, the saturation the second.
    return magnitude + exponent >= 0;
}

class Reader {
public:
    explicit Reader(std::string_view text) noexcept
        : begin_(text.data()), cursor_(text.data()), end_(text.data() + text.size()) {}

    Result<JsonValue> read_document() {
        skip_whitespace();
        JsonValue value;
        if (!read_value(value)) return fail(std::move(error_));
        skip_whitespace();
        if (cursor_ != end_) return fail(message_at("unexpected data", cursor_));
        return value;
    }

private:
    bool read_value(JsonValue& out) {
        if (++depth_ > max_nesting) return failed("nested too deeply");
        if (cursor_ == end_) return failed("unexpected end");
        bool ok = false;
        switch (*cursor_) {
            case '"': {
                std::string text;
                ok = read_string(text);
                if (ok) out = JsonValue(std::move(text));
                break;
            }
            case '[':
                ok = read_array(out);
                break;
            case '{':
                ok = read_object(out);
                break;
            case 't':
                ok = read_literal("true", out, JsonValue(true));
                break;
            case 'f':
                ok = read_literal("false", out, JsonValue(false));
                break;
            case 'n':
                ok = read_literal("null", out, JsonValue());
                break;
            default:
                ok = read_number(out);
                break;
        }
        --depth_;
        return ok;
    }

    bool read_array(JsonValue& out) {
        ++cursor_;  // '['
        skip_whitespace();
        out = JsonValue::array();
        if (cursor_ != end_ && *cursor_ == ']') {
            ++cursor_;
            return true;
        }
        JsonValue::Array& items = out.as_array();
        for (;;) {
            skip_whitespace();
            if (!read_value(items.emplace_back())) return false;
            skip_whitespace();
            if (cursor_ != end_) {
                if (*cursor_ == ',') {
                    ++cursor_;
                    continue;
                }
                if (*cursor_ == ']') {
                    ++cursor_;
                    return true;
                }
            }
            return failed_at("expected , or ]", cursor_);
        }
    }

    bool read_object(JsonValue& out) {
        ++cursor_;  // '{'
        skip_whitespace();
        out = JsonValue::object();
        if (cursor_ != end_ && *cursor_ == '}') {
            ++cursor_;
            return true;
        }
        JsonValue::Object& members = out.as_object();
        for (;;) {
            skip_whitespace();
            if (cursor_ == end_ || *cursor_ != '"') return failed_at("expected a key", cursor_);
            JsonValue::Member& member = members.emplace_back();
            if (!read_string(member.first)) return false;
            skip_whitespace();
            if (cursor_ == end_ || *cursor_ != ':') return failed_at("expected :", cursor_);
            ++cursor_;
            skip_whitespace();
            if (!read_value(member.second)) return false;
            skip_whitespace();
            if (cursor_ != end_) {
                if (*cursor_ == ',') {
                    ++cursor_;
                    continue;
                }
                if (*cursor_ == '}') {
                    ++cursor_;
                    return true;
                }
            }
            return failed_at("expected , or }", cursor_);
        }
    }

    bool read_literal(std::string_view word, JsonValue& out, JsonValue value) {
        if (static_cast<std::size_t>(end_ - cursor_) < word.size() ||
            std::memcmp(cursor_, word.data(), word.size()) != 0) {
            return failed_at("bad literal", cursor_);
        }
        cursor_ += word.size();
        out = std::move(value);
        return true;
    }

    bool read_number(JsonValue& out) {
        const char* const first = cursor_;
        const char* last = first;
        while (last != end_ && is_number_byte(static_cast<unsigned char>(*last))) ++last;
        if (last == first) return failed_at("bad number", first);

        // Fast path: an optional minus and up to 15 digits is exact as an integer.
        {
            const char* p = first;
            const bool negative = *p == '-';
            if (negative) ++p;
            const char* digits = p;
            std::uint64_t whole = 0;
            while (p != last && *p >= '0' && *p <= '9' && p - digits < 15) {
                whole = whole * 10 + static_cast<std::uint64_t>(*p - '0');
                ++p;
            }
            if (p == last && p != digits) {
                const double number = static_cast<double>(whole);
                out = JsonValue(negative ? -number : number);
                cursor_ = last;
                return true;
            }
        }

        // The conversion takes no leading "+", which the rules accept: step
        // over it unless another sign follows (a conversion would refuse that).
        const char* start = first;
        if (*start == '+') {
            ++start;
            if (start == last || *start == '+' || *start == '-') return failed_at("bad number", first);
        }
        double number = 0.0;
        const auto [end, error] = std::from_chars(start, last, number);
        if (end != last) return failed_at("bad number", first);
        if (error == std::errc::result_out_of_range) {
            if (magnitude_is_large(start, last)) return failed_at("bad number", first);
            number = *start == '-' ? -0.0 : 0.0;
        } else if (error != std::errc()) {
            return failed_at("bad number", first);
        }
        out = JsonValue(number);
        cursor_ = last;
        return true;
    }

    // Reads the string whose opening quote is at the cursor into `out`.
    bool read_string(std::string& out) {
        const char* p = cursor_ + 1;
        const char* run = p;  // first byte not yet in `out`
        bool copied = false;  // `out` already holds the text before `run`
        bool bad_utf8 = false;
        for (;;) {
            p = scan::find_reader_stop(p, end_);
            if (p == end_) return failed("unterminated string");
            const char byte = *p;
            if (byte == '"') {
                if (copied) {
                    out.append(run, p);
                } else {
                    out.assign(run, p);
                }
                cursor_ = p + 1;
                // Escapes only ever add whole, valid sequences, so checking
                // the raw bytes between them is the same as checking `out`.
                if (bad_utf8) return failed("string is not valid UTF-8");
                return true;
            }
            if (byte == '\\') {
                if (copied) {
                    out.append(run, p);
                } else {
                    out.assign(run, p);
                    copied = true;
                }
                p = read_escape(p + 1, out);
                if (p == nullptr) return false;
                run = p;
                continue;
            }
            const int length = utf8_sequence(p, end_);
            if (length > 0) {
                p += length;
            } else {
                bad_utf8 = true;
                p += -length;
            }
        }
    }

    // `p` is just after a backslash. Appends the escaped character and returns
    // the position after the escape, or nullptr after recording the failure.
    const char* read_escape(const char* p, std::string& out) {
        if (p == end_) return failed_null("bad escape");
        switch (*p) {
            case '"':
                out.push_back('"');
                return p + 1;
            case '\\':
                out.push_back('\\');
                return p + 1;
            case '/':
                out.push_back('/');
                return p + 1;
            case 'b':
                out.push_back('\b');
                return p + 1;
            case 'f':
                out.push_back('\f');
                return p + 1;
            case 'n':
                out.push_back('\n');
                return p + 1;
            case 'r':
                out.push_back('\r');
                return p + 1;
            case 't':
                out.push_back('\t');
                return p + 1;
            case 'u':
                break;
            default:
                return failed_null("bad escape");
        }
        std::uint32_t code_point = 0;
        p = read_hex4(p + 1, code_point);
        if (p == nullptr) return nullptr;
        if (code_point >= 0xD800 && code_point <= 0xDBFF && end_ - p >= 2 && p[0] == '\\' && p[1] == 'u') {
            // A high surrogate directly followed by another \u escape: the two
            // make one character, whatever the second one holds.
            std::uint32_t second = 0;
            p = read_hex4(p + 2, second);
            if (p == nullptr) return nullptr;
            code_point = 0x10000 + (code_point - 0xD800) * 0x400 + (second & 0x3FF);
        }
        // A lone surrogate is no character: the encoder writes U+FFFD for it.
        append_utf8(out, static_cast<char32_t>(code_point));
        return p;
    }

    // Reads four hexadecimal digits at p; returns the position after them.
    const char* read_hex4(const char* p, std::uint32_t& value) {
        if (end_ - p < 4) return failed_null("short \\u escape");
        value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hex_digit_value(p[i]);
            if (digit < 0) return failed_null("bad \\u escape");
            value = value * 16 + static_cast<std::uint32_t>(digit);
        }
        return p + 4;
    }

    void skip_whitespace() noexcept {
        while (cursor_ != end_ && is_whitespace(*cursor_)) ++cursor_;
    }

    std::string message_at(std::string_view what, const char* where) const {
        std::string message(what);
        message += " at byte ";
        message += std::to_string(where - begin_);
        return message;
    }

    bool failed(std::string_view message) {
        error_ = message;
        return false;
    }

    const char* failed_null(std::string_view message) {
        error_ = message;
        return nullptr;
    }

    bool failed_at(std::string_view what, const char* where) {
        error_ = message_at(what, where);
        return false;
    }

    const char* begin_;
    const char* cursor_;
    const char* end_;
    int depth_ = 0;
    std::string error_;
};

}  // namespace

Result<JsonValue> parse(std::string_view text) { return Reader(text).read_document(); }

}  // namespace qm::json
