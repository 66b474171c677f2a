#include <windows.h>

#include "os/windows/system_error.h"
#include "os/windows/wide.h"

namespace qm::os::windows {

std::string system_error(std::string_view what, unsigned long code) {
    return "Windows error " + std::to_string(code) + " on " + std::string(what) + ".";
}

std::string access_or_system_error(std::string_view what, unsigned long code) {
    if (code == ERROR_ACCESS_DENIED) return "Windows refused access to " + std::string(what) + ".";
    return system_error(what, code);
}

std::string failed_with_reason(std::string_view action, std::string_view subject, unsigned long code) {
    return std::string(action) + " " + std::string(subject) + ": " + error_text(code) + ".";
}

}  // namespace qm::os::windows
