#include "platform/windows/program_lists.h"

namespace qm::win {

ProgramList list_installed_programs(const std::vector<StartupItem>&) {
    return ProgramList{{}, {"No installed programs were found in the Start menu."}};
}

}  // namespace qm::win
