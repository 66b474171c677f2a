// Random bytes from the operating system's preferred generator
// (BCryptGenRandom on Windows, getrandom on Linux). Thread-safe.
#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace qm::os {

// n bytes of cryptographic randomness, or nothing when the system fails.
[[nodiscard]] std::optional<std::string> random_bytes(std::size_t n);

}  // namespace qm::os
