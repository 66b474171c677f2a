// The fourth source of a scan: scheduled tasks with a sign-in or boot trigger,
// read from the task definition files under the task roots (or, when none
// can be read, from schtasks.exe /Query /XML); switching them with
// schtasks.exe; and the program's own boot task: its definition document,
// the file it is registered from, registering and deleting it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "model/platform.h"
#include "platform/run_tool.h"
#include "platform/windows/program_files.h"
#include "util/result.h"

namespace qm::win {

// Appends task items and at most one note.
void scan_tasks(const std::vector<std::string>& task_roots, bool admin, ProgramFacts& programs, ScanResult& result,
                const ToolRunner& runner = run_tool);

[[nodiscard]] Result<ChangeOutcome> switch_task(const StartupItem& item, bool on, bool admin,
                                                const ToolRunner& runner = run_tool);

}  // namespace qm::win
