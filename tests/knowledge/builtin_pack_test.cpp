#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "knowledge/builtin_pack.h"

namespace qm {
namespace {

const knowledge::KnowledgeRule* rule(std::string_view platform, std::string_view pattern) {
    for (const knowledge::KnowledgeRule& r : knowledge::builtin_pack().rules_for(platform)) {
        if (r.pattern == pattern) return &r;
    }
    return nullptr;
}

TEST(BuiltinPack, ParsesAndIsTheFileInTheTree) {
    Result<knowledge::KnowledgePack> parsed = knowledge::parse_pack(knowledge::builtin_pack_text());
    ASSERT_TRUE(parsed.has_value()) << parsed.error();
    std::ifstream file(QM_SOURCE_DIR "/src/knowledge/builtin_pack.json", std::ios::binary);
    if (file) {  // the source tree is not always reachable from a Windows test run
        std::stringstream content;
        content << file.rdbuf();
        EXPECT_EQ(content.str(), knowledge::builtin_pack_text());
    }
    EXPECT_EQ(knowledge::builtin_pack().version, "2026.10.13.1");
    EXPECT_EQ(knowledge::builtin_pack().published, "2026-10-13");
    EXPECT_EQ(knowledge::builtin_pack().min_program, "1.0.0");
    EXPECT_EQ(knowledge::builtin_pack().description, "Built-in knowledge shipped with Quillmoor 1.0.0");
    EXPECT_GT(knowledge::builtin_pack_text().size(), 70000u);
    EXPECT_LT(knowledge::builtin_pack_text().size(), 100000u);
}

TEST(BuiltinPack, RuleCountsPerLevelAndNoPatternTwice) {
    const std::map<std::string_view, std::vector<int>> expected = {{"windows", {70, 100, 65, 34, 22}},
                                                                   {"linux", {11, 40, 46, 72, 13}},
                                                                   {"macos", {3, 14, 14, 8, 4}}};
    for (const auto& [platform, counts] : expected) {
        std::vector<int> actual(5, 0);
        std::set<std::string> patterns;
        for (const knowledge::KnowledgeRule& r : knowledge::builtin_pack().rules_for(platform)) {
            ASSERT_LT(static_cast<int>(r.level), 5);
            actual[static_cast<int>(r.level)]++;
            EXPECT_TRUE(patterns.insert(r.pattern).second) << platform << " " << r.pattern;
        }
        EXPECT_EQ(actual, counts) << platform;
    }
}

TEST(BuiltinPack, CoreServicesAreExactlyTheCriticalWindowsRules) {
    std::set<std::string> critical;
    for (const knowledge::KnowledgeRule& r : knowledge::builtin_pack().rules_for("windows")) {
        if (r.level == model::Level::critical) critical.insert(r.pattern);
    }
    EXPECT_EQ(critical, (std::set<std::string>{"rpcss",
                                               "dcomlaunch",
                                               "rpcept*",
                                               "lsm",
                                               "samss",
                                               "plugplay",
                                               "power",
                                               "profsvc",
                                               "usermanager",
                                               "schedule",
                                               "winmgmt",
                                               "appinfo",
                                               "bfe",
                                               "nsi",
                                               "dhcp",
                                               "brokerinfrastructure",
                                               "systemeventsbroker",
                                               "timebrokersvc",
                                               "coremessagingregistrar",
                                               "staterepository",
                                               "eventsystem",
                                               "cryptsvc"}));
    ASSERT_NE(rule("windows", "rpcss"), nullptr);
    EXPECT_EQ(rule("windows", "rpcss")->effect,
              "Almost every Windows component talks through Remote Procedure Call. Without it Windows does not start "
              "properly.");
    ASSERT_NE(rule("windows", "onedrive*"), nullptr);
    EXPECT_EQ(rule("windows", "onedrive*")->level, model::Level::low);
    EXPECT_EQ(rule("windows", "onedrive*")->effect, "OneDrive. Files stop syncing until you start it.");
    ASSERT_NE(rule("windows", "appidsvc"), nullptr);
    EXPECT_EQ(rule("windows", "appidsvc")->level, model::Level::caution);
    for (const char* agent : {"crowdsec*", "wazuh*"}) {
        ASSERT_NE(rule("windows", agent), nullptr) << agent;
        EXPECT_EQ(rule("windows", agent)->level, model::Level::high);
    }
    for (const char* pattern : {"googleupdatetask*", "windows defender *", "*update*"}) {
        EXPECT_NE(rule("windows", pattern), nullptr) << pattern;
    }
}

TEST(BuiltinPack, HintsInTheirOrderAndTheBuiltInLocations) {
    std::vector<std::string> words;
    for (const knowledge::KnowledgeHint& hint : knowledge::builtin_pack().hints) words.push_back(hint.word);
    EXPECT_EQ(words,
              (std::vector<std::string>{"antivirus",   "anti-virus", "malware",  "firewall",    "defender", "endpoint",
                                        "kaspersky",   "norton",     "mcafee",   "bitdefender", "avast",    "sophos",
                                        "crowdstrike", "vpn",        "backup",   "sync",        "cloud",    "updater",
                                        "update",      "telemetry",  "helper",   "tray",        "launcher", "driver",
                                        "audio",       "bluetooth",  "touchpad", "print",       "database", "server",
                                        "remote"}));
    EXPECT_EQ(knowledge::builtin_pack().hints[0].level, model::Level::high);
    EXPECT_EQ(knowledge::builtin_pack().hints[0].effect,
              "It looks like security software. Switching it off may leave the computer unprotected.");

    const knowledge::KnowledgeLocations& where = knowledge::builtin_pack().locations;
    ASSERT_EQ(where.run_keys.size(), 7u);
    EXPECT_EQ(where.run_keys[0].hive, "HKCU");
    EXPECT_EQ(where.run_keys[0].path, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run");
    EXPECT_EQ(where.run_keys[2].approved, "Run32");
    EXPECT_EQ(where.run_keys[2].view, "32");
    EXPECT_EQ(where.run_keys[3].locked,
              "Runs once at the next sign-in and then removes itself, so there is nothing to switch.");
    ASSERT_EQ(where.startup_folders.size(), 2u);
    EXPECT_EQ(where.startup_folders[1].env, "ProgramData");
    EXPECT_EQ(where.task_roots, (std::vector<std::string>{"System32\\Tasks"}));
    EXPECT_EQ(where.linux_app_dirs.size(), 6u);
    EXPECT_EQ(where.linux_unit_types, (std::vector<std::string>{"service", "timer", "socket", "path", "target"}));
    EXPECT_EQ(where.launchd_dirs.size(), 5u);
    EXPECT_EQ(where.macos_app_dirs.size(), 3u);
}

}  // namespace
}  // namespace qm
