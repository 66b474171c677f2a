// Who brought an entry back, through the real program in the Wine prefix: a
// Run value switched off through the program and written again by another
// process is marked as come back, with the vendor's updater task named as
// the likely cause when the Task Scheduler's record says it ran just before,
// and no cause without that record; the item and its cause switched off
// together and each change undone.
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "formats/task_definition.h"
#include "formats/xml_text.h"
#include "json/json.h"
#include "os/files.h"
#include "os/os_test_support.h"
#include "platforms/windows/registry_test_support.h"
#include "platforms/windows/system_test_support.h"

namespace qm::windows {
namespace {

constexpr std::string_view run_path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view approved_run =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved\\Run";
constexpr std::string_view task_cache = "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Schedule\\TaskCache";

// A task that starts at sign-in and runs the vendor's updater, as Windows
// keeps its definition: UTF-16LE with its byte-order mark.
std::string updater_task_document() {
    const std::wstring xml =
        L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<Task version=\"1.2\" "
        L"xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\"><Triggers><LogonTrigger><Enabled>true"
        L"</Enabled></LogonTrigger></Triggers><Settings><Enabled>true</Enabled></Settings><Actions><Exec>"
        L"<Command>\"C:\\Program Files\\Vendorly\\Update\\update.exe\"</Command></Exec></Actions></Task>\n";
    return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(xml.data()), xml.size() * sizeof(wchar_t));
}

// The Task Scheduler's DynamicInfo for a task that last ran `seconds_ago`.
std::string dynamic_info(std::int64_t seconds_ago) {
    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    const std::uint64_t ran = static_cast<std::uint64_t>(now - seconds_ago) * 10000000ULL + 116444736000000000ULL;
    std::string bytes(36, '\0');
    bytes[0] = '\x03';
    for (int i = 0; i < 8; ++i) {
        bytes[4 + static_cast<std::size_t>(i)] = static_cast<char>(((ran - 864000000000ULL) >> (8 * i)) & 0xFF);
        bytes[12 + static_cast<std::size_t>(i)] = static_cast<char>((ran >> (8 * i)) & 0xFF);
    }
    return bytes;
}

const json::JsonValue* listed_item(const json::JsonValue& list, const std::string& name) {
    if (!list.is_array()) return nullptr;
    for (const json::JsonValue& item : list.as_array()) {
        if (json::get_text(item, "name") == name) return &item;
    }
    return nullptr;
}

class CauseThroughTheProgram : public ::testing::Test {
protected:
    void SetUp() override {
        registry.write_text(HKEY_CURRENT_USER, run_path, 0, wide_name, wide_command);
        ASSERT_TRUE(os::create_folders(os::join_path(test::system_tasks_folder(), "Vendorly")).has_value());
        ASSERT_TRUE(os::write_file_replace(task_file, updater_task_document()).has_value());
        // The scheduler's record of the task, as Windows keeps it; the keys
        // are removed (innermost first) when the test ends.
        for (const std::string key : {"", "\\Tree", "\\Tasks", "\\Tree\\Vendorly", "\\Tree\\Vendorly\\VendorlyUpdate"})
            registry.own_key(HKEY_LOCAL_MACHINE, std::string(task_cache) + key, KEY_WOW64_64KEY);
        registry.write_text(HKEY_LOCAL_MACHINE, std::string(task_cache) + "\\Tree\\Vendorly\\VendorlyUpdate",
                            KEY_WOW64_64KEY, L"Id", os::windows::to_wide(task_id));
        registry.own_key(HKEY_LOCAL_MACHINE, task_key, KEY_WOW64_64KEY);
    }
    void TearDown() override { (void)os::remove_tree(os::join_path(test::system_tasks_folder(), "Vendorly")); }

    json::JsonValue list() {
        const test::ProgramRun listed = program.run({"list", "--filter", name, "--json"});
        EXPECT_EQ(listed.exit_code, 0) << listed.err;
        return json::parse(listed.out).value_or(json::JsonValue());
    }

    char approval_byte() const {
        const std::string bytes = test::read_value(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, wide_name).second;
        return bytes.empty() ? '\0' : bytes[0];
    }

    bool task_enabled() const {
        return formats::read_task_definition(formats::decode_document(os::read_file(task_file).value_or(""))).enabled;
    }

    // What another program does: writes the value again with its flag reset.
    // Its command differs, as an update's may: Wine moves a key's time only
    // for a value whose data changes.
    void rewrite_entry() {
        const std::string reg = os::join_path(os::get_env("SystemRoot").value_or("C:\\windows"), "System32\\reg.exe");
        for (const std::vector<std::string>& arguments :
             {std::vector<std::string>{"add", "HKCU\\" + std::string(approved_run), "/v", name, "/t", "REG_BINARY",
                                       "/d", "020000000000000000000000", "/f"},
              std::vector<std::string>{"add", "HKCU\\" + std::string(run_path), "/v", name, "/t", "REG_SZ", "/d",
                                       command + " --updated", "/f"}}) {
            const test::ProgramRun added = test::run_program_at(reg, arguments);
            ASSERT_EQ(added.exit_code, 0) << added.out << added.err;
        }
    }

