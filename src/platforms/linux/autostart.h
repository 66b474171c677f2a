// Desktop entries that start at sign-in (XDG autostart): the system folders
// and the user's folder of the knowledge's `autostart_dirs`, where a user
// file replaces a system file of the same name. `Hidden=true` or
// `X-GNOME-Autostart-enabled=false` mean off. Switching off writes a copy
// into the user's folder with Hidden=true and the program's own mark, so the
// system file is never touched; switching on removes that copy again (only
// when it carries the mark), and otherwise writes Hidden=false. Every file is
// written whole through a temporary file. Thread-safe; no state.
#pragma once

#include <string>
#include <vector>

#include "model/platform.h"
#include "platforms/linux/linux_system.h"

namespace qm::linux {

// The key the program's own copies carry, so it removes only those.
inline constexpr std::string_view own_override_key = "X-Quillmoor-Override";

// The user's folder: the first folder of the list that begins with "~"
// (expanded), or ~/.config/autostart.
[[nodiscard]] std::string user_autostart_folder(const LinuxContext& context, const std::vector<std::string>& folders);

// The user's folder as the list names it ("~/.config/autostart"): the
// location of the items found in it.
[[nodiscard]] std::string listed_user_autostart_folder(const std::vector<std::string>& folders);

// The text of the file in force for an autostart item (spec `fname`): the
// user's file of that name when there (a link read through), else the
// system file.
[[nodiscard]] Result<std::string> autostart_text_in_force(const LinuxContext& context,
                                                          const std::vector<std::string>& folders,
                                                          const model::StartupItem& item);

// Appends one item per file name, with spec `fname`, `file` (the file in
// force), `user_dir` ("1" when that file is the user's).
void scan_autostart(const LinuxContext& context, const std::vector<std::string>& folders, model::ScanResult& result);

[[nodiscard]] Result<model::ChangeOutcome> switch_autostart(const LinuxContext& context,
                                                            const std::vector<std::string>& folders,
                                                            const model::StartupItem& item, bool on);

}  // namespace qm::linux
