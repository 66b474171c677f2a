// What each change of the history did to starting: the figures of the
// sign-ins and boots measured before it, kept in its record, beside those of
// the ones measured since it was made. The computer's records are read only
// when some change kept figures. Thread-safe through the context.
#pragma once

#include <vector>

#include "engine/engine_context.h"
#include "engine/journal.h"

namespace qm::engine {

// Fills each entry's startup_effects.
void add_startup_effects(EngineContext& context, std::vector<HistoryEntry>& history);

// Said once under a history that shows such lines.
inline constexpr std::string_view startup_effects_note =
    "Sign-in figures are the processor time the programs started at sign-in used; boot figures are how long the "
    "boot took. Each is the average of the starts measured.";

}  // namespace qm::engine
