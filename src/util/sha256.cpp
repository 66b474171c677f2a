#include "util/sha256.h"

#include <algorithm>
#include <cstring>

#include "util/hex.h"

namespace qm {
namespace {

constexpr std::array<std::uint32_t, 64> round_constants = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2,
};

constexpr std::array<std::uint32_t, 8> initial_state = {
    0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a, 0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19,
};

constexpr std::uint32_t rotate_right(std::uint32_t x, unsigned n) { return (x >> n) | (x << (32 - n)); }

std::uint32_t load_big_endian(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]};
}

}  // namespace

Sha256::Sha256() : state_(initial_state) {}

void Sha256::compress(const std::uint8_t* block) {
    std::array<std::uint32_t, 64> w;
    for (std::size_t t = 0; t < 16; ++t) w[t] = load_big_endian(block + 4 * t);
    for (std::size_t t = 16; t < 64; ++t) {
        const std::uint32_t s0 = rotate_right(w[t - 15], 7) ^ rotate_right(w[t - 15], 18) ^ (w[t - 15] >> 3);
        const std::uint32_t s1 = rotate_right(w[t - 2], 17) ^ rotate_right(w[t - 2], 19) ^ (w[t - 2] >> 10);
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }

    std::uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    std::uint32_t e = state_[4], f = state_[5], g = state_[6], h = state_[7];
    for (std::size_t t = 0; t < 64; ++t) {
        const std::uint32_t sum1 = rotate_right(e, 6) ^ rotate_right(e, 11) ^ rotate_right(e, 25);
        const std::uint32_t choose = (e & f) ^ (~e & g);
        const std::uint32_t t1 = h + sum1 + choose + round_constants[t] + w[t];
        const std::uint32_t sum0 = rotate_right(a, 2) ^ rotate_right(a, 13) ^ rotate_right(a, 22);
        const std::uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        const std::uint32_t t2 = sum0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
    state_[5] += f;
    state_[6] += g;
    state_[7] += h;
}

void Sha256::update(std::string_view bytes) {
    const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.data());
    std::size_t size = bytes.size();
    total_bytes_ += size;

    if (pending_size_ > 0) {
        const std::size_t take = std::min(size, pending_.size() - pending_size_);
        std::memcpy(pending_.data() + pending_size_, data, take);
        pending_size_ += take;
        data += take;
        size -= take;
        if (pending_size_ < pending_.size()) return;
        compress(pending_.data());
        pending_size_ = 0;
    }
    // Whole blocks are digested straight from the caller's bytes.
    for (; size >= 64; data += 64, size -= 64) compress(data);
    if (size > 0) std::memcpy(pending_.data(), data, size);
    pending_size_ = size;
}

Sha256::Digest Sha256::finish() {
    const std::uint64_t bit_length = total_bytes_ * 8;
    // Padding: one 1 bit, zeros up to 56 bytes modulo 64, then the length in
    // bits as a 64-bit big-endian number.
    std::array<std::uint8_t, 72> padding{};
    padding[0] = 0x80;
    const std::size_t zeros_end = pending_size_ < 56 ? 56 - pending_size_ : 120 - pending_size_;
    for (std::size_t i = 0; i < 8; ++i) {
        padding[zeros_end + i] = static_cast<std::uint8_t>(bit_length >> (56 - 8 * i));
    }
    update(std::string_view(reinterpret_cast<const char*>(padding.data()), zeros_end + 8));

    Digest digest;
    for (std::size_t i = 0; i < 8; ++i) {
        digest[4 * i] = static_cast<std::uint8_t>(state_[i] >> 24);
        digest[4 * i + 1] = static_cast<std::uint8_t>(state_[i] >> 16);
        digest[4 * i + 2] = static_cast<std::uint8_t>(state_[i] >> 8);
        digest[4 * i + 3] = static_cast<std::uint8_t>(state_[i]);
    }
    *this = Sha256();
    return digest;
}

std::string sha256_hex(std::string_view bytes) {
    Sha256 hasher;
    hasher.update(bytes);
    const Sha256::Digest digest = hasher.finish();
    return to_hex(std::string_view(reinterpret_cast<const char*>(digest.data()), digest.size()));
}

}  // namespace qm
