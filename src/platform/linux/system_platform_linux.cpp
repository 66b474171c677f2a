#include "platform/files.h"
#include "platform/linux/linux_platform.h"
#include "platform/system_platform.h"

namespace qm {

Result<std::unique_ptr<Platform>> make_system_platform(LocationsSource locations) {
    linux_platform::LinuxContext context;
    context.root = linux_platform::root_from_environment();
    context.facts = linux_platform::read_linux_facts(context.root);
    context.runner = [](const ToolRun& run) { return run_tool(run); };
    // The same test systemd itself makes: a running manager has this folder.
    context.systemd_running = !context.root.is_test_root() && os::path_kind("/run/systemd/system") == os::PathKind::folder;
    return std::make_unique<linux_platform::LinuxPlatform>(std::move(context), std::move(locations));
}

}  // namespace qm
