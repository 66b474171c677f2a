#include "platform/windows/tasks.h"

namespace qm::win {

void scan_tasks(const std::vector<std::string>&, bool, ProgramFacts&, ScanResult&, const ToolRunner&) {}
Result<ChangeOutcome> switch_task(const StartupItem& item, bool, bool, const ToolRunner&) {
    return fail(unsupported_kind_message(item.kind));
}

}  // namespace qm::win
