// Files and folders by UTF-8 path. "Absent" is a normal answer, kept apart
// from "failed": a missing file is reported by its own state, not only as an
// error text. Whole files are replaced atomically (temporary file beside the
// target, then one rename); appends are one write call each. All calls are
// thread-safe in the sense that they share no state of their own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "util/result.h"

namespace qm::os {

// The separator this system writes between path parts ('\\' or '/').
char path_separator();

// a + separator + b, without doubling a separator that a already ends with.
[[nodiscard]] std::string join_path(std::string_view a, std::string_view b);

enum class PathKind { missing, file, folder, other };
[[nodiscard]] PathKind path_kind(const std::string& path);

// The whole content of a file. Failure text names the file and the system's
// reason, e.g. "Could not read C:\x.json: The system cannot find the file specified."
[[nodiscard]] Result<std::string> read_file(const std::string& path);

// Like read_file, but reads at most `max_bytes` + 1 bytes, so that a file that
// is too large costs no more memory than the limit: a result longer than
// `max_bytes` means the file is larger, and the caller refuses it.
[[nodiscard]] Result<std::string> read_file(const std::string& path, std::uint64_t max_bytes);

// Writes `data` to a temporary file in the same folder, flushes it and renames
// it over `path`; on failure the temporary file is removed and `path` is left
// as it was.
[[nodiscard]] Result<void> write_file_replace(const std::string& path, std::string_view data);

// Appends `data` with one write call, creating the file when it is missing.
[[nodiscard]] Result<void> append_to_file(const std::string& path, std::string_view data);

// Creates one folder. true when it was created now, false when it existed.
[[nodiscard]] Result<bool> create_folder(const std::string& path);

// Creates a folder and every missing parent.
[[nodiscard]] Result<void> create_folders(const std::string& path);

// Renames, replacing an existing target.
[[nodiscard]] Result<void> rename_replace(const std::string& from, const std::string& to);

// Removes a file; removing a file that is already missing succeeds.
[[nodiscard]] Result<void> remove_file(const std::string& path);

struct FolderEntry {
    std::string name;  // name only, no folder part
    bool is_folder = false;
    std::uint64_t size = 0;
    std::int64_t modified_unix = 0;  // seconds since 1970 UTC
};

// The entries of a folder (without "." and ".."), in no particular order.
[[nodiscard]] Result<std::vector<FolderEntry>> list_folder(const std::string& path);

// Removes a folder and everything in it; used for test and demonstration folders.
[[nodiscard]] Result<void> remove_tree(const std::string& path);

}  // namespace qm::os
