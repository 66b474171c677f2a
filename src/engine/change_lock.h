// The one change at a time. Every change of the computer (apply, undo,
// restore; from the command line or the window) holds an exclusive lock on
// "change.lock" in the data folder from before its plan is checked again
// until its journal record is written, so that two runs never read the same
// file and each write back their own copy, and the journal's numbers are
// given out in turn. A run that finds the lock taken waits a bounded time,
// then gives up with a sentence that says so. While the lock is held, what
// a killed run left behind is settled first: its own temporary files in the
// data folder are removed, and each change it had begun (an intent in the
// journal without an outcome) is checked against the computer and recorded
// as made or not made.
#pragma once

#include <cstdint>
#include <string_view>

#include "engine/engine_context.h"
#include "os/file_lock.h"
#include "util/result.h"

namespace qm::engine {

inline constexpr std::string_view change_lock_file_name = "change.lock";

// Takes the lock, creating the data folder when needed, and settles what a
// killed run left. Fails, changing nothing, when the data folder cannot be
// written (the history could not be kept) or another run kept the lock for
// the whole of the context's wait.
[[nodiscard]] Result<os::FileLock> lock_for_changes(EngineContext& context);

// For a caller that holds the lock: checks every open intent of the write
// folder's journal against the computer and writes its record. Gives how
// many were settled.
std::size_t settle_interrupted_changes(EngineContext& context);

// Before the history is shown: when the write folder's journal holds open
// intents and no other run holds the lock, takes it for a moment and settles
// them, so that the history shows what a killed run did.
void settle_when_idle(EngineContext& context);

}  // namespace qm::engine
