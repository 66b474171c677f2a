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

// Every read below opens only regular files: the kind is checked on the open
// handle (opened without waiting, so a pipe or device named like a file never
// holds a reader up), and anything else fails with "Could not read {path}: it
// is not a regular file." (or "...: it is a folder.").

// The whole content of a file. Failure text names the file and the system's
// reason, e.g. "Could not read C:\x.json: The system cannot find the file specified."
[[nodiscard]] Result<std::string> read_file(const std::string& path);

// The most read_whole_file takes: files a change rewrites are read whole, and
// this bound keeps a stray huge file from filling the memory.
inline constexpr std::uint64_t whole_file_limit = 16ull << 20;

// The whole content of a file that is at most `limit` bytes; a larger file is
// refused, never cut: "Could not read {path}: it is larger than 16 MiB."
// Callers that write a file back read it through this.
[[nodiscard]] Result<std::string> read_whole_file(const std::string& path, std::uint64_t limit = whole_file_limit);

// Like read_file, but reads at most `max_bytes` + 1 bytes, so that a file that
// is too large costs no more memory than the limit: a result longer than
// `max_bytes` means the file is larger, and the caller refuses it.
[[nodiscard]] Result<std::string> read_file(const std::string& path, std::uint64_t max_bytes);

// The last `max_bytes` bytes of a file (all of it when it is shorter), read
// without touching the rest.
[[nodiscard]] Result<std::string> read_file_end(const std::string& path, std::uint64_t max_bytes);

// Writes `data` to a temporary file in the same folder, flushes it and renames
// it over `path`; on failure the temporary file is removed and `path` is left
// as it was. The new file keeps the mode and owner of the file it replaces
// (where the system has them); a file that was not there gets what
// `NewFile` asks. Before writing, the program's own temporary files that a
// killed run left in that folder (os/new_file.h) are removed.
struct NewFile {
    // Owned by the owner of its folder rather than by the process: a process
    // with root rights writing into someone else's folder leaves the file theirs.
    bool owner_from_folder = false;
    // Readable and writable by its owner only (0600) instead of the defaults.
    bool private_to_owner = false;
};
[[nodiscard]] Result<void> write_file_replace(const std::string& path, std::string_view data);
[[nodiscard]] Result<void> write_file_replace(const std::string& path, std::string_view data, NewFile new_file);

// The same for a path the user named: it writes only a new file or over a
// regular file. A folder, link, device, pipe or socket at `path` is left alone
// and refused: "Could not write {path}: it is a folder." or "...: it is not a
// regular file."
[[nodiscard]] Result<void> write_file_replace_regular(const std::string& path, std::string_view data);

// Appends `data` with one write call, creating the file when it is missing.
[[nodiscard]] Result<void> append_to_file(const std::string& path, std::string_view data);

// Appends one line (`line` ends with its line feed) with one write call,
// creating the file when it is missing. When the file does not end with a
// line feed (an earlier write was cut short) one goes first, in the same
// call, so the line always starts a line of its own. Appenders through this
// call take turns on a lock of the file, so none mistakes another's write in
// progress for a line cut short.
[[nodiscard]] Result<void> append_line(const std::string& path, std::string_view line);

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

// The system's reason out of this layer's failure text "Could not {action}
// {path}: {reason}", for callers that name the path in their own words; any
// other text comes back whole. The reason is taken after the last ": ",
// since a path may hold one and the system's reasons do not.
[[nodiscard]] inline std::string failure_reason(std::string_view error) {
    if (!error.starts_with("Could not ")) return std::string(error);
    const std::size_t colon = error.rfind(": ");
    return std::string(colon == std::string_view::npos ? error : error.substr(colon + 2));
}

}  // namespace qm::os
