// Reads the version information a program file carries (its VS_VERSIONINFO
// block): the translations it lists under VarFileInfo and the strings of its
// StringFileInfo tables. Keys match ignoring ASCII case, as the system's own
// lookup does; the first child of a matching key wins. Every length is kept
// inside its parent and the bytes given, so a damaged block reads as less,
// never past its end. The block can also be found in a program file (PE)
// itself, through its headers and resource directory, with a few reads.
// Pure and thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::formats {

// The block's translations in the order listed, each as eight lower-case hex
// digits (language, then code page), the name of its string table.
[[nodiscard]] std::vector<std::string> version_translations(std::string_view block);

// The string `name` of the table `table` ("040904b0"), as UTF-8 up to its
// first NUL (bad UTF-16 becomes U+FFFD); none when the block lacks it.
[[nodiscard]] std::optional<std::string> version_string(std::string_view block, std::string_view table,
                                                        std::string_view name);

// Up to `size` bytes of a file from `offset` on; fewer at its end or on failure.
using ReadAt = std::function<std::string(std::uint64_t offset, std::size_t size)>;

struct ProgramVersionBlock {
    enum class Found {
        block,  // `block` holds the version information
        none,   // a program file without version information
        // Not plain enough to be sure what the system would take: not a
        // program file, or more than one version resource or language, or
        // language resources (MUI) the system may take the strings from.
        unsure,
    };
    Found found = Found::unsure;
    std::string block;
};

// The version resource (type 16, name 1) of a 32- or 64-bit PE file. Every
// offset is checked against the headers and sections it points into. The
// file is read 64 KiB at a time from the first byte wanted, so a small
// program takes one read and most others two or three; never more than a few
// dozen reads are made.
[[nodiscard]] ProgramVersionBlock read_program_version_block(const ReadAt& read);

}  // namespace qm::formats
