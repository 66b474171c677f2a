// Entries the program creates so that a program starts with the computer, and
// their removal. Every entry it makes carries the name "Quillmoor-{slug}" (a
// Run value of this user, a shortcut in this user's Startup folder) or lives
// in the task folder "\Quillmoor\"; creation always picks a free name and
// never overwrites, and removal refuses anything without that mark, so the
// program can never delete an entry it did not make.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "model/platform.h"
#include "os/run_tool.h"
#include "util/result.h"

namespace qm::windows {

// `admin`: whether the program runs with administrator rights.
[[nodiscard]] Result<model::CreatedEntry> create_own_entry(const model::CreateDetails& details, bool admin,
                                                           const os::ToolRunner& runner = os::run_tool);
[[nodiscard]] Result<model::ChangeOutcome> remove_own_entry(const model::StartupItem& item, bool admin,
                                                            const os::ToolRunner& runner = os::run_tool);

// The task folder of the program's own tasks.
inline constexpr std::string_view own_task_folder = "\\Quillmoor\\";

// `base`, then `base` + " 2" to " 99", then `base` + " " + the time: the
// first name that `taken` does not claim.
[[nodiscard]] std::string free_name(const std::string& base, const std::function<bool(const std::string&)>& taken);

// Whether a task of that path exists: schtasks.exe /Query /TN succeeds.
[[nodiscard]] bool task_exists(const std::string& task_path, const os::ToolRunner& runner);

// This user's Startup folder: APPDATA's "Microsoft\Windows\Start Menu\Programs\Startup".
[[nodiscard]] std::string user_startup_folder();

}  // namespace qm::windows
