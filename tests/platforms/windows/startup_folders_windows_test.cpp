// The Startup-folder source on real folders and real shortcuts under Wine:
// APPDATA and ProgramData point at scratch folders for the test, so the
// built-in locations read folders of the test's own.
#include <algorithm>

#include <gtest/gtest.h>

#include "json/json.h"
#include "knowledge/builtin_pack.h"
#include "os/os_test_support.h"
#include "platforms/windows/approval_flag.h"
#include "platforms/windows/registry_test_support.h"
#include "platforms/windows/shell_link_test_support.h"
#include "platforms/windows/windows_platform.h"
#include "support/run_program.h"

namespace qm::windows {
namespace {

constexpr std::string_view startup_sub = "Microsoft\\Windows\\Start Menu\\Programs\\Startup";
const std::string approved_folder = std::string(startup_approved_path) + "\\StartupFolder";

const model::StartupItem* by_name(const std::vector<model::StartupItem>& items, std::string_view name) {
    auto it = std::find_if(items.begin(), items.end(), [&](const model::StartupItem& i) { return i.name == name; });
    return it == items.end() ? nullptr : &*it;
}

std::vector<model::StartupItem> folder_items(const model::ScanResult& scan) {
    std::vector<model::StartupItem> found;
    for (const model::StartupItem& item : scan.items) {
        if (item.kind == model::ItemKind::folder) found.push_back(item);
    }
    return found;
}

class StartupFolders : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(os::create_folders(user_folder).has_value());
        ASSERT_TRUE(os::create_folders(machine_folder).has_value());
    }

    WindowsPlatform platform(bool admin) const {
        model::SystemFacts facts;
        facts.os = "windows";
        facts.admin = admin;
        return WindowsPlatform(facts, [] { return knowledge::builtin_pack().locations; });
    }

    test::ScratchFolder user_base;
    test::ScratchFolder machine_base;
    test::EnvironmentOverride appdata{"APPDATA", user_base.path()};
    test::EnvironmentOverride programdata{"ProgramData", machine_base.path()};
    std::string user_folder = os::join_path(user_base.path(), startup_sub);
    std::string machine_folder = os::join_path(machine_base.path(), startup_sub);
    test::RegistryWriter registry;
};

