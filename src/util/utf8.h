// The one definition of a well-formed UTF-8 sequence, shared by the text
// routines and the JSON reader and writer: no overlong forms, no encoded
// surrogates, nothing above U+10FFFF. Inline because the JSON code calls it
// for every non-ASCII character it reads or writes. Pure; works on
// caller-owned bytes.
#pragma once

#include <cstddef>

namespace qm {

// Checks the UTF-8 sequence starting at p (p < end). Returns its length when
// it is well formed (1 for an ASCII byte); otherwise minus the length of its
// longest well-formed prefix, at least one byte, which is the stretch that
// counts as one bad character.
[[nodiscard]] inline int utf8_sequence(const char* p, const char* end) noexcept {
    const auto lead = static_cast<unsigned char>(p[0]);
    if (lead < 0x80) return 1;
    int length = 0;
    unsigned char second_low = 0x80;
    unsigned char second_high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0) second_low = 0xA0;   // overlong
        if (lead == 0xED) second_high = 0x9F;  // U+D800..U+DFFF
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0) second_low = 0x90;   // overlong
        if (lead == 0xF4) second_high = 0x8F;  // above U+10FFFF
    } else {
        return -1;
    }
    const std::ptrdiff_t available = end - p;
    for (int i = 1; i < length; ++i) {
        if (i >= available) return -i;
        const auto byte = static_cast<unsigned char>(p[i]);
        const unsigned char low = i == 1 ? second_low : 0x80;
        const unsigned char high = i == 1 ? second_high : 0xBF;
        if (byte < low || byte > high) return -i;
    }
    return length;
}

}  // namespace qm
