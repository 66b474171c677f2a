// The programs that could be made to start with the computer: those running
// now (one candidate per program file, with every process id, and the running
// services that start only on demand) and those installed through the Start
// menu (one candidate per program a shortcut starts). `items` is the last
// scan, used only to tell which programs already start. Unreadable processes,
// folders and shortcuts are skipped. Thread-safe.
#pragma once

#include <vector>

#include "model/platform.h"

namespace qm::windows {

[[nodiscard]] model::ProgramList list_running_programs(const std::vector<model::StartupItem>& items);
[[nodiscard]] model::ProgramList list_installed_programs(const std::vector<model::StartupItem>& items);

// For the self-check: how many processes could be inspected, and how many of
// them gave their command line.
struct ProcessCensus {
    std::size_t inspected = 0;
    std::size_t with_command_line = 0;
};
[[nodiscard]] ProcessCensus count_processes();

}  // namespace qm::windows
