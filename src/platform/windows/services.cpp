#include "platform/windows/services.h"

namespace qm::win {

ServiceStates read_service_states() { return {}; }
void scan_services(bool, ProgramFacts&, ScanResult&) {}
Result<ChangeOutcome> switch_service(const StartupItem& item, bool, bool, const std::string&, const ToolRunner&) {
    return fail(unsupported_kind_message(item.kind));
}

}  // namespace qm::win
