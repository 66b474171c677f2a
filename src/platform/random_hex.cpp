#include "platform/random_hex.h"

#include "platform/random.h"

namespace qm {

std::string to_hex(std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += digits[byte >> 4];
        out += digits[byte & 0x0F];
    }
    return out;
}

std::optional<std::string> random_hex(std::size_t bytes) {
    std::optional<std::string> random = os::random_bytes(bytes);
    // A short answer would make a weaker token than asked for; treat it as a failure.
    if (!random || random->size() != bytes) return std::nullopt;
    return to_hex(*random);
}

}  // namespace qm
