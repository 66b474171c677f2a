// The real program's `running`, `apps` and `add` under Wine: programs found
// in the process list and in a Start menu of the test's own, and an entry
// made for one of them.
#include <gtest/gtest.h>

#include "json/json.h"
#include "os/os_test_support.h"
#include "platforms/windows/registry_test_support.h"
#include "platforms/windows/shell_link_test_support.h"
#include "support/run_program.h"
#include "util/text.h"

namespace qm::windows {
namespace {

constexpr std::string_view run_path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view menu_sub = "Microsoft\\Windows\\Start Menu\\Programs";

const json::JsonValue* find_by_id(const json::JsonValue& list, std::string_view id) {
    const json::JsonValue* items = json::get(list, "items");
    if (items == nullptr) return nullptr;
    for (const json::JsonValue& item : items->as_array()) {
        if (json::get_text(item, "id") == id) return &item;
    }
    return nullptr;
}

TEST(ProgramCommands, RunningAppsAndAddThroughTheRealProgram) {
    test::ScratchFolder data;
    test::ScratchFolder menu_base;
    const std::string tag = "Menu App " + test::random_hex(4);
    const std::string program = os::own_program_path();  // an existing program file for the shortcut
    const std::string menu = os::join_path(menu_base.path(), menu_sub);
    ASSERT_TRUE(os::create_folders(os::join_path(menu, "Tools")).has_value());
    ASSERT_TRUE(test::save_shortcut(os::join_path(menu, "Tools\\" + tag + ".lnk"), program, "--quiet"));
    ASSERT_TRUE(test::save_shortcut(os::join_path(menu, "Tools\\Uninstall " + tag + ".lnk"), program));
    const std::vector<std::pair<std::string, std::string>> environment = {{"LOCALAPPDATA", data.path()},
                                                                          {"ProgramData", data.path()},
                                                                          {"APPDATA", menu_base.path()}};

    // The test program is running, so it is listed; the listing program is not.
    test::ProgramRun running = test::run_program({"running", "--all", "--json"}, environment);
    ASSERT_EQ(running.exit_code, 0) << running.err;
    Result<json::JsonValue> processes = json::parse(running.out);
    ASSERT_TRUE(processes.has_value()) << running.out;
    const json::JsonValue* self = find_by_id(*processes, "proc|" + to_lower_ascii(program));
    ASSERT_NE(self, nullptr) << running.out;
    EXPECT_EQ(json::get_text(*self, "source"), "process");
    for (const json::JsonValue& item : json::get(*processes, "items")->as_array()) {
        EXPECT_EQ(json::get_text(item, "exe").find("quillmoor.exe"), std::string::npos);
    }

    test::ProgramRun apps = test::run_program({"apps", "--all", "--json"}, environment);
    ASSERT_EQ(apps.exit_code, 0) << apps.err;
    Result<json::JsonValue> installed = json::parse(apps.out);
    ASSERT_TRUE(installed.has_value()) << apps.out;
    const std::string app_id = "app|" + to_lower_ascii(program);
    const json::JsonValue* app = find_by_id(*installed, app_id);
    ASSERT_NE(app, nullptr) << apps.out;
    EXPECT_EQ(json::get_text(*app, "name"), tag);  // the uninstaller is not what is listed
    EXPECT_EQ(json::get_text(*app, "command"), "\"" + program + "\" --quiet");

    test::ProgramRun added = test::run_program({"add", app_id, "--yes"}, environment);
    ASSERT_EQ(added.exit_code, 0) << added.out << added.err;
    const std::string value_name = "Quillmoor-" + tag;
    struct RemoveAtEnd {
        std::wstring name;
        ~RemoveAtEnd() {
            HKEY key = nullptr;
            if (::RegOpenKeyExW(HKEY_CURRENT_USER, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0,
                                KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
                ::RegDeleteValueW(key, name.c_str());
                ::RegCloseKey(key);
            }
        }
    } remove_at_end{os::windows::to_wide(value_name)};
    const auto [type, bytes] = test::read_value(HKEY_CURRENT_USER, run_path, 0, os::windows::to_wide(value_name));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ)) << added.out;

    test::ProgramRun removed = test::run_program({"remove", value_name, "--yes"}, environment);
    EXPECT_EQ(removed.exit_code, 0) << removed.out << removed.err;
    EXPECT_EQ(test::read_value(HKEY_CURRENT_USER, run_path, 0, os::windows::to_wide(value_name)).first,
              static_cast<DWORD>(REG_NONE));
}

}  // namespace
}  // namespace qm::windows