TEST_F(StartupFolders, EveryFileButDesktopIniIsAnItemWithItsShortcutsCommand) {
    ASSERT_TRUE(test::save_shortcut(os::join_path(user_folder, "Tray App.lnk"), "C:\\Apps\\Tray App\\tray.exe",
                                    "--minimized \"two words\"", "C:\\Apps\\Tray App"));
    ASSERT_TRUE(test::save_shortcut(os::join_path(user_folder, "Quillmoor-notes.lnk"), "C:\\Apps\\notes.exe"));
    ASSERT_TRUE(os::write_file_replace(os::join_path(user_folder, "notes.url"),
                                       "[InternetShortcut]\r\nURL=https://example.org/\r\n")
                    .has_value());
    ASSERT_TRUE(os::write_file_replace(os::join_path(user_folder, "Desktop.INI"), "[.ShellClassInfo]\r\n").has_value());
    ASSERT_TRUE(os::write_file_replace(os::join_path(user_folder, "damaged.lnk"), std::string(200, 'L')).has_value());
    ASSERT_TRUE(os::create_folders(os::join_path(user_folder, "Sub")).has_value());
    ASSERT_TRUE(test::save_shortcut(os::join_path(user_folder, "Sub\\inside.lnk"), "C:\\Apps\\inside.exe"));
    ASSERT_TRUE(test::save_shortcut(os::join_path(machine_folder, "Quillmoor-all.lnk"), "C:\\Apps\\all.exe"));

    const model::ScanResult scanned = platform(false).scan();
    const std::vector<model::StartupItem> items = folder_items(scanned);
    ASSERT_EQ(items.size(), 5u);

    const model::StartupItem* tray = by_name(items, "Tray App");
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(tray->kind_label, "Startup folder (this user)");
    EXPECT_EQ(tray->scope, model::Scope::user);
    EXPECT_EQ(tray->location, user_folder);
    EXPECT_EQ(tray->id(), "folder|user|" + user_folder + "|Tray App");
    EXPECT_EQ(tray->command, "\"C:\\Apps\\Tray App\\tray.exe\" --minimized \"two words\"");
    EXPECT_EQ(tray->exe, "C:\\Apps\\Tray App\\tray.exe");
    EXPECT_EQ(tray->origin, model::Origin::installed_program);
    EXPECT_EQ(tray->spec_value("short"), "Tray App");
    EXPECT_EQ(tray->spec_value("hive"), "HKCU");
    EXPECT_EQ(tray->spec_value("approved"), "StartupFolder");
    EXPECT_EQ(tray->spec_value("file"), os::join_path(user_folder, "Tray App.lnk"));
    EXPECT_EQ(tray->spec_value("workdir"), "C:\\Apps\\Tray App");
    EXPECT_TRUE(tray->enabled);
    EXPECT_EQ(tray->state_text, "Enabled");
    EXPECT_EQ(tray->toggle, model::Toggle::ok);
    EXPECT_FALSE(tray->managed);

    // Files that are not shortcuts, or are damaged ones, start as themselves.
    const model::StartupItem* notes = by_name(items, "notes");
    ASSERT_NE(notes, nullptr);
    EXPECT_EQ(notes->command, os::join_path(user_folder, "notes.url"));
    const model::StartupItem* damaged = by_name(items, "damaged");
    ASSERT_NE(damaged, nullptr);
    EXPECT_EQ(damaged->command, os::join_path(user_folder, "damaged.lnk"));
    // A shortcut that cannot be read proves nothing by its name and is counted.
    EXPECT_TRUE(damaged->unreadable);
    EXPECT_FALSE(notes->unreadable);
    EXPECT_EQ(damaged->warnings,
              std::vector<std::string>{"The shortcut could not be read, so what it starts is not known."});
    EXPECT_NE(std::find(scanned.notes.begin(), scanned.notes.end(),
                        "1 shortcut(s) in the Startup folders could not be read; they are listed by their own path."),
              scanned.notes.end());

    const model::StartupItem* own = by_name(items, "Quillmoor-notes");
    ASSERT_NE(own, nullptr);
    EXPECT_TRUE(own->managed);
    EXPECT_EQ(own->origin, model::Origin::own_entry);

    // The all-users folder: marked as own too, and switched only as administrator.
    const model::StartupItem* all = by_name(items, "Quillmoor-all");
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(all->kind_label, "Startup folder (all users)");
    EXPECT_EQ(all->scope, model::Scope::machine);
    EXPECT_EQ(all->spec_value("hive"), "HKLM");
    EXPECT_EQ(all->toggle, model::Toggle::admin);
    EXPECT_TRUE(all->managed);
    EXPECT_EQ(by_name(folder_items(platform(true).scan()), "Quillmoor-all")->toggle, model::Toggle::ok);

    EXPECT_EQ(by_name(items, "Desktop"), nullptr);
    EXPECT_EQ(by_name(items, "inside"), nullptr);
}

TEST_F(StartupFolders, SwitchingWritesTheApprovalValueUnderStartupFolder) {
    const std::string file_name = "Switch Me " + test::random_hex(4) + ".lnk";
    ASSERT_TRUE(test::save_shortcut(os::join_path(user_folder, file_name), "C:\\Apps\\switch.exe"));
    registry.write(HKEY_CURRENT_USER, approved_folder, KEY_WOW64_64KEY, os::windows::to_wide(file_name), REG_BINARY,
                   "");

    WindowsPlatform windows = platform(true);
    const std::vector<model::StartupItem> items = folder_items(windows.scan());
    ASSERT_EQ(items.size(), 1u);
    Result<model::ChangeOutcome> off = windows.set_enabled(items[0], false, false);
    ASSERT_TRUE(off.has_value()) << off.error();
    EXPECT_EQ(off->message, items[0].name + " will no longer start with Windows (the entry itself is untouched).");
    const auto [type, bytes] =
        test::read_value(HKEY_CURRENT_USER, approved_folder, KEY_WOW64_64KEY, os::windows::to_wide(file_name));
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
    ASSERT_EQ(bytes.size(), 12u);
    EXPECT_EQ(bytes[0], '\x03');
    EXPECT_FALSE(folder_items(windows.scan())[0].enabled);
    EXPECT_EQ(folder_items(windows.scan())[0].state_text, "Disabled");

    ASSERT_TRUE(windows.set_enabled(items[0], true, false).has_value());
    EXPECT_EQ(
        test::read_value(HKEY_CURRENT_USER, approved_folder, KEY_WOW64_64KEY, os::windows::to_wide(file_name)).second,
        std::string("\x02\0\0\0\0\0\0\0\0\0\0\0", 12));
    EXPECT_EQ(os::path_kind(os::join_path(user_folder, file_name)), os::PathKind::file);
}

