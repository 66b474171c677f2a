#include "util/md5.h"

#include <algorithm>

namespace qm {
namespace {

// The per-round additive constants, floor(abs(sin(i + 1)) * 2^32).
constexpr std::array<std::uint32_t, 64> sines = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391,
};

constexpr std::array<unsigned, 64> shifts = {
    7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 7,  12, 17, 22, 5,  9,  14, 20, 5,  9,
    14, 20, 5,  9,  14, 20, 5,  9,  14, 20, 4,  11, 16, 23, 4,  11, 16, 23, 4,  11, 16, 23,
    4,  11, 16, 23, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21, 6,  10, 15, 21,
};

constexpr std::array<std::uint32_t, 4> initial_state = {0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

constexpr std::uint32_t rotate_left(std::uint32_t x, unsigned n) { return (x << n) | (x >> (32 - n)); }

std::uint32_t load_little_endian(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

}  // namespace

Md5::Md5() : state_(initial_state) {}

void Md5::compress(const std::uint8_t* block) {
    std::array<std::uint32_t, 16> m;
    for (std::size_t i = 0; i < 16; ++i) m[i] = load_little_endian(block + 4 * i);
    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (std::size_t i = 0; i < 64; ++i) {
        std::uint32_t f = 0;
        std::size_t g = 0;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const std::uint32_t next = b + rotate_left(a + f + sines[i] + m[g], shifts[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void Md5::update(std::string_view bytes) {
    total_bytes_ += bytes.size();
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::size_t left = bytes.size();
    if (pending_size_ > 0) {
        const std::size_t take = std::min(left, pending_.size() - pending_size_);
        std::copy_n(data, take, pending_.begin() + static_cast<std::ptrdiff_t>(pending_size_));
        pending_size_ += take;
        data += take;
        left -= take;
        if (pending_size_ < pending_.size()) return;
        compress(pending_.data());
        pending_size_ = 0;
    }
    for (; left >= 64; data += 64, left -= 64) compress(data);
    std::copy_n(data, left, pending_.begin());
    pending_size_ = left;
}

Md5::Digest Md5::finish() {
    const std::uint64_t bits = total_bytes_ * 8;
    std::array<std::uint8_t, 72> tail{};
    tail[0] = 0x80;
    const std::size_t pad = (pending_size_ < 56 ? 56 : 120) - pending_size_;
    for (std::size_t i = 0; i < 8; ++i) tail[pad + i] = static_cast<std::uint8_t>(bits >> (8 * i));
    update(std::string_view(reinterpret_cast<const char*>(tail.data()), pad + 8));
    Digest digest;
    for (std::size_t i = 0; i < 4; ++i) {
        for (std::size_t j = 0; j < 4; ++j) digest[4 * i + j] = static_cast<std::uint8_t>(state_[i] >> (8 * j));
    }
    *this = Md5();
    return digest;
}

std::string digest_hex(const Md5::Digest& digest) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(32);
    for (std::uint8_t byte : digest) {
        hex.push_back(digits[byte >> 4]);
        hex.push_back(digits[byte & 0x0f]);
    }
    return hex;
}

std::string md5_hex(std::string_view bytes) {
    Md5 md5;
    md5.update(bytes);
    return digest_hex(md5.finish());
}

}  // namespace qm
