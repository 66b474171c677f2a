// MD5 (RFC 1321), only to compare files with the checksums a package
// database recorded for them; it proves nothing against someone who wants a
// file to match, and is never used where that matters. An Md5 object
// digests bytes fed in any number of pieces. One object belongs to one
// thread; the free function is pure and thread-safe.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

class Md5 {
public:
    using Digest = std::array<std::uint8_t, 16>;

    Md5();

    void update(std::string_view bytes);

    // The digest of everything fed so far; the object then starts afresh.
    [[nodiscard]] Digest finish();

private:
    void compress(const std::uint8_t* block);

    std::array<std::uint32_t, 4> state_{};
    std::array<std::uint8_t, 64> pending_{};
    std::size_t pending_size_ = 0;
    std::uint64_t total_bytes_ = 0;
};

// The digest as 32 lower-case hexadecimal digits.
[[nodiscard]] std::string md5_hex(std::string_view bytes);
[[nodiscard]] std::string digest_hex(const Md5::Digest& digest);

}  // namespace qm
