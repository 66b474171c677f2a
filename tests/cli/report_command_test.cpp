// The report of many computers, run as the real program on folders of lists:
// the program's own lists made here from a small table, and osquery's
// recorded output of its three tables.
#include <gtest/gtest.h>

#include <map>

#include "json/json.h"
#include "os/files.h"
#include "support/run_program.h"

namespace qm::cli {
namespace {

class ReportCommand : public ::testing::Test {
protected:
    void SetUp() override { folder_ = test::make_scratch_folder("report"); }
    void TearDown() override { (void)os::remove_tree(folder_); }

    void write(const std::string& name, const std::string& text) {
        ASSERT_TRUE(os::write_file_replace(os::join_path(folder_, name), text).has_value()) << name;
    }
    // The report's JSON, with its items by "kind|name".
    json::JsonValue report(std::map<std::string, json::JsonValue>& items) {
        test::ProgramRun run = test::run_program({"report", folder_, "--json"});
        EXPECT_EQ(run.exit_code, 0) << run.err;
        Result<json::JsonValue> out = json::parse(run.out);
        EXPECT_TRUE(out.has_value()) << run.out;
        if (!out) return {};
        for (const json::JsonValue& item : json::get(*out, "items")->as_array())
            items[json::get_text(item, "kind") + "|" + json::get_text(item, "name")] = item;
        return *out;
    }

    std::string folder_;
};

std::vector<std::string> texts(const json::JsonValue* array) {
    std::vector<std::string> out;
    for (const json::JsonValue& value : array->as_array()) out.push_back(value.as_string());
    return out;
}

// One item as `list --json` prints it, with only what the report reads.
std::string item(const std::string& kind, const std::string& name, bool on, const std::string& level,
                 const std::string& impact = "not measured") {
    return json::write(json::ObjectBuilder()
                           .string("id", kind + "|machine|here|" + name)
                           .string("name", name)
                           .string("kind", kind)
                           .flag("enabled", on)
                           .value("risk", json::ObjectBuilder().string("level", level).done())
                           .value("impact", json::ObjectBuilder().string("level", impact).done())
                           .done());
}

TEST_F(ReportCommand, JoinsTenComputersIntoRowsWithTheirMajorityAndWhoDiffers) {
    // Per computer 1..10: whether Spotify is on and how it is judged; a
    // service on two of seven; a task split one to one; a unit whose name
    // differs in case on two computers (two units on Linux).
    for (int n = 1; n <= 10; ++n) {
        std::vector<std::string> items = {item("run", n == 10 ? "SPOTIFY" : "Spotify", n <= 8,
                                               n <= 7 ? "caution" : "high",
                                               n <= 3   ? "high"
                                               : n <= 5 ? "low"
                                                        : "not measured")};
        if (n <= 7) items.push_back(item("service", "Updater", n <= 2, "low"));
        if (n <= 2) items.push_back(item("task", "Tie", n == 1, "low"));
        if (n <= 2) items.push_back(item("systemd", n == 1 ? "sshd.service" : "SSHD.service", true, "high"));
        if (n == 3) items.push_back(R"({"id":"run|user|x|Old","name":"Old","change":"gone","found":"2026-01-01"})");
        std::string text = "[";
        for (const std::string& one : items) text += (text.size() > 1 ? "," : "") + one;
        write("web" + std::to_string(n) + ".json", text + "]");
    }
    write("broken.json", "[{\"kind\":");
    write("readme.txt", "not a list");

    std::map<std::string, json::JsonValue> items;
    const json::JsonValue out = report(items);
    EXPECT_EQ(json::get(out, "computers")->as_array().size(), 10u);
    ASSERT_EQ(items.size(), 5u);
    const json::JsonValue::Array& rows = json::get(out, "items")->as_array();
    EXPECT_EQ(json::get_text(rows[0], "name"), "Spotify");
    EXPECT_EQ(json::get_text(rows[1], "name"), "Updater");
    EXPECT_EQ(json::get_text(rows[2], "name"), "Tie");

    const json::JsonValue& spotify = items["run|Spotify"];
    EXPECT_EQ(json::get_count(spotify, "computers"), 10u);
    EXPECT_EQ(json::get_count(spotify, "on"), 8u);
    EXPECT_EQ(json::get_count(spotify, "off"), 2u);
    EXPECT_EQ(json::get_text(spotify, "majority"), "on");
    EXPECT_EQ(texts(json::get(spotify, "differs")), (std::vector<std::string>{"web10", "web9"}));
    EXPECT_EQ(json::get_text(spotify, "level"), "caution");
    EXPECT_EQ(json::write(*json::get(spotify, "levels")),
              R"([{"level":"caution","computers":7},{"level":"high","computers":3}])");
    EXPECT_EQ(json::get_text(spotify, "impact"), "high");

    const json::JsonValue& updater = items["service|Updater"];
    EXPECT_EQ(json::get_text(updater, "majority"), "off");
    EXPECT_EQ(texts(json::get(updater, "differs")), (std::vector<std::string>{"web1", "web2"}));
    EXPECT_TRUE(json::get(items["task|Tie"], "majority")->is_null());
    EXPECT_TRUE(json::get(items["task|Tie"], "differs")->as_array().empty());
    EXPECT_EQ(json::get_count(items["systemd|SSHD.service"], "computers"), 1u);

    const std::vector<std::string> notes = texts(json::get(out, "notes"));
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("broken.json"), std::string::npos) << notes[0];

