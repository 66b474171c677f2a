// Byte scanning shared by the JSON reader and writer (internal to src/json).
//
// Word-at-a-time searches for the bytes that end a plain run inside a string;
// the check of one UTF-8 sequence is the foundation's (util/utf8.h). Pure
// functions on caller-owned bytes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qm::json::scan {

inline constexpr std::uint64_t ones = 0x0101010101010101ULL;
inline constexpr std::uint64_t high_bits = 0x8080808080808080ULL;

// Loads eight bytes so that the first byte in memory is the least significant.
inline std::uint64_t load_word(const char* p) noexcept {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    if constexpr (std::endian::native == std::endian::big) word = std::byteswap(word);
    return word;
}

// Marks (high bit) the bytes equal to `byte`. A byte above a marked one may be
// marked falsely, so only the lowest mark is exact: that is the one we use.
constexpr std::uint64_t bytes_equal(std::uint64_t word, unsigned char byte) noexcept {
    const std::uint64_t v = word ^ (ones * byte);
    return (v - ones) & ~v & high_bits;
}

// Marks the bytes below `limit` (limit <= 0x80), with the same caveat.
constexpr std::uint64_t bytes_below(std::uint64_t word, unsigned char limit) noexcept {
    return (word - ones * limit) & ~word & high_bits;
}

inline std::size_t lowest_marked_byte(std::uint64_t marks) noexcept {
    return static_cast<std::size_t>(std::countr_zero(marks)) / 8;
}

// First byte in [p, end) that is '"', '\\' or not ASCII; `end` when none.
inline const char* find_reader_stop(const char* p, const char* end) noexcept {
    while (end - p >= 8) {
        const std::uint64_t word = load_word(p);
        const std::uint64_t marks = bytes_equal(word, '"') | bytes_equal(word, '\\') | (word & high_bits);
        if (marks != 0) return p + lowest_marked_byte(marks);
        p += 8;
    }
    while (p < end) {
        const auto byte = static_cast<unsigned char>(*p);
        if (byte == '"' || byte == '\\' || byte >= 0x80) return p;
        ++p;
    }
    return p;
}

// First byte in [p, end) that the writer must look at: '"', '\\', a control
// character below 0x20, or not ASCII; `end` when none.
inline const char* find_writer_stop(const char* p, const char* end) noexcept {
    while (end - p >= 8) {
        const std::uint64_t word = load_word(p);
        const std::uint64_t marks =
            bytes_equal(word, '"') | bytes_equal(word, '\\') | bytes_below(word, 0x20) | (word & high_bits);
        if (marks != 0) return p + lowest_marked_byte(marks);
        p += 8;
    }
    while (p < end) {
        const auto byte = static_cast<unsigned char>(*p);
        if (byte == '"' || byte == '\\' || byte < 0x20 || byte >= 0x80) return p;
        ++p;
    }
    return p;
}

}  // namespace qm::json::scan
