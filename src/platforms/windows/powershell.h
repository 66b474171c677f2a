// Runs a PowerShell script through powershell.exe: the script is given UTF-8
// output and no progress display, encoded as UTF-16LE and Base64, and passed
// with -EncodedCommand. Values reach a script only through environment
// variables named QM_*, never inside its text. Thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "os/run_tool.h"

namespace qm::windows {

struct PowerShellRun {
    std::string script;
    std::vector<std::pair<std::string, std::string>> environment;  // each name begins with QM_
    unsigned time_limit_seconds = 60;
};

// The six arguments powershell.exe gets for a script.
[[nodiscard]] std::vector<std::string> powershell_arguments(std::string_view script);

[[nodiscard]] os::RunOutput run_powershell(const PowerShellRun& run, const os::ToolRunner& runner = os::run_tool);

}  // namespace qm::windows