    test::ProgramRun table = test::run_program({"report", folder_});
    EXPECT_EQ(table.exit_code, 0);
    EXPECT_NE(table.out.find("off: web10, web9"), std::string::npos) << table.out;
    EXPECT_NE(table.out.find("caution/high"), std::string::npos) << table.out;
    EXPECT_EQ(test::run_program({"report"}).exit_code, 2);
    EXPECT_EQ(test::run_program({"report", os::join_path(folder_, "none")}).exit_code, 1);
}

TEST_F(ReportCommand, ReadsOsqueryTablesWithTheProgramsKindsAndJudgement) {
    const std::map<std::string, std::string> recorded = {{"desk1", "startup_items"},
                                                         {"desk2", "services"},
                                                         {"srv1", "systemd_units"}};
    for (const auto& [computer, table] : recorded) {
        Result<std::string> text = os::read_file(std::string(QM_TEST_DATA_DIR) + "/osquery/" + table + ".json");
        ASSERT_TRUE(text.has_value()) << text.error();
        write(computer + ".json", *text);
    }
    std::map<std::string, json::JsonValue> items;
    const json::JsonValue out = report(items);

    struct Expected {
        std::string key;
        std::string state;  // on, off or unknown
        std::string level;  // empty: not checked
    };
    const std::vector<Expected> expected = {
        {"run|SecurityHealth", "on", ""},
        {"run|Discord", "off", ""},
        {"run|OneDrive", "on", "low"},
        {"folder|Send to OneNote", "on", ""},
        {"service|Remote Procedure Call (RPC)", "on", "critical"},
        {"service|Print Spooler", "on", "caution"},
        {"service|Google Update Service (gupdate)", "on", ""},
        {"service|Windows Update", "off", ""},
        {"service|Remote Desktop Services", "off", ""},
        {"systemd|ssh.service", "unknown", "high"},
        {"systemd|cron.service", "unknown", ""},
        {"systemd|webroot-backup.timer", "unknown", ""},
    };
    for (const Expected& e : expected) {
        ASSERT_TRUE(items.contains(e.key)) << e.key;
        EXPECT_EQ(json::get_count(items[e.key], e.state), 1u) << e.key;
        if (!e.level.empty()) {
            EXPECT_EQ(json::get_text(items[e.key], "level"), e.level) << e.key;
        }
    }
    // Drivers, the folder's settings file, devices and mounts are not items.
    EXPECT_EQ(items.size(), expected.size() + 1);  // and RtkAudUService

    const std::vector<std::string> notes = texts(json::get(out, "notes"));
    ASSERT_EQ(notes.size(), 3u);
    EXPECT_TRUE(notes[0].starts_with("Read from osquery's services (desk2)")) << notes[0];
    EXPECT_TRUE(notes[1].starts_with("Read from osquery's startup_items (desk1)")) << notes[1];
    EXPECT_NE(notes[1].find("no scheduled tasks"), std::string::npos) << notes[1];
    EXPECT_TRUE(notes[2].starts_with("Read from osquery's systemd_units (srv1)")) << notes[2];
    EXPECT_NE(notes[2].find("not whether it starts at boot"), std::string::npos) << notes[2];
    EXPECT_EQ(json::get_text(json::get(out, "computers")->as_array()[2], "form"), "osquery systemd_units");
}

}  // namespace
}  // namespace qm::cli
