// Whether a change made starting quicker: the sign-ins and boots the
// computer's records measured, the figures of those measured before a change
// (kept in the change's journal record) and of those measured after it, and
// the lines the history shows. A sign-in's figure is the processor time the
// programs it started used; a boot's is how long it took. A figure is an
// average over the starts measured, and nothing is said of a side that has
// no start measured. Plain values and pure functions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "json/json.h"

namespace qm::model {

enum class StartKind { sign_in, boot };

struct MeasuredStart {
    StartKind kind = StartKind::sign_in;
    std::optional<std::int64_t> at;  // when it happened, in seconds since 1970 (UTC), where known
    std::uint64_t ms = 0;
};

struct StartFigure {
    std::uint64_t ms = 0;       // the average
    std::uint32_t measured = 0;  // over this many starts, at least one
};

struct StartFigures {
    std::optional<StartFigure> sign_in;
    std::optional<StartFigure> boot;
    [[nodiscard]] bool empty() const { return !sign_in && !boot; }
};

// The figures of every start given, or, with `after`, of those known to have
// happened later than it.
[[nodiscard]] StartFigures start_figures(const std::vector<MeasuredStart>& starts,
                                         std::optional<std::int64_t> after = std::nullopt);

// {"sign_in": {"ms", "measured"}, "boot": {...}}, each kind only when known.
[[nodiscard]] json::JsonValue start_figures_json(const StartFigures& figures);
// Leniently: a kind whose count is missing or zero is not known.
[[nodiscard]] StartFigures start_figures_from_json(const json::JsonValue& object);

// One line per kind measured before the change, e.g. "Sign-in: 38.2 s before
// (3 measured), 31.5 s after (2 measured)", or "Boot: 52 s before (5
// measured); none measured since" while nothing later has been measured.
[[nodiscard]] std::vector<std::string> change_effect_lines(const StartFigures& before, const StartFigures& after);

}  // namespace qm::model
