// Writing a file that must not replace another: the data goes to a temporary
// file beside the target, which is then given the target's name only when no
// file of that name exists, in one step of the file system. Thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "util/result.h"

namespace qm::os {

// true when the file was written; false when a file of that name exists
// (nothing is written then); an error when writing failed.
[[nodiscard]] Result<bool> write_file_new(const std::string& path, std::string_view data);

// Renames `from` to `to` unless `to` exists: true when renamed, false when
// `to` exists.
[[nodiscard]] Result<bool> rename_no_replace(const std::string& from, const std::string& to);

}  // namespace qm::os
