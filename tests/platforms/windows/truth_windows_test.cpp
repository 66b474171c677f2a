// The real program on the Wine prefix, fed entries a careless or hostile
// program could leave: what it shows is what Windows would run, machine text
// never steers the terminal, a change acts only on what was named exactly,
// a name that cannot be written back is refused, a decision comes with its
// reasons, and switching off and on again leaves the registry as it was.
#include <windows.h>

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "json/json.h"
#include "os/environment.h"
#include "os/files.h"
#include "os/os_test_support.h"
#include "os/windows/wide.h"
#include "platforms/windows/registry_test_support.h"
#include "platforms/windows/system_test_support.h"
#include "support/run_program.h"

namespace qm::windows {
namespace {

constexpr std::string_view run_path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string approved_run = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";

class Truth : public ::testing::Test {
protected:
    test::ProgramRun run(const std::vector<std::string>& arguments) const {
        return test::run_program(arguments, {{"LOCALAPPDATA", data.path()}, {"ProgramData", data.path()}});
    }

    // The listed item whose name holds `part`, as --json gives it.
    json::JsonValue item_named(const std::string& part) const {
        test::ProgramRun listed = run({"list", "--json"});
        Result<json::JsonValue> items = json::parse(listed.out);
        EXPECT_TRUE(items && items->is_array()) << listed.out << listed.err;
        if (items && items->is_array()) {
            for (const json::JsonValue& item : items->as_array()) {
                if (json::get_text(item, "name").find(part) != std::string::npos) return item;
            }
        }
        return json::JsonValue();
    }

    DWORD approval_type(std::wstring_view name) const {
        return test::read_value(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, name).first;
    }

    const std::string tag = "QmTruth" + test::random_hex(4);
    test::ScratchFolder data;
    test::RegistryWriter registry;
};

TEST_F(Truth, AnUnquotedServicePathShowsTheProgramWindowsRuns) {
    const std::string meant = "C:\\Program Files\\Internet Explorer\\iexplore.exe";
    ASSERT_EQ(os::path_kind(meant), os::PathKind::file);
    test::TestServices services;
    const std::string service =
        services.create("Unquoted", SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, meant + " -embedding");

    test::ProgramRun mild = run({"assess", service});
    EXPECT_NE(mild.out.find("The path is not in quotes, so Windows looks for C:\\Program.exe first; a program placed "
                            "there would run instead."),
              std::string::npos)
        << mild.out << mild.err;

    const std::string shadow = "C:\\Program.exe";
    ASSERT_TRUE(::CopyFileW(os::windows::to_wide(test::beside_tests("planted.exe")).c_str(),
                            os::windows::to_wide(shadow).c_str(), FALSE));
    struct RemoveAtEnd {
        std::string path;
        ~RemoveAtEnd() { (void)os::remove_file(path); }
    } remove_shadow{shadow};
    EXPECT_EQ(json::get_text(item_named(service), "exe"), shadow);
    test::ProgramRun shadowed = run({"assess", service});
    EXPECT_NE(shadowed.out.find("The path is not in quotes: C:\\Program.exe would run first."), std::string::npos)
        << shadowed.out;
}

TEST_F(Truth, ASystemPartsNameAwayFromTheSystemsFoldersIsDoubted) {
    const std::string name = "SecurityHealth";
    const std::string program = os::join_path(os::temp_folder(), "SecurityHealthSystray.exe");
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, os::windows::to_wide(name),
                        os::windows::to_wide("\"" + program + "\""));
    const test::ProgramRun assessed = run({"assess", name});
    EXPECT_NE(assessed.out.find("(low confidence)"), std::string::npos) << assessed.out;
    EXPECT_NE(assessed.out.find("but its program is " + program +
                                ", outside the folders where the system keeps its "
                                "own programs."),
              std::string::npos)
        << assessed.out;
}

TEST_F(Truth, MachineTextNeverReachesPipedOutputRaw) {
    const std::wstring name = os::windows::to_wide(tag) + L" \x1b[2J\nFake line";
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, name, L"C:\\x\x1b]0;title\x07.exe");
    registry.write(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, name, REG_BINARY,
                   std::string("\x02\0\0\0\0\0\0\0\0\0\0\0", 12));
    const std::string id = json::get_text(item_named(tag), "id");
    ASSERT_FALSE(id.empty());

