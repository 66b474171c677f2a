#ifdef __linux__
// The built-in Linux rules against the unit files of the machine the tests
// run on and of the packages of a Debian 12 desktop and server (their file
// lists, in tests/data/linux): units without a rule are reported (the pack
// judges the common ones, not every unit), and a rule that names a real unit
// in another spelling, so that it can never match it, fails.
#include <algorithm>
#include <iostream>
#include <set>

#include <gtest/gtest.h>

#include "knowledge/assessment.h"
#include "knowledge/builtin_pack.h"
#include "os/files.h"
#include "util/text.h"

namespace qm::test {
namespace {

std::string loose(std::string_view name) {
    std::string out;
    for (char c : to_lower_ascii(name)) {
        if (c != '-' && c != '_') out.push_back(c);
    }
    return out;
}

// Reports the units without a rule; the rules that miss a unit by its spelling.
std::vector<std::string> check_rules(const std::set<std::string>& units, std::string_view where) {
    const std::vector<knowledge::KnowledgeRule>& rules = knowledge::builtin_pack().rules_for("linux");
    std::vector<std::string> without_rule;
    std::vector<std::string> misspelled;
    for (const std::string& unit : units) {
        const std::string name = to_lower_ascii(unit);
        const bool matched = std::any_of(rules.begin(), rules.end(), [&](const knowledge::KnowledgeRule& rule) {
            return knowledge::pattern_matches(rule.pattern, name);
        });
        if (matched) continue;
        without_rule.push_back(unit);
        for (const knowledge::KnowledgeRule& rule : rules) {
            if (knowledge::pattern_matches(loose(rule.pattern), loose(name)))
                misspelled.push_back(rule.pattern + " vs " + unit);
        }
    }
    std::cout << units.size() << " unit files " << where << ", " << without_rule.size() << " without a built-in rule:";
    for (const std::string& unit : without_rule) std::cout << " " << unit;
    std::cout << "\n";
    return misspelled;
}

TEST(LinuxRules, BuiltInRulesAreSpelledAsThisMachinesUnits) {
    std::set<std::string> units;
    for (const char* folder : {"/etc/systemd/system", "/lib/systemd/system", "/usr/lib/systemd/system"}) {
        Result<std::vector<os::FolderEntry>> listed = os::list_folder(folder);
        if (!listed) continue;
        for (const os::FolderEntry& entry : *listed) {
            if (entry.name.ends_with(".service") || entry.name.ends_with(".timer") || entry.name.ends_with(".socket")) {
                units.insert(entry.name);
            }
        }
    }
    if (units.empty()) GTEST_SKIP() << "this machine has no systemd unit files";
    const std::vector<std::string> misspelled = check_rules(units, "here");
    EXPECT_TRUE(misspelled.empty()) << "rules spelled differently from real units: "
                                    << testing::PrintToString(misspelled);
}

TEST(LinuxRules, TheUnitsOfADebianDesktopAndServerAreReportedWithoutARule) {
    const Result<std::string> listed = os::read_file(QM_TEST_DATA_DIR "/linux/debian12-unit-files.txt");
    ASSERT_TRUE(listed.has_value()) << listed.error();
    std::set<std::string> units;
    for (const std::string& line : split_lines(*listed)) {
        if (line.empty() || line.starts_with('#')) continue;
        units.insert(line.substr(line.find(' ') + 1));
    }
    ASSERT_GT(units.size(), 200U);
    const std::vector<std::string> misspelled = check_rules(units, "in the Debian 12 packages");
    EXPECT_TRUE(misspelled.empty()) << "rules spelled differently from real units: "
                                    << testing::PrintToString(misspelled);
    // The units the desktop's users depend on, and those rated by their package alone, have rules of their own.
    for (const char* unit : {"brltty.service", "speech-dispatcherd.service", "smartmontools.service",
                             "dpkg-db-backup.timer", "e2scrub_all.timer", "exim4-base.timer", "apt-daily.timer"}) {
        if (!units.contains(unit)) continue;
        const auto& rules = knowledge::builtin_pack().rules_for("linux");
        EXPECT_TRUE(std::any_of(rules.begin(), rules.end(), [&](const knowledge::KnowledgeRule& rule) {
            return knowledge::pattern_matches(rule.pattern, unit);
        })) << unit;
    }
}

}  // namespace
}  // namespace qm::test
#endif
