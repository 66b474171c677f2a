// Creating and removing the program's own entries under Wine: Run values in
// the real registry, shortcuts saved through the stand-in PowerShell (which
// uses the shell's real link object), boot tasks through schtasks.exe, and
// every refusal of removal.
#include <algorithm>

#include <gtest/gtest.h>

#include "knowledge/builtin_pack.h"
#include "formats/shell_link.h"
#include "os/os_test_support.h"
#include "os/system_tool.h"
#include "platforms/windows/approval_flag.h"
#include "platforms/windows/own_entries.h"
#include "platforms/windows/tasks.h"
#include "platforms/windows/windows_platform.h"
#include "platforms/windows/registry_test_support.h"
#include "util/text.h"

namespace qm::windows {
namespace {

constexpr std::string_view run_path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string approved_run = std::string(startup_approved_path) + "\\Run";

// An existing program file for the commands: the test program itself.
std::string existing_program() { return os::own_program_path(); }

model::CreateDetails details(std::string name, std::string mode, std::string workdir = {}) {
    model::CreateDetails d;
    d.name = std::move(name);
    d.command = "\"" + existing_program() + "\" --tray \"two words\"";
    d.exe = existing_program();
    d.workdir = std::move(workdir);
    d.mode = std::move(mode);
    return d;
}

class OwnEntries : public ::testing::Test {
protected:
    void TearDown() override {
        // Whatever a test created in the Run key under its tag goes again.
        for (const std::string& name : created_values) {
            HKEY key = nullptr;
            if (::RegOpenKeyExW(HKEY_CURRENT_USER, os::windows::to_wide(run_path).c_str(), 0, KEY_SET_VALUE, &key) ==
                0) {
                ::RegDeleteValueW(key, os::windows::to_wide(name).c_str());
                ::RegCloseKey(key);
            }
        }
    }

