// Turns bytes from child programs and stored files into UTF-8 text. Never
// fails and never drops a byte silently: a byte-order mark selects UTF-16
// (bad sequences become U+FFFD), valid UTF-8 stays as it is, and anything
// else is read byte by byte as U+0000..U+00FF. Pure and thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qm {

// In this order: FE FF → UTF-16 big-endian and FF FE → UTF-16 little-endian
// (the mark and an odd last byte dropped); otherwise a leading EF BB BF is
// dropped and the rest is kept when it is valid UTF-8, else each byte becomes
// the character with the same number.
[[nodiscard]] std::string decode_text(std::string_view bytes);

// Single-byte Windows-1252 text (the "ANSI" code page of Western Windows) as
// UTF-8. 80..9F are the typographic marks and letters that page puts there;
// the five bytes it leaves unassigned (81, 8D, 8F, 90, 9D) and every other
// byte become the character with the same number, so nothing is lost.
[[nodiscard]] std::string decode_windows_1252(std::string_view bytes);

// A byte count as people read it: "3 MB" for 3,145,728, "64 KB", or "{n} bytes".
[[nodiscard]] std::string size_text(std::uint64_t bytes);

}  // namespace qm
