// The second source of a scan: the Startup folders that the knowledge in
// force lists. Every file in them (not in their sub-folders) but desktop.ini
// becomes a "folder" item; a shortcut's target and arguments are its command,
// any other file (or a damaged shortcut) is its own command. Only regular
// files are opened; a link or device is listed by its own path, unread, and
// such entries and unreadable shortcuts are counted in a note (and are never
// judged harmless). Switched through the approval flag "StartupFolder". Each
// item carries when it was last written: the file's time, or the approval
// key's when that is newer and holds its flag. A missing folder adds nothing.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "knowledge/knowledge_pack.h"
#include "model/platform.h"
#include "model/startup_item.h"
#include "platforms/windows/program_files.h"

namespace qm::windows {

// The folder of a location: the folder its environment variable names, with
// the location's sub-folder; none when the variable is not set.
[[nodiscard]] std::optional<std::string> startup_folder_path(const knowledge::StartupFolderLocation& location);

void scan_startup_folders(const std::vector<knowledge::StartupFolderLocation>& locations, bool admin,
                          ProgramFacts& programs, model::ScanResult& result);

}  // namespace qm::windows
