#include <gtest/gtest.h>

#include "json/json.h"
#include "knowledge/knowledge_pack.h"

namespace qm {
namespace {

using json::JsonValue;

// A small valid pack; tests change one member at a time.
JsonValue base_pack() {
    return json::parse(R"json({
      "format": "quillmoor-knowledge", "schema": 1, "version": "2026.11.02",
      "published": "2026-11-02", "description": "test", "min_program": "1.0.0",
      "rules": {"windows": [{"match": "RpcSs", "level": "critical", "effect": "Core."},
                            {"match": "*Onedrive*", "level": "low", "effect": "Sync."}],
                "linux": [{"match": "dbus*", "level": "critical", "effect": "Bus."}]},
      "hints": [{"word": "VPN", "level": "high", "effect": "Private network."}],
      "locations": {
        "windows": {
          "run_keys": [{"hive": "HKCU", "path": "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                        "view": "", "approved": "Run", "label": "Registry (Run, this user)",
                        "scope": "user", "locked": ""}],
          "startup_folders": [{"env": "APPDATA", "sub": "Microsoft\\Windows\\Start Menu\\Programs\\Startup",
                               "scope": "user", "hive": "HKCU", "label": "Startup folder (this user)"}],
          "task_roots": ["System32\\Tasks", 7]},
        "linux": {"autostart_dirs": ["/etc/xdg/autostart"], "app_dirs": [], "unit_types": ["service"]},
        "macos": {"launchd_dirs": [{"path": "/Library/LaunchDaemons", "scope": "machine",
                                    "domain": "system", "system": true}], "app_dirs": ["/Applications"]}}
    })json")
        .value();
}

JsonValue& member(JsonValue& object, std::string_view key) {
    for (auto& [k, v] : object.as_object()) {
        if (k == key) return v;
    }
    object.as_object().emplace_back(std::string(key), JsonValue());
    return object.as_object().back().second;
}

std::string parse_error(const JsonValue& document) {
    Result<knowledge::KnowledgePack> pack = knowledge::parse_pack(json::write(document));
    return pack ? std::string("(parsed)") : pack.error().message;
}

TEST(KnowledgePack, ReadsEveryPartAndLowerCasesPatterns) {
    Result<knowledge::KnowledgePack> pack = knowledge::parse_pack(json::write(base_pack()));
    ASSERT_TRUE(pack.has_value()) << pack.error();
    EXPECT_EQ(pack->version, "2026.11.02");
    ASSERT_EQ(pack->rules_for("windows").size(), 2u);
    EXPECT_EQ(pack->rules_for("windows")[0].pattern, "rpcss");
    EXPECT_EQ(pack->rules_for("windows")[1].pattern, "*onedrive*");
    EXPECT_EQ(pack->rules_for("linux")[0].level, model::Level::critical);
    EXPECT_TRUE(pack->rules_for("macos").empty());
    EXPECT_TRUE(pack->rules_for("freebsd").empty());
    EXPECT_EQ(pack->hints[0].word, "vpn");
    EXPECT_EQ(pack->locations.task_roots, (std::vector<std::string>{"System32\\Tasks"}));  // 7 skipped
    EXPECT_TRUE(pack->locations.launchd_dirs[0].system);
}

TEST(KnowledgePack, HeaderChecksInTheirOrder) {
    EXPECT_EQ(knowledge::parse_pack("[").error(), "That is not a knowledge pack: unexpected end");
    JsonValue doc = base_pack();
    member(doc, "format") = JsonValue("other");
    EXPECT_EQ(parse_error(doc), "That is not a Quillmoor knowledge pack.");

    struct SchemaCase {
        const char* json;
        const char* message;
    };
    for (SchemaCase c :
         {SchemaCase{"1.5", "(parsed)"},
          {"\"1\"", "The pack has no format number."},
          {"0.99", "The pack has no format number."},
          {"-3", "The pack has no format number."},
          {"2", "This pack uses format 2 but this Quillmoor understands up to 1. Install a newer Quillmoor to use it."},
          {"1e300",
           "This pack uses format 9223372036854775807 but this Quillmoor understands up to 1. Install a newer "
           "Quillmoor to use it."}}) {
        JsonValue d = base_pack();
        member(d, "schema") = json::parse(c.json).value();
        EXPECT_EQ(parse_error(d), c.message) << c.json;
    }
    JsonValue no_schema = base_pack();
    std::erase_if(no_schema.as_object(), [](const auto& m) { return m.first == "schema"; });
    EXPECT_EQ(parse_error(no_schema), "The pack has no format number.");

    const char* version_message = "The pack's version must be numbers separated by dots, like 2026.11.02.";
    for (auto [version, message] : {std::pair{"2026.11.02", "(parsed)"},
                                    {"1..2", "(parsed)"},
                                    {"2026.11.O2", version_message},
                                    {"", version_message}}) {
        JsonValue d = base_pack();
        member(d, "version") = JsonValue(version);
        EXPECT_EQ(parse_error(d), message) << version;
    }
    JsonValue long_version = base_pack();
    member(long_version, "version") = JsonValue(std::string(41, '1'));
    EXPECT_EQ(parse_error(long_version), "pack: \"version\" is longer than 40 characters");
    JsonValue control = base_pack();
    member(control, "description") = JsonValue("line\nbreak");
    EXPECT_EQ(parse_error(control), "pack: \"description\" contains control characters");
    JsonValue tab = base_pack();
    member(tab, "description") = JsonValue("tab\tis fine");
    EXPECT_EQ(parse_error(tab), "(parsed)");
    // 300 characters of a two-byte letter are 600 bytes and still allowed.
    JsonValue wide = base_pack();
    std::string accents;
    for (int i = 0; i < 300; ++i) accents += "\xc3\xa9";
    member(wide, "description") = JsonValue(accents);
    EXPECT_EQ(parse_error(wide), "(parsed)");

    for (auto [min, message] : {std::pair{"1.0.1", "This pack needs Quillmoor 1.0.1 or newer; this is 1.0.0."},
                                {"1.0", "(parsed)"},
                                {"0.9.9", "(parsed)"},
                                {"", "(parsed)"}}) {
        JsonValue d = base_pack();
        member(d, "min_program") = JsonValue(min);
        EXPECT_EQ(parse_error(d), message) << min;
    }
}

TEST(KnowledgePack, RuleAndHintChecks) {
    auto with_rule = [](const char* rule_json) {
        JsonValue d = base_pack();
        member(member(d, "rules"), "macos") = json::parse(std::string("[") + rule_json + "]").value();
        return parse_error(d);
    };
    EXPECT_EQ(with_rule(R"({"match":"***","level":"low","effect":"x"})"), "macos rule 1: the pattern is empty");
    EXPECT_EQ(with_rule(R"({"match":"*a*","level":"low","effect":"x"})"), "(parsed)");
    EXPECT_EQ(with_rule(R"({"match":"a","level":"unknown","effect":"x"})"),
              "macos rule 1: level must be safe, low, caution, high or critical");
    EXPECT_EQ(with_rule(R"({"match":"a","level":"High","effect":"x"})"),
              "macos rule 1: level must be safe, low, caution, high or critical");
    EXPECT_EQ(with_rule(R"({"match":"a","level":"low","effect":" \t "})"), "macos rule 1: the effect text is empty");
    EXPECT_EQ(with_rule(R"({"match":"a","level":"low","effect":"x"},{"match":5,"level":"low","effect":"x"})"),
              "macos rule 2: the pattern is empty");

    auto with_rules = [](std::size_t count) {
        JsonValue d = base_pack();
        JsonValue list = JsonValue::array();
        for (std::size_t i = 0; i < count; ++i) {
            list.as_array().push_back(json::parse(R"({"match":"a","level":"low","effect":"x"})").value());
        }
        member(member(d, "rules"), "windows") = std::move(list);
        return parse_error(d);
    };
    EXPECT_EQ(with_rules(5000), "(parsed)");
    EXPECT_EQ(with_rules(5001), "windows: more than 5000 rules");

    JsonValue not_a_list = base_pack();
    member(member(not_a_list, "rules"), "windows") = JsonValue("nope");
    EXPECT_EQ(parse_error(not_a_list), "(parsed)");

    for (auto [word, message] :
         {std::pair{"vp",
                    "hint 1: the word must be at least 3 characters (a shorter one would match almost every name)"},
          {"vpn", "(parsed)"}}) {
        JsonValue d = base_pack();
        member(d, "hints") =
            json::parse(std::string(R"([{"word":")") + word + R"(","level":"high","effect":""}])").value();
        EXPECT_EQ(parse_error(d), message);
    }
}

TEST(KnowledgePack, LocationChecks) {
    auto with_windows = [](const char* key, const char* list_json) {
        JsonValue d = base_pack();
        member(member(member(d, "locations"), "windows"), key) = json::parse(list_json).value();
        return parse_error(d);
    };
    EXPECT_EQ(with_windows("run_keys", R"([{"hive":"HKCU","path":"..\\Run","view":"","scope":"user"}])"),
              "windows run_keys path: a path may not contain \"..\"");
    EXPECT_EQ(with_windows("run_keys", R"([{"hive":"HKCR","path":"x","scope":"user"}])"),
              "windows run_keys: hive must be HKCU or HKLM");
    EXPECT_EQ(with_windows("run_keys", R"([{"hive":"HKLM","path":"x","view":"16","scope":"user"}])"),
              "windows run_keys: view must be empty, 32 or 64");
    EXPECT_EQ(with_windows("run_keys", R"([{"hive":"HKLM","path":"x","scope":"everyone"}])"),
              "windows run_keys: scope must be user or machine");
    EXPECT_EQ(with_windows("run_keys", R"([{"hive":"HKLM","path":"a\tb","scope":"user"}])"),
              "windows run_keys path: a path is too long or has control characters");
    std::string many = "[";
    for (int i = 0; i < 101; ++i) many += std::string(i ? "," : "") + R"({"hive":"HKLM","path":"x","scope":"user"})";
    EXPECT_EQ(with_windows("run_keys", (many + "]").c_str()), "windows run_keys: too many entries");

    EXPECT_EQ(with_windows("startup_folders", R"([{"env":"TEMP","sub":"x","hive":"HKCU"}])"),
              "windows startup_folders: env must be one of APPDATA, ProgramData, LOCALAPPDATA, USERPROFILE, "
              "ALLUSERSPROFILE, PUBLIC");
    EXPECT_EQ(with_windows("startup_folders", R"([{"env":"APPDATA","sub":"C:\\x","hive":"HKCU"}])"),
              "windows startup_folders: sub must be a relative path (no drive, no leading slash)");
    EXPECT_EQ(with_windows("startup_folders", R"([{"env":"APPDATA","sub":"x","hive":"hkcu"}])"),
              "windows startup_folders: hive must be HKCU or HKLM");
    EXPECT_EQ(with_windows("task_roots", R"(["\\Windows\\Tasks"])"),
              "windows task_roots: each must be a relative path (no drive, no leading slash)");
    EXPECT_EQ(with_windows("task_roots", (std::string("[\"") + std::string(301, 'a') + "\"]").c_str()),
              "windows task_roots: a path is too long or has control characters");

    JsonValue units = base_pack();
    member(member(member(units, "locations"), "linux"), "unit_types") = json::parse(R"(["service","Timer"])").value();
    EXPECT_EQ(parse_error(units), "linux unit_types: only lower-case letters");
    JsonValue domain = base_pack();
    member(member(member(domain, "locations"), "macos"), "launchd_dirs") =
        json::parse(R"([{"path":"/x","domain":"user"}])").value();
    EXPECT_EQ(parse_error(domain), "macos launchd_dirs: domain must be gui or system");
}

TEST(KnowledgePack, SizeLimitIsTestedBeforeParsing) {
    // Exactly 3 MB of valid JSON: the pack document padded with spaces.
    std::string text = json::write(base_pack());
    text.resize(knowledge::knowledge_pack_max_bytes, ' ');
    EXPECT_TRUE(knowledge::parse_pack(text).has_value());
    text.push_back(' ');
    EXPECT_EQ(knowledge::parse_pack(text).error(), "The file is larger than 3 MB, which a knowledge pack never is.");
    // Over the limit is refused even when it is not JSON at all.
    EXPECT_EQ(knowledge::parse_pack(std::string(knowledge::knowledge_pack_max_bytes + 1, '{')).error(),
              "The file is larger than 3 MB, which a knowledge pack never is.");
}

TEST(KnowledgePack, VersionComparisonIsNumericPartByPart) {
    EXPECT_GT(knowledge::compare_versions("2026.10.13.1", "2026.10.13"), 0);
    EXPECT_EQ(knowledge::compare_versions("1.0", "1.0.0"), 0);
    EXPECT_LT(knowledge::compare_versions("1.9", "1.10"), 0);
    EXPECT_EQ(knowledge::compare_versions("1.x", "1.0"), 0);
    EXPECT_EQ(knowledge::compare_versions("", "0"), 0);
    EXPECT_GT(knowledge::compare_versions("99999999999999999999999", "18446744073709551614"), 0);
}

TEST(KnowledgePack, MergeOnlyAddsWhatIsNew) {
    knowledge::KnowledgePack built_in = knowledge::parse_pack(json::write(base_pack())).value();
    knowledge::KnowledgeLocations installed;
    installed.run_keys = {knowledge::RunKeyLocation{"HKCU", "software\\microsoft\\windows\\currentversion\\run", "", "",
                                                    "dup", model::Scope::user, ""},
                          knowledge::RunKeyLocation{"HKCU", "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", "32",
                                                    "", "new", model::Scope::user, ""}};
    installed.startup_folders = {knowledge::StartupFolderLocation{"APPDATA",
                                                                  "MICROSOFT\\Windows\\Start Menu\\Programs\\Startup",
                                                                  model::Scope::user, "HKCU", "dup"}};
    installed.task_roots = {"System32\\Tasks", "Tasks"};
    installed.launchd_dirs = {knowledge::LaunchdLocation{"/Library/LaunchDaemons", model::Scope::machine, "system",
                                                         true},
                              knowledge::LaunchdLocation{"/Library/LaunchAgents", model::Scope::machine, "gui", false}};
    knowledge::KnowledgeLocations merged = built_in.locations;
    knowledge::merge_locations(merged, installed);
    ASSERT_EQ(merged.run_keys.size(), 2u);
    EXPECT_EQ(merged.run_keys[0].label, "Registry (Run, this user)");
    EXPECT_EQ(merged.run_keys[1].label, "new");
    EXPECT_EQ(merged.startup_folders.size(), 1u);
    EXPECT_EQ(merged.task_roots, (std::vector<std::string>{"System32\\Tasks", "Tasks"}));
    EXPECT_EQ(merged.launchd_dirs.size(), 2u);
}

}  // namespace
}  // namespace qm
