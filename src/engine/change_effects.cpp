#include "engine/change_effects.h"

#include <algorithm>

#include "util/time_text.h"

namespace qm::engine {

void add_startup_effects(EngineContext& context, std::vector<HistoryEntry>& history) {
    const bool any = std::any_of(history.begin(), history.end(),
                                 [](const HistoryEntry& entry) { return !entry.record.startup_before.empty(); });
    if (!any) return;
    const model::StartupCost now = context.startup_cost();
    for (HistoryEntry& entry : history) {
        const model::StartFigures& before = entry.record.startup_before;
        if (before.empty()) continue;
        // A change whose time cannot be read has nothing measured after it.
        const std::optional<std::int64_t> made = read_time_text(entry.record.time);
        const model::StartFigures after =
            made ? model::start_figures(now.starts, made) : model::StartFigures{};
        entry.startup_effects = model::change_effect_lines(before, after);
    }
}

}  // namespace qm::engine
