// Starting a sign-in program of this user (a value of this user's Run key or
// a shortcut in this user's Startup folder) some time after sign-in: a task
// of the program's own in "\Quillmoor\" runs the same command with a delayed
// sign-in trigger while the entry itself is switched off through its
// approval flag; taking it back puts the approval value back as it was and
// deletes the task. Only this user's entries take it: the approval flag of a
// machine-wide entry switches it for everyone. Runs on the caller's thread;
// schtasks.exe runs through the given runner.
#pragma once

#include <cstdint>

#include "model/platform.h"
#include "os/run_tool.h"
#include "util/result.h"

namespace qm::windows {

// Whether the scanned item can start later this way: this user's Run value
// or shortcut, switched through its approval flag, whose command is known.
[[nodiscard]] bool can_start_later(const model::StartupItem& item);

// Makes the own task that starts the item `seconds` after sign-in, then
// switches the item off; when switching off fails the task is deleted again.
// The outcome names the task item as a scan lists it.
[[nodiscard]] Result<model::WayOutcome> start_after_sign_in(const model::StartupItem& item, std::uint32_t seconds,
                                                            const os::ToolRunner& runner = os::run_tool);

// Puts the item's approval value back as the own task `own_entry` recorded
// it, then deletes the task; when the task cannot be deleted, the item is
// switched off again.
[[nodiscard]] Result<model::WayOutcome> start_on_time(const model::StartupItem& item,
                                                      const model::StartupItem* own_entry,
                                                      const os::ToolRunner& runner = os::run_tool);

}  // namespace qm::windows
