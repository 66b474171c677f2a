// Faults a knowledge pack can carry that the parser cannot see: rules that
// can never be reached, update rules that try to lower a built-in judgement,
// per-user service rules that miss the names Windows gives the services, and
// effect texts too short to tell the user what stops.
#include <gtest/gtest.h>

#include <array>
#include <set>

#include "knowledge/assessment.h"
#include "knowledge/builtin_pack.h"
#include "knowledge/pack_files.h"
#include "util/text.h"

namespace qm {
namespace {

// Whether every name that pattern `later` matches is also matched by
// `earlier`, so that `later`, coming after it in the same list, never wins.
bool covers(std::string_view earlier, std::string_view later) {
    auto form = [](std::string_view p) {
        const bool lead = p.starts_with('*');
        const bool trail = p.size() > 1 && p.ends_with('*');
        std::size_t begin = p.find_first_not_of('*');
        std::size_t end = p.find_last_not_of('*');
        std::string_view core = begin == std::string_view::npos ? std::string_view() : p.substr(begin, end - begin + 1);
        return std::pair<int, std::string_view>(lead && trail ? 3 : lead ? 2 : trail ? 1 : 0, core);
    };
    auto [a, core_a] = form(earlier);
    auto [b, core_b] = form(later);
    switch (a) {
        case 0:
            return b == 0 && core_a == core_b;
        case 1:
            return (b == 0 || b == 1) && core_b.starts_with(core_a);
        case 2:
            return (b == 0 || b == 2) && core_b.ends_with(core_a);
        default:
            return core_b.find(core_a) != std::string_view::npos;
    }
}

std::vector<std::string> shadowed_rules(const knowledge::KnowledgePack& pack) {
    std::vector<std::string> found;
    for (std::string_view platform : knowledge::knowledge_platforms) {
        const std::vector<knowledge::KnowledgeRule>& rules = pack.rules_for(platform);
        for (std::size_t later = 0; later < rules.size(); ++later) {
            for (std::size_t earlier = 0; earlier < later; ++earlier) {
                if (covers(rules[earlier].pattern, rules[later].pattern)) {
                    found.push_back(std::string(platform) + ": \"" + rules[earlier].pattern + "\" hides \"" +
                                    rules[later].pattern + "\"");
                }
            }
        }
    }
    return found;
}

std::optional<knowledge::KnowledgePack> update_pack() {
    std::optional<std::string> text = test::source_file(test::update_pack_path);
    if (!text) return std::nullopt;
    Result<knowledge::KnowledgePack> pack = knowledge::parse_pack(*text);
    if (!pack) ADD_FAILURE() << pack.error();
    return pack ? std::optional<knowledge::KnowledgePack>(std::move(*pack)) : std::nullopt;
}

TEST(PackConsistency, CoveringIsDecidedByTheShapeOfBothPatterns) {
    EXPECT_TRUE(covers("teams*", "teams"));
    EXPECT_TRUE(covers("teams*", "teamspeak*"));
    EXPECT_FALSE(covers("teams*", "msteams*"));
    EXPECT_TRUE(covers("*update*", "dropboxupdate*"));
    EXPECT_TRUE(covers("*update*", "*edgeupdate*"));
    EXPECT_FALSE(covers("*edgeupdate*", "*update*"));
    EXPECT_TRUE(covers("*.updater", "com.google.updater"));
    EXPECT_FALSE(covers("*.updater", "*.updater*"));
    EXPECT_TRUE(covers("rpcss", "rpcss"));
    EXPECT_FALSE(covers("rpcss", "rpcss*"));

    knowledge::KnowledgePack pack;
    pack.rules[0] = {{"dell*", "A Dell utility.", model::Level::low},
                     {"dell encryption*", "Encryption.", model::Level::high}};
    ASSERT_EQ(shadowed_rules(pack).size(), 1u);
    EXPECT_EQ(shadowed_rules(pack)[0], "windows: \"dell*\" hides \"dell encryption*\"");
}

TEST(PackConsistency, NoRuleIsHiddenByAnEarlierOneOfTheSamePack) {
    EXPECT_EQ(shadowed_rules(knowledge::builtin_pack()), std::vector<std::string>{});
    std::optional<knowledge::KnowledgePack> update = update_pack();
    if (!update) GTEST_SKIP() << "the source tree is not reachable";
    EXPECT_EQ(shadowed_rules(*update), std::vector<std::string>{});
}

// An update rule below the built-in level would be overruled, so the user
// would never see what the update says.
TEST(PackConsistency, NoUpdateRuleIsLowerThanTheBuiltInRuleForTheSameNames) {
    std::optional<knowledge::KnowledgePack> update = update_pack();
    if (!update) GTEST_SKIP() << "the source tree is not reachable";
    for (std::string_view platform : knowledge::knowledge_platforms) {
        knowledge::RuleIndex builtin(knowledge::builtin_pack().rules_for(platform));
        for (const knowledge::KnowledgeRule& rule : update->rules_for(platform)) {
            for (const knowledge::KnowledgeRule& same : knowledge::builtin_pack().rules_for(platform)) {
                if (same.pattern == rule.pattern) {
                    EXPECT_GE(rule.level, same.level) << platform << " " << rule.pattern;
                }
            }
            // The pattern's own core is a name it matches; the built-in rule
            // that would judge that name must not outrank it.
            std::size_t begin = rule.pattern.find_first_not_of('*');
            std::size_t end = rule.pattern.find_last_not_of('*');
            const knowledge::KnowledgeRule* judged = builtin.find({rule.pattern.substr(begin, end - begin + 1)});
            if (judged) {
                EXPECT_GE(rule.level, judged->level) << rule.pattern << " is overruled by " << judged->pattern;
            }
        }
    }
}

TEST(PackConsistency, PerUserServiceRulesMatchTheNamesWindowsGivesEachUsersCopy) {
    std::optional<std::string> list = test::source_file("tests/knowledge/per_user_services.txt");
    std::optional<knowledge::KnowledgePack> update = update_pack();
    if (!list || !update) GTEST_SKIP() << "the source tree is not reachable";
    std::set<std::string> bases;
    for (const std::string& base : test::list_lines(*list)) bases.insert(to_lower_ascii(base));
    ASSERT_GT(bases.size(), 20u);

    knowledge::RuleIndex builtin(knowledge::builtin_pack().rules_for("windows"));
    knowledge::RuleIndex installed(update->rules_for("windows"));
    for (const std::string& base : bases) {
        // Windows names each user's copy {Base}_{hex}, with five or six hexadecimal digits.
        for (const char* suffix : {"_4f2a1", "_3B9C0E"}) {
            model::StartupItem item(model::ItemKind::service, "Windows service", model::Scope::machine, "Services",
                                    base + suffix);
            item.set_spec("short", base + suffix);
            const std::vector<std::string> names = knowledge::candidate_names(item);
            const knowledge::KnowledgeRule* rule = builtin.find(names);
            if (!rule) rule = installed.find(names);
            ASSERT_NE(rule, nullptr) << base << suffix;
            // Its own rule, or a prefix rule for its service family ("webthreatdef*"), never
            // a catch-all such as "*update*" that happens to contain the name.
            EXPECT_TRUE(!rule->pattern.starts_with('*') && knowledge::pattern_matches(rule->pattern, base))
                << base << suffix << " is judged by \"" << rule->pattern << "\"";
        }
    }
    // A rule written like a per-user base must be one Windows really uses;
    // a misspelt base leaves the real service unknown.
    for (const knowledge::KnowledgePack* pack :
         std::array<const knowledge::KnowledgePack*, 2>{&knowledge::builtin_pack(), &*update}) {
        for (const knowledge::KnowledgeRule& rule : pack->rules_for("windows")) {
            const bool looks_per_user = rule.pattern.find('*') == std::string::npos &&
                                        (rule.pattern.ends_with("usersvc") || rule.pattern.ends_with("userservice"));
            if (looks_per_user) {
                EXPECT_TRUE(bases.contains(rule.pattern)) << rule.pattern;
            }
        }
    }
}

// Each effect is at least one full sentence saying what stops; critical and
// high texts, the ones that block or warn hardest, may not stay vague.
TEST(PackConsistency, EveryEffectIsAtLeastASentenceAndSevereOnesSayWhatStops) {
    std::vector<const knowledge::KnowledgePack*> packs = {&knowledge::builtin_pack()};
    std::optional<knowledge::KnowledgePack> update = update_pack();
    if (update) packs.push_back(&*update);
    for (const knowledge::KnowledgePack* pack : packs) {
        for (std::string_view platform : knowledge::knowledge_platforms) {
            for (const knowledge::KnowledgeRule& rule : pack->rules_for(platform)) {
                const std::string& text = rule.effect;
                const std::string where = pack->version + " " + std::string(platform) + " " + rule.pattern;
                EXPECT_TRUE(text.ends_with(".")) << where;
                std::size_t words = 0, longest = 0, in_sentence = 0;
                for (std::size_t i = 0; i < text.size(); ++i) {
                    const bool starts_word = text[i] != ' ' && (i == 0 || text[i - 1] == ' ');
                    if (starts_word) ++words, ++in_sentence;
                    if (text[i] == '.' && (i + 1 == text.size() || text[i + 1] == ' ')) {
                        longest = std::max(longest, in_sentence);
                        in_sentence = 0;
                    }
                }
                EXPECT_GE(words, 6u) << where << ": " << text;
                EXPECT_GE(longest, 4u) << where << ": " << text;
                if (rule.level == model::Level::high || rule.level == model::Level::critical) {
                    for (const char* vague : {"work properly", "misbehave", "work correctly", "may not work"}) {
                        EXPECT_EQ(text.find(vague), std::string::npos) << where << ": " << text;
                    }
                }
            }
        }
    }
}

}  // namespace
}  // namespace qm
