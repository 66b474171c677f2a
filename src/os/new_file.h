// Writing a file that must not replace another: the data goes to a temporary
// file beside the target, which is then given the target's name only when no
// file of that name exists, in one step of the file system. Also a file only
// this user may read, and the sweep of the temporary files a killed run left
// behind. Thread-safe.
#pragma once

#include <chrono>
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

// Creates a new file that only this user can read or write (mode 0600; on
// Windows it keeps the folder's own access rules, which in the user's
// profile admit only the user) and writes `data` to it. Fails when a file
// of that name exists.
[[nodiscard]] Result<void> write_private_file(const std::string& path, std::string_view data);

// A file this process made as root for the user who ran it through sudo is
// handed to that user (owner and group from SUDO_UID and SUDO_GID), so that
// the program it opens on that user's behalf can read it. Does nothing in
// any other case, and on Windows.
void give_to_invoking_user(const std::string& path);

// Whether `name` is one of the temporary names this program gives a file it
// is writing: "{target}.{12 or 16 hex digits}.tmp" or "{target}.{12 or 16 hex
// digits}.partial".
[[nodiscard]] bool is_own_temporary_name(std::string_view name);

// Removes the program's own temporary files in `folder` that were last
// written at least `min_age` ago: those of a run that was killed while
// writing. The age spares a file another run is writing right now. Gives
// how many were removed.
std::size_t remove_stale_temporaries(const std::string& folder, std::chrono::seconds min_age);

// The age after which a temporary file of the program's own is taken to be
// a killed run's: no write takes this long.
constexpr std::chrono::seconds stale_temporary_age{10};

}  // namespace qm::os
