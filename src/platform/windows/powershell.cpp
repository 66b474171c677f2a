#include "platform/windows/powershell.h"

namespace qm::win {

std::vector<std::string> powershell_arguments(std::string_view) { return {}; }
RunOutput run_powershell(const PowerShellRun&, const ToolRunner&) { return {}; }

}  // namespace qm::win
