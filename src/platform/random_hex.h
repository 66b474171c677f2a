// Hexadecimal text of bytes, and random tokens from the operating system's
// preferred generator. Stateless and thread-safe.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// Each byte as two lower-case hexadecimal digits.
[[nodiscard]] std::string to_hex(std::string_view bytes);

// 2 * `bytes` lower-case hexadecimal digits of system randomness, or nothing
// when the system cannot provide it; each caller words that failure itself.
[[nodiscard]] std::optional<std::string> random_hex(std::size_t bytes);

}  // namespace qm
