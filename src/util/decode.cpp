#include "util/decode.h"

#include <cstdint>

#include "util/text.h"

namespace qm {
namespace {

constexpr char32_t replacement_character = 0xFFFD;

std::string decode_utf16(std::string_view bytes, bool big_endian) {
    const std::size_t unit_count = bytes.size() / 2;  // an odd last byte is ignored
    const auto unit_at = [&](std::size_t i) {
        const auto first = static_cast<unsigned char>(bytes[2 * i]);
        const auto second = static_cast<unsigned char>(bytes[2 * i + 1]);
        return static_cast<std::uint16_t>(big_endian ? (first << 8) | second : (second << 8) | first);
    };
    const auto is_high = [](std::uint16_t u) { return u >= 0xD800 && u <= 0xDBFF; };
    const auto is_low = [](std::uint16_t u) { return u >= 0xDC00 && u <= 0xDFFF; };

    std::string out;
    out.reserve(unit_count * 3 / 2);
    for (std::size_t i = 0; i < unit_count; ++i) {
        const std::uint16_t unit = unit_at(i);
        if (is_high(unit) && i + 1 < unit_count && is_low(unit_at(i + 1))) {
            const char32_t high = unit - 0xD800;
            const char32_t low = unit_at(i + 1) - 0xDC00;
            append_utf8(out, 0x10000 + ((high << 10) | low));
            ++i;
        } else if (is_high(unit) || is_low(unit)) {
            // An unpaired half; the unit after a lone high half is read on its own.
            append_utf8(out, replacement_character);
        } else {
            append_utf8(out, unit);
        }
    }
    return out;
}

// What Windows-1252 puts at 80..9F; zero where it assigns nothing.
constexpr char16_t windows_1252_high_controls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 80..87
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,       // 88..8F
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90..97
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,  // 98..9F
};

}  // namespace

std::string decode_windows_1252(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        char32_t code_point = byte;
        if (byte >= 0x80 && byte <= 0x9F && windows_1252_high_controls[byte - 0x80] != 0) {
            code_point = windows_1252_high_controls[byte - 0x80];
        }
        append_utf8(out, code_point);
    }
    return out;
}

std::string decode_text(std::string_view bytes) {
    if (bytes.size() >= 2) {
        const auto b0 = static_cast<unsigned char>(bytes[0]);
        const auto b1 = static_cast<unsigned char>(bytes[1]);
        if (b0 == 0xFE && b1 == 0xFF) return decode_utf16(bytes.substr(2), true);
        if (b0 == 0xFF && b1 == 0xFE) return decode_utf16(bytes.substr(2), false);
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) bytes.remove_prefix(3);
    if (is_valid_utf8(bytes)) return std::string(bytes);

    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) append_utf8(out, static_cast<unsigned char>(c));
    return out;
}

std::string size_text(std::uint64_t bytes) {
    constexpr std::uint64_t kilo = 1024;
    if (bytes >= kilo * kilo && bytes % (kilo * kilo) == 0) return std::to_string(bytes / (kilo * kilo)) + " MB";
    if (bytes >= kilo && bytes % kilo == 0) return std::to_string(bytes / kilo) + " KB";
    return std::to_string(bytes) + " bytes";
}

}  // namespace qm