    const std::string name = "QmCause" + test::random_hex(4);
    const std::wstring wide_name = os::windows::to_wide(name);
    const std::string command = "\"C:\\Program Files\\Vendorly\\App\\app.exe\" --tray";
    const std::wstring wide_command = os::windows::to_wide(command);
    const std::string task_file = os::join_path(test::system_tasks_folder(), "Vendorly\\VendorlyUpdate");
    const std::string task_id = "{" + test::random_hex(4) + "0000-1111-2222-3333-444455556666}";
    const std::string task_key = std::string(task_cache) + "\\Tasks\\" + task_id;
    test::RegistryWriter registry;
    test::ProgramBesideStandIns program;
};

TEST_F(CauseThroughTheProgram, TheUpdaterThatRanJustBeforeIsTheLikelyCauseAndIsSwitchedOffWithIt) {
    const test::ProgramRun disabled = program.run({"disable", name, "--yes"});
    ASSERT_EQ(disabled.exit_code, 0) << disabled.out << disabled.err;
    registry.write(HKEY_LOCAL_MACHINE, task_key, KEY_WOW64_64KEY, L"DynamicInfo", REG_BINARY, dynamic_info(120));
    rewrite_entry();

    const json::JsonValue listed = list();
    const json::JsonValue* item = listed_item(listed, name);
    ASSERT_NE(item, nullptr) << json::write(listed);
    EXPECT_EQ(json::get_text(*item, "change"), "came back");
    const json::JsonValue* cause = json::get(*item, "cause");
    ASSERT_NE(cause, nullptr) << json::write(*item);
    EXPECT_EQ(json::get_text(*cause, "kind"), "task");
    EXPECT_EQ(json::get_text(*cause, "name"), "VendorlyUpdate");
    EXPECT_EQ(json::get_text(*cause, "item"), "task|machine|\\Vendorly\\VendorlyUpdate|VendorlyUpdate");
    EXPECT_EQ(json::get_text(*cause, "sure"), "likely");
    const std::string why = json::get_text(*cause, "why");
    EXPECT_TRUE(why.starts_with("VendorlyUpdate ran 2 minutes before the Run value was written")) << why;
    EXPECT_NE(why.find("same program folder as " + name), std::string::npos) << why;

    // Without the scheduler's record nothing ties a time to the task.
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_LOCAL_MACHINE, os::windows::to_wide(task_key).c_str(), 0,
                              KEY_SET_VALUE | KEY_WOW64_64KEY, &key),
              ERROR_SUCCESS);
    EXPECT_EQ(::RegDeleteValueW(key, L"DynamicInfo"), ERROR_SUCCESS);
    ::RegCloseKey(key);
    const json::JsonValue again = list();
    const json::JsonValue* unexplained = listed_item(again, name);
    ASSERT_NE(unexplained, nullptr) << json::write(again);
    EXPECT_EQ(json::get_text(*unexplained, "change"), "came back");
    EXPECT_EQ(json::get(*unexplained, "cause"), nullptr) << json::write(*unexplained);

    // With the record back, the item and its cause are switched off in one
    // plan, and each change is undone on its own.
    registry.write(HKEY_LOCAL_MACHINE, task_key, KEY_WOW64_64KEY, L"DynamicInfo", REG_BINARY, dynamic_info(120));
    const test::ProgramRun both = program.run({"disable", name, "--and-cause", "--yes"});
    ASSERT_EQ(both.exit_code, 0) << both.out << both.err;
    EXPECT_EQ(approval_byte(), '\x03');
    EXPECT_FALSE(task_enabled());
    const std::string history = program.run({"history"}).out;
    for (const std::string& switched : {name, std::string("VendorlyUpdate")}) {
        const std::string seq = test::newest_seq(history, "disable", switched);
        ASSERT_FALSE(seq.empty()) << history;
        const test::ProgramRun undone = program.run({"undo", seq, "--yes"});
        EXPECT_EQ(undone.exit_code, 0) << undone.out << undone.err;
    }
    // On again: the flag the program once made where there was none goes
    // (approval_flag.h), which Windows reads as on.
    EXPECT_NE(approval_byte(), '\x03');
    const json::JsonValue after = list();
    ASSERT_NE(listed_item(after, name), nullptr) << json::write(after);
    EXPECT_EQ(json::get_text(*listed_item(after, name), "state_text"), "Enabled");
    EXPECT_TRUE(task_enabled());
}

}  // namespace
}  // namespace qm::windows
