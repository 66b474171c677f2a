// Undo: reverses one successful change from the journal by its sequence
// number. The opposite change is a request like any other and goes the same
// road as every change (plan, decision, backup, platform call, journal); the
// journal record says it undoes that number, so the history then shows the
// change as undone. Making an entry again always asks first. Thread-safe
// through the context.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/engine_context.h"
#include "util/result.h"

namespace qm::engine {

// Why a record of something a watch saw change is not undone.
inline constexpr std::string_view observation_refusal =
    "That record is an observation of what changed on the computer; Quillmoor made no change there, so there is "
    "nothing to undo.";

// What was done, in a sentence. Fails with needs_decision (the sentence is
// the question to ask; ask again with `ack` once the user agrees), with
// needs_admin, or with the reason it cannot be undone.
[[nodiscard]] Result<std::string> undo_change(EngineContext& context, std::uint64_t seq, bool ack);

}  // namespace qm::engine
