// The compact JSON writer: appends to one growing text.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>

#include "json/json.h"
#include "json/utf8_scan.h"
#include "util/hex.h"
#include "util/utf8.h"

namespace qm::json {
namespace {

constexpr std::string_view replacement_character = "\xEF\xBF\xBD";

// Plain decimal with the fewest significant digits that read back to the same
// double, never an exponent. The shortest digits come from the scientific
// form ("d.ddde±x"); the fixed form would print every exact digit of a large
// number instead (1e300 has 301 exact digits, most of them not zero).
void write_plain_decimal(std::string& out, double number) {
    char scientific[40];
    const auto converted =
        std::to_chars(scientific, scientific + sizeof scientific, number, std::chars_format::scientific);
    const char* p = scientific;
    const char* const end = converted.ptr;
    if (*p == '-') {
        out.push_back('-');
        ++p;
    }
    char digits[20];
    int digit_count = 0;
    for (; p != end && *p != 'e'; ++p) {
        if (*p != '.' && digit_count < static_cast<int>(sizeof digits)) digits[digit_count++] = *p;
    }
    int exponent = 0;
    if (p != end) {
        ++p;  // 'e'
        std::from_chars(*p == '+' ? p + 1 : p, end, exponent);
    }
    // The value is 0.d1d2...dk times 10^(exponent + 1).
    const int point = exponent + 1;  // digits before the decimal point
    if (point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out.append(digits, static_cast<std::size_t>(digit_count));
    } else if (point >= digit_count) {
        out.append(digits, static_cast<std::size_t>(digit_count));
        out.append(static_cast<std::size_t>(point - digit_count), '0');
    } else {
        out.append(digits, static_cast<std::size_t>(point));
        out.push_back('.');
        out.append(digits + point, static_cast<std::size_t>(digit_count - point));
    }
}

void write_number(std::string& out, double number) {
    if (!std::isfinite(number)) {
        // Never produced by the reader; "nan" or "inf" would make the whole
        // text unreadable, null keeps it readable.
        out += "null";
        return;
    }
    if (number > -9e15 && number < 9e15) {
        const auto whole = static_cast<std::int64_t>(number);
        if (static_cast<double>(whole) == number) {  // negative zero too: written as 0
            char text[24];
            const auto converted = std::to_chars(text, text + sizeof text, whole);
            out.append(text, converted.ptr);
            return;
        }
    }
    write_plain_decimal(out, number);
}

void write_string(std::string& out, std::string_view text) {
    out.push_back('"');
    const char* p = text.data();
    const char* const end = p + text.size();
    const char* run = p;  // first byte not yet written
    for (;;) {
        p = scan::find_writer_stop(p, end);
        if (p == end) break;
        const auto byte = static_cast<unsigned char>(*p);
        if (byte >= 0x80) {
            const int length = utf8_sequence(p, end);
            if (length > 0) {
                p += length;
                continue;
            }
            out.append(run, p);
            out += replacement_character;
            p += -length;
            run = p;
            continue;
        }
        out.append(run, p);
        switch (byte) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            default: {
                const char escape[] = {'\\', 'u', '0', '0', lower_hex_digits[byte >> 4], lower_hex_digits[byte & 0xF]};
                out.append(escape, sizeof escape);
                break;
            }
        }
        ++p;
        run = p;
    }
    out.append(run, end);
    out.push_back('"');
}

void write_value(std::string& out, const JsonValue& value) {
    switch (value.type()) {
        case JsonValue::Type::null:
            out += "null";
            return;
        case JsonValue::Type::boolean:
            out += value.as_bool() ? "true" : "false";
            return;
        case JsonValue::Type::number:
            write_number(out, value.as_number());
            return;
        case JsonValue::Type::string:
            write_string(out, value.as_string());
            return;
        case JsonValue::Type::array: {
            out.push_back('[');
            bool first = true;
            for (const JsonValue& item : value.as_array()) {
                if (!first) out.push_back(',');
                first = false;
                write_value(out, item);
            }
            out.push_back(']');
            return;
        }
        case JsonValue::Type::object: {
            out.push_back('{');
            bool first = true;
            for (const JsonValue::Member& member : value.as_object()) {
                if (!first) out.push_back(',');
                first = false;
                write_string(out, member.first);
                out.push_back(':');
                write_value(out, member.second);
            }
            out.push_back('}');
            return;
        }
    }
}

}  // namespace

void write_to(std::string& out, const JsonValue& value) { write_value(out, value); }

std::string write(const JsonValue& value) {
    std::string out;
    out.reserve(64);
    write_value(out, value);
    return out;
}

}  // namespace qm::json
