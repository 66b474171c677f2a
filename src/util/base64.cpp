#include "util/base64.h"

namespace qm {

std::string base64_encode(std::string_view bytes) {
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    // Whole groups of three bytes become four characters.
    for (; i + 3 <= bytes.size(); i += 3) {
        const unsigned group = static_cast<unsigned char>(bytes[i]) << 16 |
                               static_cast<unsigned char>(bytes[i + 1]) << 8 | static_cast<unsigned char>(bytes[i + 2]);
        text.push_back(alphabet[group >> 18 & 63]);
        text.push_back(alphabet[group >> 12 & 63]);
        text.push_back(alphabet[group >> 6 & 63]);
        text.push_back(alphabet[group & 63]);
    }
    // One or two bytes left over are padded to a full group with "=".
    const std::size_t left = bytes.size() - i;
    if (left > 0) {
        unsigned group = static_cast<unsigned char>(bytes[i]) << 16;
        if (left == 2) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        text.push_back(alphabet[group >> 18 & 63]);
        text.push_back(alphabet[group >> 12 & 63]);
        text.push_back(left == 2 ? alphabet[group >> 6 & 63] : '=');
        text.push_back('=');
    }
    return text;
}

}  // namespace qm
