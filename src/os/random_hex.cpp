#include "os/random_hex.h"

#include "os/random.h"
#include "util/hex.h"

namespace qm::os {

std::optional<std::string> random_hex(std::size_t bytes) {
    std::optional<std::string> random = os::random_bytes(bytes);
    // A short answer would make a weaker token than asked for; treat it as a failure.
    if (!random || random->size() != bytes) return std::nullopt;
    return to_hex(*random);
}

}  // namespace qm::os
