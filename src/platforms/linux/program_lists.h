// The running programs (from /proc, one candidate per program file with all
// its process ids) and the installed programs (the desktop entries of the
// knowledge's `app_dirs`) that could be made to start. Each is linked to the
// startup item that already starts it. Thread-safe; no state.
#pragma once

#include <string>
#include <vector>

#include "model/platform.h"
#include "platforms/linux/linux_system.h"

namespace qm::linux {

struct ProcessCount {
    std::size_t inspected = 0;
    std::size_t with_command_line = 0;
};

[[nodiscard]] model::ProgramList list_running(const LinuxContext& context, const std::vector<model::StartupItem>& items,
                                              ProcessCount* count = nullptr);
[[nodiscard]] model::ProgramList list_installed(const LinuxContext& context,
                                                const std::vector<std::string>& app_folders,
                                                const std::vector<model::StartupItem>& items);

}  // namespace qm::linux
