// The real program on the Wine prefix's Run keys: listing, judging,
// switching off and on, the history and undo, with the bytes each leaves in
// the registry. The data folder goes to a scratch folder through the
// environment the program reads it from.
#include <sstream>

#include <gtest/gtest.h>

#include "json/json.h"
#include "os/files.h"
#include "os/os_test_support.h"
#include "platforms/windows/registry_test_support.h"
#include "support/run_program.h"

namespace qm::windows {
namespace {

constexpr std::string_view run_path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string approved_run = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
const std::string switched_on(std::string("\x02\0\0\0\0\0\0\0\0\0\0\0", 12));

class RunCommands : public ::testing::Test {
protected:
    void SetUp() override {
        registry.write_text(HKEY_CURRENT_USER, run_path, 0, os::windows::to_wide(name),
                            L"\"C:\\Program Files\\Tagged App\\tagged.exe\" --tray");
        registry.write(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, os::windows::to_wide(name), REG_BINARY,
                       switched_on);
    }

    test::ProgramRun run(std::vector<std::string> arguments,
                         std::vector<std::pair<std::string, std::string>> extra = {}) {
        // Whether the prefix runs as administrator decides which of the two
        // folders is written; both are the scratch folder here.
        extra.emplace_back("LOCALAPPDATA", data.path());
        extra.emplace_back("ProgramData", data.path());
        return test::run_program(arguments, extra);
    }

    std::string approval_bytes() const {
        return test::read_value(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, os::windows::to_wide(name)).second;
    }

