#include "model/assessment.h"

namespace qm::model {

std::string_view level_name(Level level) {
    switch (level) {
        case Level::safe:
            return "safe";
        case Level::low:
            return "low";
        case Level::caution:
            return "caution";
        case Level::high:
            return "high";
        case Level::critical:
            return "critical";
        case Level::unknown:
            return "unknown";
    }
    return "unknown";
}

std::optional<Level> parse_level(std::string_view name) {
    for (Level level : {Level::safe, Level::low, Level::caution, Level::high, Level::critical, Level::unknown}) {
        if (level_name(level) == name) return level;
    }
    return std::nullopt;
}

bool needs_ack(Level level) { return level == Level::caution || level == Level::high || level == Level::unknown; }

json::JsonValue assessment_json(const Assessment& assessment) {
    return json::ObjectBuilder()
        .string("level", std::string(level_name(assessment.level)))
        .string("effect", assessment.effect)
        .strings("reasons", assessment.reasons)
        .string("confidence", std::string(word_text(assessment.confidence)))
        .flag("critical", assessment.level == Level::critical)
        .flag("needs_ack", needs_ack(assessment.level))
        .done();
}

}  // namespace qm::model
