// Judging startup items: how a rule pattern matches a name, which names of an
// item are tried, and the assessment of one item from the built-in pack and
// the installed knowledge (an update may raise or confirm a built-in level,
// never lower it), word hints, and the fall-backs for items nobody knows.
// An Assessor indexes the rule lists once and then judges any number of items;
// it only reads the packs it was given, which must outlive it.
#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "knowledge/knowledge_pack.h"
#include "model/startup_item.h"

namespace qm::knowledge {

// One pattern against one name, both lower-case: "*core*" contains, "*core"
// ends with, "core*" begins with, "core" equals. An empty name never matches.
[[nodiscard]] bool pattern_matches(std::string_view pattern, std::string_view name);

// The lower-cased names an item is known by, in the order they are tried.
[[nodiscard]] std::vector<std::string> candidate_names(const model::StartupItem& item);

// A rule list with its exact-name patterns indexed, giving the same answer as
// trying the rules in order.
class RuleIndex {
public:
    explicit RuleIndex(const std::vector<KnowledgeRule>& rules);
    // The first rule in list order that matches any of the names, or nullptr.
    [[nodiscard]] const KnowledgeRule* find(const std::vector<std::string>& names) const;

private:
    enum class Widening { contains, ends_with, begins_with };
    struct WideningRule {
        std::size_t index;
        Widening how;
        std::string core;  // the pattern without its end stars
    };
    const std::vector<KnowledgeRule>& rules_;
    std::unordered_map<std::string, std::size_t> first_exact_;
    std::vector<WideningRule> widening_;  // rules with a star at an end, in order
};

class Assessor {
public:
    // `installed_source` is "update {version}" or "local".
    Assessor(const KnowledgePack& builtin, const KnowledgePack& installed, std::string installed_source,
             std::string_view platform);

    [[nodiscard]] model::Assessment assess(const model::StartupItem& item) const;

private:
    const KnowledgePack& builtin_;
    const KnowledgePack& installed_;
    std::string installed_source_;
    RuleIndex builtin_rules_;
    RuleIndex installed_rules_;
};

}  // namespace qm::knowledge
