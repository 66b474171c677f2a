// Starting the program again with administrator rights, and opening a link
// in the user's browser without passing administrator rights on to it.
// Thread-safe.
#pragma once

#include <string>
#include <vector>

#include "os/run_tool.h"
#include "util/result.h"

namespace qm::windows {

// The arguments joined into one command line by the Windows quoting rules,
// so each reaches the new process exactly as given.
[[nodiscard]] std::string join_windows_arguments(const std::vector<std::string>& arguments);

// Asks Windows (through PowerShell's RunAs) to start this program with the
// arguments; succeeds once the elevated copy has started.
[[nodiscard]] Result<void> restart_elevated(const std::vector<std::string>& arguments,
                                            const os::ToolRunner& runner = os::run_tool);

// Writes "quillmoor-open-{16 random hex digits}.url" into the folder, a
// shortcut file through which explorer.exe opens the link; returns its path.
// Refuses a link that holds a line break or another control character.
[[nodiscard]] Result<std::string> write_browser_link_file(const std::string& folder, const std::string& link);

// Never fails and reports nothing. With administrator rights the link goes
// through a temporary ".url" file opened by explorer.exe, so the browser
// starts with ordinary rights.
void open_in_browser(const std::string& link, bool admin, const os::ToolRunner& runner = os::run_tool);

}  // namespace qm::windows
