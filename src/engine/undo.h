// Undo: reverses one successful change from the journal by its sequence
// number. The opposite change is planned like any other; a risky one asks
// first (a message beginning "CONFIRM: " is a question, and the caller asks
// again with ack once the user agrees); the undo itself is journalled, so the
// history then shows the change as undone. Thread-safe through the context.
#pragma once

#include <cstdint>
#include <string>

#include "engine/engine_context.h"

namespace qm::engine {

struct UndoResult {
    bool ok = false;
    std::string message;
    bool admin = false;  // it failed for want of administrator rights
};

[[nodiscard]] UndoResult undo_change(EngineContext& context, std::uint64_t seq, bool ack);

}  // namespace qm::engine