    for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{{"assess", id},
                                                                                           {"disable", id, "--yes"},
                                                                                           {"enable", id, "--yes"},
                                                                                           {"disable", tag},
                                                                                           {"list", "--filter", tag}}) {
        const test::ProgramRun shown = run(arguments);
        EXPECT_EQ((shown.out + shown.err).find('\x1b'), std::string::npos) << arguments[0] << ": " << shown.out;
        EXPECT_EQ((shown.out + shown.err).find("\nFake line"), std::string::npos) << arguments[0] << ": " << shown.out;
    }
}

TEST_F(Truth, ANameThatCannotBeWrittenBackExactlyIsRefused) {
    const std::wstring name = os::windows::to_wide(tag) + L" half \xD800 pair";
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, name, L"C:\\windows\\notepad.exe");
    const json::JsonValue item = item_named(tag);
    EXPECT_EQ(json::get_text(item, "toggle"), "locked");
    const test::ProgramRun off = run({"disable", json::get_text(item, "id"), "--yes"});
    EXPECT_EQ(off.exit_code, 1) << off.out << off.err;
    EXPECT_NE(off.err.find("unpaired UTF-16 surrogate"), std::string::npos) << off.err;
    EXPECT_EQ(approval_type(name), static_cast<DWORD>(REG_NONE));
    EXPECT_EQ(approval_type(os::windows::to_wide(tag) + L" half \xFFFD pair"), static_cast<DWORD>(REG_NONE));
    EXPECT_EQ(json::get_text(item_named(tag), "state_text"), "Enabled");

    // Wine refuses to make a file whose name holds an unpaired surrogate, so
    // the same refusal for Startup-folder files and task files is not shown here.
}

TEST_F(Truth, ChangesNeedTheExactNameAndKnownOptions) {
    const std::string name = tag + "QuotedApp";
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, os::windows::to_wide(name), L"\"C:\\windows\\notepad.exe\"");
    const std::string part = tag + "QuotedAp";
    const struct {
        std::vector<std::string> arguments;
        int exit_code;
        std::string err;
    } cases[] = {
        {{"disable", part, "--dry-run"}, 2, "Unknown option --dry-run. Try: quillmoor help\n"},
        {{"disable", part, "--yes"},
         1,
         "No item is called \"" + part + "\". Did you mean \"" + name + "\"? Use its exact name or its id.\n"},
        {{"list", "--level", "nonsense"},
         2,
         "Unknown level \"nonsense\". The levels are: safe, low, caution, high, critical, unknown.\n"},
    };
    for (const auto& c : cases) {
        const test::ProgramRun result = run(c.arguments);
        EXPECT_EQ(result.exit_code, c.exit_code) << c.arguments[0] << " " << c.arguments[1];
        EXPECT_EQ(result.err, c.err);
    }
    EXPECT_EQ(approval_type(os::windows::to_wide(name)), static_cast<DWORD>(REG_NONE)) << "nothing was switched";
}

