// The judgement attached to every startup item: how serious switching it off
// would be (Level), what would happen, why, and how sure the program is.
// Plain values; the rules that fill them live with the knowledge.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/json.h"
#include "model/words.h"

namespace qm::model {

// In this order; comparisons between levels follow it. `unknown` is used only
// by the assessment, never by a rule.
enum class Level { safe, low, caution, high, critical, unknown };

[[nodiscard]] std::string_view level_name(Level level);

// Exact lower-case names only ("safe" ... "unknown").
[[nodiscard]] std::optional<Level> parse_level(std::string_view name);

// critical: such a change is refused. caution, high, unknown: such a change
// needs the user's explicit confirmation.
[[nodiscard]] bool needs_ack(Level level);

struct Assessment {
    std::string effect;
    std::vector<std::string> reasons;
    Confidence confidence = Confidence::low;
    Level level = Level::unknown;
};

// {level, effect, reasons, confidence, critical, needs_ack}
[[nodiscard]] json::JsonValue assessment_json(const Assessment& assessment);

}  // namespace qm::model
