// SHA-256 (FIPS 180-4), the program's own, used to check downloaded files.
// A Sha256 object digests bytes fed in any number of pieces; the digest does
// not depend on how the input was split. One object belongs to one thread;
// the free function is pure and thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

class Sha256 {
public:
    using Digest = std::array<std::uint8_t, 32>;

    Sha256();

    void update(std::string_view bytes);

    // The digest of everything fed so far. The object is then reset and can
    // digest a new message.
    [[nodiscard]] Digest finish();

private:
    void compress(const std::uint8_t* block);

    std::array<std::uint32_t, 8> state_{};
    std::array<std::uint8_t, 64> pending_{};  // a partial block awaiting more bytes
    std::size_t pending_size_ = 0;
    std::uint64_t total_bytes_ = 0;
};

// The digest as 64 lower-case hexadecimal digits.
[[nodiscard]] std::string sha256_hex(std::string_view bytes);

}  // namespace qm