TEST_F(Truth, ADecisionIsAskedForWithThePlanAndItsReasons) {
    const std::string name = tag + " Gone";
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, os::windows::to_wide(name), L"C:\\NoSuchFolder\\gone.exe");
    registry.write(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, os::windows::to_wide(name), REG_BINARY,
                   std::string("\x03\0\0\0\0\0\0\0\0\0\0\0", 12));
    const test::ProgramRun asked = run({"enable", name});
    EXPECT_EQ(asked.exit_code, 4) << asked.out << asked.err;
    EXPECT_NE(asked.out.find("  Plan: enable \"" + name + "\" (Registry (Run, this user))\n    Level caution"),
              std::string::npos)
        << asked.out;
    EXPECT_NE(asked.out.find("      - The file named in the command does not exist.\n"), std::string::npos)
        << asked.out;
    EXPECT_NE(asked.out.find("With --yes, Quillmoor saves an automatic backup first and then switches it on."),
              std::string::npos)
        << asked.out;
    EXPECT_EQ(asked.err, "  This needs a decision. Run it again with --yes if you accept that.\n");
}

TEST_F(Truth, OffAndOnAgainOrUndoneLeavesNoFlagWhereNoneWas) {
    const std::string name = tag + " Flagless";
    const std::wstring wide = os::windows::to_wide(name);
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, wide, L"\"C:\\windows\\notepad.exe\"");
    ASSERT_EQ(approval_type(wide), static_cast<DWORD>(REG_NONE));

    ASSERT_EQ(run({"disable", name, "--yes"}).exit_code, 0);
    EXPECT_EQ(approval_type(wide), static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(run({"enable", name, "--yes"}).exit_code, 0);
    EXPECT_EQ(approval_type(wide), static_cast<DWORD>(REG_NONE));

    ASSERT_EQ(run({"disable", name, "--yes"}).exit_code, 0);
    const std::string seq = test::newest_seq(run({"history"}).out, "disable", name);
    ASSERT_FALSE(seq.empty());
    const test::ProgramRun undone = run({"undo", seq, "--yes"});
    ASSERT_EQ(undone.exit_code, 0) << undone.out << undone.err;
    EXPECT_EQ(approval_type(wide), static_cast<DWORD>(REG_NONE));

    // Off again, then another program switches it on through a flag of its
    // own: switching it off and on leaves that program's "on" flag.
    ASSERT_EQ(run({"disable", name, "--yes"}).exit_code, 0);
    registry.write(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, wide, REG_BINARY,
                   std::string("\x02\0\0\0\0\0\0\0\0\0\0\0", 12));
    ASSERT_EQ(run({"disable", name, "--yes"}).exit_code, 0);
    ASSERT_EQ(run({"enable", name, "--yes"}).exit_code, 0);
    EXPECT_EQ(approval_type(wide), static_cast<DWORD>(REG_BINARY));
    // Clean up what the registry writer did not write itself.
    registry.write(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, wide, REG_BINARY, "");
}

TEST_F(Truth, NoTwoItemsOfAnySourceShareAnId) {
    const std::string startup =
        os::join_path(os::get_env("APPDATA").value_or(""), "Microsoft\\Windows\\Start Menu\\Programs\\Startup");
    ASSERT_TRUE(os::create_folders(startup).has_value());
    const std::vector<std::string> files = {os::join_path(startup, tag + " notes.url"),
                                            os::join_path(startup, tag + " notes.bat")};
    for (const std::string& file : files) ASSERT_TRUE(os::write_file_replace(file, "x").has_value());
    struct RemoveAtEnd {
        std::vector<std::string> paths;
        ~RemoveAtEnd() {
            for (const std::string& path : paths) (void)os::remove_file(path);
        }
    } remove_files{files};

    const test::ProgramRun listed = run({"list", "--json"});
    Result<json::JsonValue> items = json::parse(listed.out);
    ASSERT_TRUE(items && items->is_array()) << listed.err;
    std::set<std::string> ids;
    std::size_t planted = 0;
    for (const json::JsonValue& item : items->as_array()) {
        EXPECT_TRUE(ids.insert(json::get_text(item, "id")).second) << json::get_text(item, "id");
        if (json::get_text(item, "name").starts_with(tag)) ++planted;
    }
    EXPECT_EQ(planted, 2u);
}

}  // namespace
}  // namespace qm::windows
