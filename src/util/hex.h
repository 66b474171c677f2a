// Hexadecimal text: bytes written as lower-case digits, and read back. Pure and thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm {

// The digits to_hex writes, by value.
inline constexpr char lower_hex_digits[] = "0123456789abcdef";

// Each byte as two lower-case hexadecimal digits.
[[nodiscard]] std::string to_hex(std::string_view bytes);
// The bytes of pairs of digits of either case; nothing for an odd length or
// any other character.
[[nodiscard]] std::optional<std::string> from_hex(std::string_view text);

// The value of a hexadecimal digit of either case, or -1 for any other byte.
[[nodiscard]] constexpr int hex_digit_value(char c) noexcept {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

[[nodiscard]] constexpr bool is_hex_digit(char c) noexcept { return hex_digit_value(c) >= 0; }

}  // namespace qm
