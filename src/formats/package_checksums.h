// The checksum lists a package database keeps for each package's files
// (dpkg's info/<package>.md5sums): one line per file, 32 hexadecimal digits,
// two spaces (or a space and a star) and the file's path without its leading
// slash. Text in, one checksum out; lines that are not that form are skipped.
// Pure and thread-safe.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qm::formats {

// The lower-cased checksum the list records for the absolute `path`, if it
// lists the path.
[[nodiscard]] std::optional<std::string> recorded_md5(std::string_view list, std::string_view path);

}  // namespace qm::formats
