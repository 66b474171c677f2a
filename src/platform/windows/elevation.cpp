#include "platform/windows/elevation.h"

namespace qm::win {

std::string join_windows_arguments(const std::vector<std::string>&) { return {}; }
Result<void> restart_elevated(const std::vector<std::string>&, const ToolRunner&) {
    return fail("Windows did not start the administrator copy (the prompt was declined or is unavailable).");
}
void open_in_browser(const std::string&, bool, const ToolRunner&) {}

}  // namespace qm::win
