#include "platform/windows/system_facts.h"

namespace qm::win {

std::string os_version_text(std::string_view, std::string_view, std::string_view) { return {}; }
std::string read_os_version(HKEY, std::string_view) { return {}; }
SystemFacts read_system_facts() {
    SystemFacts facts;
    facts.os = "windows";
    return facts;
}

}  // namespace qm::win
