// docs/knowledge-sources.md records for every Windows service rule what
// Microsoft's guidance says and which level the packs give. These tests hold
// the table and the packs to each other and to the grading rules: a service
// the guidance says not to disable is never safe or low, and one it calls OK
// to disable is never critical.
#include <gtest/gtest.h>

#include <map>

#include "knowledge/assessment.h"
#include "knowledge/builtin_pack.h"
#include "knowledge/pack_files.h"
#include "util/text.h"

namespace qm {
namespace {

std::string trim_cell(std::string cell) {
    while (!cell.empty() && cell.front() == ' ') cell.erase(cell.begin());
    while (!cell.empty() && cell.back() == ' ') cell.pop_back();
    if (cell.size() >= 2 && cell.front() == '`' && cell.back() == '`') cell = cell.substr(1, cell.size() - 2);
    return cell;
}

// The rows of the document's tables whose first cell is a code name.
std::vector<std::vector<std::string>> table_rows(const std::string& text) {
    std::vector<std::vector<std::string>> rows;
    for (const std::string& line : test::list_lines(text)) {
        if (!line.starts_with("| `")) continue;
        std::vector<std::string> cells = test::split_on(line.substr(1, line.size() - 2), '|');
        for (std::string& cell : cells) cell = trim_cell(cell);
        rows.push_back(cells);
    }
    return rows;
}

const knowledge::KnowledgeRule* rule_named(const knowledge::KnowledgePack& pack, const std::string& pattern) {
    for (const knowledge::KnowledgeRule& rule : pack.rules_for("windows")) {
        if (rule.pattern == pattern) return &rule;
    }
    return nullptr;
}

TEST(KnowledgeSources, EveryDefaultServiceHasARowThatAgreesWithThePacksAndTheGuidance) {
    std::optional<std::string> document = test::source_file("docs/knowledge-sources.md");
    std::optional<std::string> list = test::source_file("tests/knowledge/default_services.txt");
    std::optional<std::string> update_text = test::source_file(test::update_pack_path);
    if (!document || !list || !update_text) GTEST_SKIP() << "the source tree is not reachable";
    Result<knowledge::KnowledgePack> update = knowledge::parse_pack(*update_text);
    ASSERT_TRUE(update.has_value()) << update.error();
    knowledge::Assessor both(knowledge::builtin_pack(), *update, "update " + update->version, "windows");

    std::map<std::string, std::vector<std::string>> by_service;  // lower-cased key -> cells
    std::size_t other_rows = 0;
    for (const std::vector<std::string>& cells : table_rows(*document)) {
        if (cells.size() == 9) {
            std::string key = cells[0];
            if (key.ends_with("_{hex}")) key.resize(key.size() - 6);
            EXPECT_TRUE(by_service.emplace(to_lower_ascii(key), cells).second) << "two rows for " << key;
        } else {
            // Service rules for software outside a default install: rule, software, pack, level.
            ASSERT_EQ(cells.size(), 4u) << cells[0];
            const knowledge::KnowledgeRule* rule =
                rule_named(cells[2] == "built-in" ? knowledge::builtin_pack() : *update, cells[0]);
            ASSERT_NE(rule, nullptr) << cells[0] << " is not in the " << cells[2] << " pack";
            EXPECT_EQ(model::level_name(rule->level), cells[3]) << cells[0];
            ++other_rows;
        }
    }
    EXPECT_GT(other_rows, 30u);

    for (const test::DefaultService& service : test::default_services(*list)) {
        auto row = by_service.find(to_lower_ascii(service.key));
        ASSERT_NE(row, by_service.end()) << service.key << " has no row";
        const std::vector<std::string>& cells = row->second;
        const std::string& server_guidance = cells[4];
        const std::string& iot_guidance = cells[5];
        const std::string& pack = cells[6];
        const std::string& pattern = cells[7];
        const std::string& level = cells[8];

        const knowledge::KnowledgeRule* rule =
            rule_named(pack == "built-in" ? knowledge::builtin_pack() : *update, pattern);
        ASSERT_NE(rule, nullptr) << service.key << ": " << pattern << " is not in the " << pack << " pack";
        EXPECT_EQ(model::level_name(rule->level), level) << service.key;

        const bool per_user = cells[0].ends_with("_{hex}");
        model::StartupItem item(model::ItemKind::service, "Windows service", model::Scope::machine, "Services",
                                service.display + (per_user ? "_4f2a1" : ""));
        item.set_spec("short", service.key + (per_user ? "_4f2a1" : ""));
        item.origin = model::Origin::operating_system;
        model::Assessment judged = both.assess(item);
        EXPECT_EQ(model::level_name(judged.level), level) << service.key;
        EXPECT_EQ(judged.effect, rule->effect) << service.key << " is judged by another rule than " << pattern;

        if (server_guidance == "Do not disable" || iot_guidance == "Do not disable") {
            EXPECT_TRUE(rule->level != model::Level::safe && rule->level != model::Level::low)
                << service.key << " is " << level;
        }
        if (server_guidance == "OK to disable" || iot_guidance == "OK to disable") {
            EXPECT_NE(rule->level, model::Level::critical) << service.key;
        }
    }
}

}  // namespace
}  // namespace qm
