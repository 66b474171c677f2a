// Where the program finds the system's own tools (sc.exe, schtasks.exe,
// powershell.exe, curl.exe). On Windows a tool is always started by its full
// path below the system folder (GetSystemDirectoryW), never by a search: the
// search would take a file of that name from the folder the program sits in
// (often Downloads) or the working folder first, and an administrator's run
// would start it elevated. Only a build made with the CMake option
// QUILLMOOR_TOOL_STANDINS (off by default, on in the test presets alone)
// takes a tool of that file name from the tests' stand-in folder fixed at
// build time, when one is there; nothing at run time can add a folder.
// Elsewhere than on Windows the name is returned as given and the search path
// decides, as before. Thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace qm::os {

// `relative_path` is below the system folder, e.g. "sc.exe" or
// "WindowsPowerShell\v1.0\powershell.exe".
[[nodiscard]] std::string system_tool(std::string_view relative_path);

// Whether this build looks for stand-in tools at all (test builds only).
[[nodiscard]] bool tool_standins_built_in();

}  // namespace qm::os
