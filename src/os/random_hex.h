// Random tokens from the operating system's preferred generator, written as
// hexadecimal text. Stateless and thread-safe.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace qm::os {

// 2 * `bytes` lower-case hexadecimal digits of system randomness, or nothing
// when the system cannot provide it; each caller words that failure itself.
[[nodiscard]] std::optional<std::string> random_hex(std::size_t bytes);

}  // namespace qm::os