    std::string tag = "Own" + test::random_hex(4);
    std::vector<std::string> created_values;
};

TEST_F(OwnEntries, LoginCreatesRunValuesWithFreeNamesAndRemovalDeletesTheApprovalValueToo) {
    Result<model::CreatedEntry> first = create_own_entry(details(tag + " Notes!", "login"), false);
    ASSERT_TRUE(first.has_value()) << first.error();
    Result<model::CreatedEntry> second = create_own_entry(details(tag + " Notes!", "login"), false);
    ASSERT_TRUE(second.has_value()) << second.error();
    const std::string name = "Quillmoor-" + tag + " Notes";
    created_values = {name, name + " 2"};
    EXPECT_EQ(first->item.name, name);
    EXPECT_EQ(second->item.name, name + " 2");
    EXPECT_EQ(first->item.id(), "run|user|HKCU\\Run\\64|" + name);
    EXPECT_TRUE(first->item.managed);
    EXPECT_EQ(first->item.origin, model::Origin::own_entry);
    EXPECT_EQ(first->item.spec_value("mode"), "login");
    const std::string expected_command = "\"" + existing_program() + "\" --tray \"two words\"";
    EXPECT_EQ(test::read_value(HKEY_CURRENT_USER, run_path, 0, os::windows::to_wide(name)),
              std::make_pair(static_cast<DWORD>(REG_SZ), test::utf16_bytes(os::windows::to_wide(expected_command))));

    // Switched off, then removed: the approval value goes with the entry.
    ASSERT_TRUE(switch_by_approval_flag(first->item, false).has_value());
    ASSERT_EQ(test::read_value(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, os::windows::to_wide(name)).first,
              static_cast<DWORD>(REG_BINARY));
    Result<model::ChangeOutcome> removed = remove_own_entry(first->item, false);
    ASSERT_TRUE(removed.has_value()) << removed.error();
    EXPECT_EQ(removed->message, "Removed " + name + " from your Run list.");
    EXPECT_EQ(test::read_value(HKEY_CURRENT_USER, run_path, 0, os::windows::to_wide(name)).first,
              static_cast<DWORD>(REG_NONE));
    EXPECT_EQ(test::read_value(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, os::windows::to_wide(name)).first,
              static_cast<DWORD>(REG_NONE));
    // A value already gone counts as deleted.
    EXPECT_TRUE(remove_own_entry(first->item, false).has_value());
}

TEST_F(OwnEntries, AWorkingFolderOfItsOwnGivesARealShortcutInTheUsersStartupFolder) {
    test::ScratchFolder appdata;
    const std::optional<std::string> old_appdata = os::get_env("APPDATA");
    test::set_env("APPDATA", appdata.path());
    test::ScratchFolder workdir;
    Result<model::CreatedEntry> created = create_own_entry(details(tag, "login", workdir.path()), false);
    test::set_env("APPDATA", old_appdata);
    ASSERT_TRUE(created.has_value()) << created.error();
    EXPECT_EQ(created->item.kind, model::ItemKind::folder);
    EXPECT_EQ(created->item.name, "Quillmoor-" + tag);
    const std::string file = created->item.spec_value("file");
    EXPECT_EQ(file, os::join_path(os::join_path(appdata.path(), "Microsoft\\Windows\\Start Menu\\Programs\\Startup"),
                                  "Quillmoor-" + tag + ".lnk"));

    Result<std::string> bytes = os::read_file(file);
    ASSERT_TRUE(bytes.has_value()) << bytes.error();
    std::optional<formats::ShellLink> link = formats::read_shell_link(*bytes);
    ASSERT_TRUE(link.has_value());
    EXPECT_TRUE(equal_ignoring_ascii_case(link->target, existing_program())) << link->target;
    EXPECT_EQ(link->arguments, "--tray \"two words\"");
    EXPECT_EQ(link->working_directory, workdir.path());

    test::set_env("APPDATA", appdata.path());
    Result<model::ChangeOutcome> removed = remove_own_entry(created->item, false);
    test::set_env("APPDATA", old_appdata);
    ASSERT_TRUE(removed.has_value()) << removed.error();
    EXPECT_EQ(os::path_kind(file), os::PathKind::missing);
}

TEST_F(OwnEntries, BootRegistersTheOwnTaskThroughTheRealSchtasksAndTheScanFindsIt) {
    const std::string tasks_folder =
        os::join_path(os::get_env("SystemRoot").value_or("C:\\windows"), "System32\\Tasks");
    // Wine's /Query answers success for any name, so the free-name search
    // asks the task folder instead; everything else goes to the real tool.
    std::vector<std::string> calls;
    const os::ToolRunner runner = [&](const os::ToolRun& run) {
        // Named by its full path, the stand-in's in this build.
        EXPECT_EQ(run.program, os::system_tool("schtasks.exe"));
        const std::string program(file_name(run.program));
        calls.push_back(run.arguments.empty() ? program : program + " " + run.arguments[0]);
        if (!run.arguments.empty() && run.arguments[0] == "/Query") {
            const std::string file = os::join_path(tasks_folder, run.arguments[2].substr(1));
            return os::RunOutput{"", "", os::path_kind(file) == os::PathKind::file ? 0u : 1u, false};
        }
        os::ToolRun real = run;
        real.program =
            os::join_path(os::join_path(os::get_env("SystemRoot").value_or("C:\\windows"), "System32"), "schtasks.exe");
        return os::run_tool(real);
    };
    Result<model::CreatedEntry> created = create_own_entry(details(tag + " Boot", "boot"), true, runner);
    ASSERT_TRUE(created.has_value()) << created.error();
    const std::string uri = "\\Quillmoor\\Quillmoor-" + tag + " Boot";
    EXPECT_EQ(created->item.spec_value("uri"), uri);
    EXPECT_EQ(created->item.state_text, "Enabled (runs at boot)");
    EXPECT_EQ(calls, (std::vector<std::string>{"schtasks.exe /Query", "schtasks.exe /Create"}));

    // Wine's Task Scheduler stores its own rewrite of a definition, without
    // the triggers, the principal and the action, so the registered file
    // says nothing of a boot task there. The registration is checked by its
    // file; the scan is checked on the document itself, placed in a task
    // folder of the test's own, as Windows keeps it.
    EXPECT_EQ(os::path_kind(os::join_path(tasks_folder, uri.substr(1))), os::PathKind::file);
    test::ScratchFolder windows;
    const std::string own_folder = os::join_path(windows.path(), "System32\\Tasks\\Quillmoor");
    ASSERT_TRUE(os::create_folders(own_folder).has_value());
    std::wstring document =
        os::windows::to_wide(own_boot_task_document(tag + " Boot", existing_program(), "--tray \"two words\"", ""));
    ASSERT_TRUE(os::write_file_replace(os::join_path(own_folder, "Quillmoor-" + tag + " Boot"),
                                       "\xFF\xFE" + test::utf16_bytes(document, false))
                    .has_value());
    const std::optional<std::string> system_root = os::get_env("SystemRoot");
    test::set_env("SystemRoot", windows.path());
    model::SystemFacts facts;
    facts.admin = true;
    WindowsPlatform platform(facts, [] { return knowledge::builtin_pack().locations; });
    const model::ScanResult scan = platform.scan();
    test::set_env("SystemRoot", system_root);
    auto found = std::find_if(scan.items.begin(), scan.items.end(),
                              [&](const model::StartupItem& item) { return item.spec_value("uri") == uri; });
    ASSERT_NE(found, scan.items.end());
    EXPECT_EQ(found->state_text, "Enabled (runs at boot)");
    EXPECT_TRUE(found->managed);
    EXPECT_EQ(found->origin, model::Origin::own_entry);
    EXPECT_EQ(found->command, existing_program() + " --tray \"two words\"");
    EXPECT_EQ(found->exe, existing_program());

    Result<model::ChangeOutcome> removed = remove_own_entry(*found, true, runner);
    ASSERT_TRUE(removed.has_value()) << removed.error();
    EXPECT_EQ(removed->message, "Deleted the scheduled task " + uri + ".");
    EXPECT_EQ(os::path_kind(os::join_path(tasks_folder, uri.substr(1))), os::PathKind::missing);
}

TEST_F(OwnEntries, CreationChecksComeInOrderAndWriteNothing) {
    struct Case {
        model::CreateDetails details;
        bool admin;
        std::string message;
    };
    model::CreateDetails control = details(tag, "login");
    control.workdir = "C:\\a\nb";
    model::CreateDetails missing = details(tag, "login");
    missing.command = "C:\\No\\Such\\Program.exe --x";
    model::CreateDetails empty_command = details(tag, "login");
    empty_command.command = "  ";
    const std::vector<Case> cases = {
        {details("x\ty", "login"), false, "The name contains a line break or control character, which is not allowed."},
        {control, false, "The working folder contains a line break or control character, which is not allowed."},
        {details("?!...", "login"), false, "A name is required."},
        {details(tag, "service-auto"), true, "Use the existing service entry to switch this on."},
        {details(tag, "cron"), true, "\"cron\" is not a way to start a program on Windows."},
        {empty_command, false, "A command is required."},
        {missing, false, "The program file does not exist: C:\\No\\Such\\Program.exe"},
        {details(tag, "boot"), false, "Creating a start-up task for the whole computer needs administrator rights."},
    };
    for (const Case& c : cases) {
        Result<model::CreatedEntry> created = create_own_entry(c.details, c.admin);
        ASSERT_FALSE(created.has_value()) << c.message;
        EXPECT_EQ(created.error(), c.message);
    }
    EXPECT_EQ(test::read_value(HKEY_CURRENT_USER, run_path, 0, os::windows::to_wide("Quillmoor-" + tag)).first,
              static_cast<DWORD>(REG_NONE));
}

TEST_F(OwnEntries, RemovalRefusesEverythingItDidNotMake) {
    auto item = [](model::ItemKind kind, std::string name) {
        return model::StartupItem(kind, "x", model::Scope::user, "loc", std::move(name));
    };
    model::StartupItem machine_run = item(model::ItemKind::run, "Quillmoor-x");
    machine_run.set_spec("hive", "HKLM");
    machine_run.set_spec("short", "Quillmoor-x");
    model::StartupItem foreign_run = item(model::ItemKind::run, "Tray");
    foreign_run.set_spec("hive", "HKCU");
    foreign_run.set_spec("short", "Tray");
    model::StartupItem machine_shortcut = item(model::ItemKind::folder, "Quillmoor-notes");
    machine_shortcut.set_spec(
        "file", "C:\\ProgramData\\Microsoft\\Windows\\Start Menu\\Programs\\Startup\\Quillmoor-notes.lnk");
    model::StartupItem foreign_shortcut = item(model::ItemKind::folder, "notes");
    foreign_shortcut.set_spec("file", os::join_path(user_startup_folder(), "notes.lnk"));
    model::StartupItem other_task = item(model::ItemKind::task, "Quillmoor-x");
    other_task.set_spec("uri", "\\Other\\Quillmoor-x");
    model::StartupItem service = item(model::ItemKind::service, "Spooler");

    const std::string run_refusal =
        "That entry is not one Quillmoor creates in your own Run list, so it will not be deleted.";
    const std::string shortcut_refusal =
        "That shortcut is not one Quillmoor creates in your own Startup folder, so it will not be deleted.";
    EXPECT_EQ(remove_own_entry(machine_run, true).error(), run_refusal);
    EXPECT_EQ(remove_own_entry(foreign_run, true).error(), run_refusal);
    EXPECT_EQ(remove_own_entry(machine_shortcut, true).error(), shortcut_refusal);
    EXPECT_EQ(remove_own_entry(foreign_shortcut, true).error(), shortcut_refusal);
    EXPECT_EQ(remove_own_entry(other_task, true).error(),
              "That task is not in Quillmoor's own task folder, so it will not be deleted.");
    EXPECT_EQ(remove_own_entry(service, true).error(), "Only entries created by Quillmoor can be removed.");
}

}  // namespace
}  // namespace qm::windows
