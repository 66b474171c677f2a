// What the readers of Startup folders and task folders ask of an entry before
// they open it: whether it is a regular file (not a link, junction or device,
// which could make the reader open something outside the folder), and where
// a folder really is, so a folder reached again through a link is read once.
// Thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qm::windows {

enum class EntryKind { regular, not_regular, missing };

[[nodiscard]] EntryKind entry_kind(const std::string& path);

// The same with the size and last-write time of a regular file, in one call
// (for a file the system will not describe, as missing).
struct EntryInfo {
    EntryKind kind = EntryKind::missing;
    std::uint64_t size = 0;
    std::uint64_t written = 0;  // as a Windows file time
};
[[nodiscard]] EntryInfo entry_info(const std::string& path);

// The folder's final path with every link resolved, spelled as the file
// system spells it ("C:\Windows\System32\Tasks"; the "\\?\" prefix only where
// the path is not on a drive letter); none when it cannot be opened.
[[nodiscard]] std::optional<std::string> final_folder_path(const std::string& folder);

}  // namespace qm::windows
