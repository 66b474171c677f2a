#include "platform/windows/program_lists.h"

namespace qm::win {

ProgramList list_running_programs(const std::vector<StartupItem>&) {
    return ProgramList{{}, {"The list of running programs could not be read."}};
}

}  // namespace qm::win
