// Files put back exactly. Before and after a switch, the paths it may touch
// are read as they are on disk (bytes, mode, owner, link target, or absence);
// the paths it changed are kept in the memory folder under the item's
// identity. The opposite switch of the same item, while those paths are still
// exactly as the switch left them, puts every one of them back as it was,
// instead of editing them anew; otherwise it edits them as usual. So an undo,
// a restore or switching back by hand leaves the files byte for byte as they
// were, whatever the editing rules would have written. Also: files and
// folders made for another account while running as root are given to the
// owner of the folder they are made in. Thread-safe; no state.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "model/platform.h"
#include "platforms/linux/linux_system.h"

namespace qm::linux {

enum class PathStateKind { missing, file, link, folder, other };

// One path as it is on this machine, followed by nothing: a link is itself.
struct PathState {
    std::string path;
    PathStateKind kind = PathStateKind::missing;
    std::string data;  // the bytes of a file, the target of a link (nothing for a folder)
    std::uint32_t mode = 0;
    std::uint32_t uid = 0;
    std::uint32_t gid = 0;
    friend bool operator==(const PathState&, const PathState&) = default;
};

// A file larger than the whole-file limit reads as `other` (never restored).
[[nodiscard]] PathState read_path_state(const std::string& path);
// Makes `path` what `state` says: removes it (a folder only when empty),
// writes the file (through a temporary file, then its mode and owner), makes
// the link (and its owner) or the folder.
[[nodiscard]] Result<void> put_back(const PathState& state);

struct RememberedChange {
    bool on = false;
    std::vector<PathState> before;
    std::vector<PathState> after;  // the same paths, in the same order
};

// Kept per item and root folder (`root` empty for "/"), so a test root's
// records never apply to another computer.
[[nodiscard]] std::optional<RememberedChange> recall_change(const std::string& folder, const std::string& root,
                                                            const std::string& id);
[[nodiscard]] Result<void> remember_change(const std::string& folder, const std::string& root, const std::string& id,
                                           const RememberedChange& change);
// The items of `root` whose last remembered switch was off: a template's
// instance switched off has no link left that would list it, and so is
// listed from here, still off, for switching it on again.
[[nodiscard]] std::vector<std::string> items_switched_off(const std::string& folder, const std::string& root);

// The paths on this machine a switch may touch; called before and after it.
using TouchedPaths = std::function<std::vector<std::string>()>;
using Switch = std::function<Result<model::ChangeOutcome>()>;

// Switches `item` on or off through `edit`, unless the last remembered change
// of the item went the other way and left files that are still as it left
// them: then those are put back and `after_put_back` (what else the
// system needs then, such as telling the service manager) gives the outcome. Either
// way what this switch changed is remembered (when the context has a memory
// folder; a failure to remember becomes a note, the switch stands).
[[nodiscard]] Result<model::ChangeOutcome> switch_exactly(const LinuxContext& context, const model::StartupItem& item,
                                                          bool on, const TouchedPaths& paths, const Switch& edit,
                                                          const Switch& after_put_back);

// Running as root, gives `path` (a file, folder or link just made) to the
// owner of the folder it is in, so a file made in another account's home
// stays that account's. Nothing happens otherwise.
void give_to_folder_owner(const std::string& path);
// create_folders, each folder made now given to its parent's owner.
[[nodiscard]] Result<void> create_folders_owned(const std::string& path);

}  // namespace qm::linux
