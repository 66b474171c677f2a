#include "util/hex.h"

namespace qm {

std::string to_hex(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        out += lower_hex_digits[byte >> 4];
        out += lower_hex_digits[byte & 0x0F];
    }
    return out;
}

}  // namespace qm
