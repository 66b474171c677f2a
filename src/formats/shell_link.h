// Reads shell link (.lnk) files: the program they start (the local base path
// followed by the common path suffix of the link info, or else the target of
// the environment-variable block, unexpanded), its arguments and its working
// directory. Every field is checked against the bytes given before it is
// read; a file too short for a field it announces, or whose NUL-terminated
// strings run past their structure, is not a link. Counted strings end at
// their first NUL, as the system's link object hands them out. Pure and
// thread-safe; nothing is allocated beyond a small multiple of the input size.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm::formats {

struct ShellLink {
    std::string target;  // empty when the link names no file (e.g. a network-only or app link)
    std::string arguments;
    std::string working_directory;
};

// Nothing when the bytes are not a shell link. Text is UTF-8; single-byte
// strings are read as Windows-1252.
[[nodiscard]] std::optional<ShellLink> read_shell_link(std::string_view bytes);

}  // namespace qm::formats