// A folder spelled on disk otherwise than its location names it ("StartUp",
// as Wine makes it) is read, and its items show it as named.
TEST_F(StartupFolders, AFolderSpelledOtherwiseOnDiskShowsAsNamed) {
    test::ScratchFolder base;
    test::EnvironmentOverride other_appdata{"APPDATA", base.path()};
    const std::string on_disk = os::join_path(base.path(), "Microsoft\\Windows\\Start Menu\\Programs\\StartUp");
    ASSERT_TRUE(os::create_folders(on_disk).has_value());
    ASSERT_TRUE(os::write_file_replace(os::join_path(on_disk, "notes.url"), "[InternetShortcut]\r\n").has_value());
    ASSERT_TRUE(test::save_shortcut(os::join_path(on_disk, "Tray.lnk"), "C:\\Apps\\tray.exe"));

    const std::string named = os::join_path(base.path(), startup_sub);
    const std::vector<model::StartupItem> items = folder_items(platform(false).scan());
    ASSERT_EQ(items.size(), 2u);
    for (const model::StartupItem& item : items) EXPECT_EQ(item.location, named) << item.name;
    EXPECT_EQ(by_name(items, "notes")->command, os::join_path(named, "notes.url"));
    EXPECT_EQ(by_name(items, "Tray")->command, "\"C:\\Apps\\tray.exe\"");
    EXPECT_EQ(by_name(items, "Tray")->spec_value("file"), os::join_path(named, "Tray.lnk"));
}

TEST_F(StartupFolders, EmptyAndMissingFoldersAddNothing) {
    EXPECT_TRUE(folder_items(platform(true).scan()).empty());
    ASSERT_TRUE(os::remove_tree(user_base.path()).has_value());
    test::EnvironmentOverride unset{"ProgramData", ""};
    EXPECT_TRUE(folder_items(platform(true).scan()).empty());
}

TEST_F(StartupFolders, TheRealProgramListsAndSwitchesAShortcut) {
    const std::string name = "Listed " + test::random_hex(4);
    ASSERT_TRUE(test::save_shortcut(os::join_path(user_folder, name + ".lnk"), "C:\\Apps\\listed.exe", "-q"));
    registry.write(HKEY_CURRENT_USER, approved_folder, KEY_WOW64_64KEY, os::windows::to_wide(name + ".lnk"), REG_BINARY,
                   "");
    test::ScratchFolder data;
    const std::vector<std::pair<std::string, std::string>> environment = {{"APPDATA", user_base.path()},
                                                                          {"ProgramData", data.path()},
                                                                          {"LOCALAPPDATA", data.path()}};

    test::ProgramRun listed = test::run_program({"list", "--filter", name, "--json"}, environment);
    ASSERT_EQ(listed.exit_code, 0) << listed.err;
    Result<json::JsonValue> parsed = json::parse(listed.out);
    ASSERT_TRUE(parsed.has_value() && parsed->as_array().size() == 1) << listed.out;
    EXPECT_EQ(json::get_text(parsed->as_array()[0], "kind"), "folder");
    EXPECT_EQ(json::get_text(parsed->as_array()[0], "command"), "\"C:\\Apps\\listed.exe\" -q");

    test::ProgramRun disabled = test::run_program({"disable", name, "--yes"}, environment);
    ASSERT_EQ(disabled.exit_code, 0) << disabled.out << disabled.err;
    EXPECT_EQ(test::read_value(HKEY_CURRENT_USER, approved_folder, KEY_WOW64_64KEY, os::windows::to_wide(name + ".lnk"))
                  .second[0],
              '\x03');
}

}  // namespace
}  // namespace qm::windows