    std::string name = "QmCommandTest" + test::random_hex(4);
    test::ScratchFolder data;
    test::RegistryWriter registry;
};

TEST_F(RunCommands, ListAssessDisableEnableHistoryAndUndoOnARealRunValue) {
    const auto run_value = test::read_value(HKEY_CURRENT_USER, run_path, 0, os::windows::to_wide(name));

    test::ProgramRun listed = run({"list", "--filter", name});
    ASSERT_EQ(listed.exit_code, 0) << listed.err;
    EXPECT_NE(listed.out.find(name), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("Registry (Run, this"), std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("1 items."), std::string::npos) << listed.out;

    test::ProgramRun as_json = run({"list", "--filter", name, "--json"});
    ASSERT_EQ(as_json.exit_code, 0) << as_json.err;
    Result<json::JsonValue> parsed = json::parse(as_json.out);
    ASSERT_TRUE(parsed.has_value()) << as_json.out;
    ASSERT_TRUE(parsed->is_array());
    ASSERT_EQ(parsed->as_array().size(), 1u);
    const json::JsonValue& item = parsed->as_array()[0];
    EXPECT_EQ(json::get_text(item, "id"), "run|user|HKCU\\Run\\64|" + name);
    EXPECT_EQ(json::get_text(item, "exe"), "C:\\Program Files\\Tagged App\\tagged.exe");
    EXPECT_EQ(json::get_text(item, "state_text"), "Enabled");
    EXPECT_EQ(json::get_text(item, "toggle"), "ok");

    test::ProgramRun assessed = run({"assess", name});
    ASSERT_EQ(assessed.exit_code, 0) << assessed.err;
    EXPECT_NE(assessed.out.find("If switched off:"), std::string::npos) << assessed.out;
    EXPECT_NE(assessed.out.find("State: Enabled"), std::string::npos) << assessed.out;

    test::ProgramRun disabled = run({"disable", name, "--yes"});
    ASSERT_EQ(disabled.exit_code, 0) << disabled.err;
    EXPECT_NE(disabled.out.find(name + " will no longer start with Windows (the entry itself is untouched)."),
              std::string::npos)
        << disabled.out;
    ASSERT_EQ(approval_bytes().size(), 12u);
    EXPECT_EQ(approval_bytes()[0], '\x03');
    test::ProgramRun off_list = run({"list", "--filter", name, "--off"});
    EXPECT_NE(off_list.out.find(name), std::string::npos) << off_list.out;

    test::ProgramRun enabled = run({"enable", name, "--yes"});
    ASSERT_EQ(enabled.exit_code, 0) << enabled.err;
    EXPECT_NE(enabled.out.find(name + " will start with Windows (the entry itself is untouched)."), std::string::npos);
    EXPECT_EQ(approval_bytes(), switched_on);
    EXPECT_EQ(test::read_value(HKEY_CURRENT_USER, run_path, 0, os::windows::to_wide(name)), run_value);

    test::ProgramRun history = run({"history"});
    ASSERT_EQ(history.exit_code, 0) << history.err;
    // One line per change, "SEQ  TIME  ACTION  ITEM", the newest first.
    std::istringstream lines(history.out);
    std::string line;
    std::vector<std::pair<std::string, std::string>> changes;  // seq, action
    while (std::getline(lines, line)) {
        if (line.find(name) == std::string::npos) continue;
        std::istringstream words(line);
        std::string seq, date, time, action;
        words >> seq >> date >> time >> action;
        changes.emplace_back(seq, action);
    }
    ASSERT_EQ(changes.size(), 2u) << history.out;
    EXPECT_EQ(changes[0].second, "enable");
    EXPECT_EQ(changes[1].second, "disable");

    // Undoing the enable switches the entry off again.
    const std::string enable_seq = changes[0].first;
    test::ProgramRun undone = run({"undo", enable_seq, "--yes"});
    ASSERT_EQ(undone.exit_code, 0) << undone.out << undone.err;
    EXPECT_EQ(approval_bytes()[0], '\x03');
    EXPECT_NE(run({"history"}).out.find("[undone]"), std::string::npos);
}

TEST_F(RunCommands, TimingLinesAppearOnlyWhenAskedFor) {
    test::ProgramRun quiet = run({"list", "--filter", name});
    EXPECT_EQ(quiet.err, "");
    test::ProgramRun timed = run({"list", "--filter", name}, {{"QUILLMOOR_TIMING", "1"}});
    ASSERT_EQ(timed.exit_code, 0);
    EXPECT_TRUE(timed.err.starts_with("run keys: ")) << timed.err;
    EXPECT_TRUE(timed.err.find(" µs\n") != std::string::npos || timed.err.find(" ms\n") != std::string::npos ||
                timed.err.find(" s\n") != std::string::npos)
        << timed.err;
}


// The arguments file the collection's PowerShell module writes, as recorded
// from a run: the plan is applied once, and a second run changes nothing.
TEST_F(RunCommands, AnsibleModuleAppliesARecordedPlanOnceAndThenFindsItDone) {
    const std::wstring module_item = L"QmAnsibleModuleTest";
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, module_item, L"\"C:\\Program Files\\Tagged App\\tagged.exe\"");
    registry.write(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, module_item, REG_BINARY, switched_on);
    const std::string arguments = os::join_path(data.path(), "args.json");
    ASSERT_TRUE(os::write_file_replace(
                    arguments, os::read_file(QM_TEST_DATA_DIR "/ansible/win-module-args.json").value_or(""))
                    .has_value());

    auto module_run = [&] {
        const test::ProgramRun ran = run({"ansible-module", arguments});
        EXPECT_EQ(ran.exit_code, 0) << ran.out << ran.err;
        Result<json::JsonValue> answer = json::parse(ran.out);
        return answer ? std::move(*answer) : json::JsonValue();
    };
    const json::JsonValue first = module_run();
    EXPECT_TRUE(json::get_flag(first, "changed"));
    EXPECT_FALSE(json::get_flag(first, "failed"));
    EXPECT_EQ(json::get_text(*json::get(first, "diff"), "before"), "QmAnsibleModuleTest: on (Enabled)\n");
    EXPECT_EQ(test::read_value(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, module_item).second[0], '\x03');

    const json::JsonValue second = module_run();
    EXPECT_FALSE(json::get_flag(second, "changed"));
    EXPECT_EQ(json::get_text(json::get(second, "results")->as_array().at(0), "status"), "unchanged");
}

}  // namespace
}  // namespace qm::windows
