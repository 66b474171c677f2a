// Gentler ways than off under Wine: services made to start only when needed
// or a little later through the stand-in sc.exe, and this user's sign-in
// programs made to start minutes after sign-in through a task of the
// program's own, registered by the stand-in schtasks.exe into a scratch task
// folder as Windows keeps it; each taken back, the registry and the task
// folder checked after every step.
#include <cstring>
#include <map>
#include <optional>

#include <gtest/gtest.h>
#include <windows.h>
#include <winsvc.h>

#include "formats/task_definition.h"
#include "formats/xml_text.h"
#include "os/files.h"
#include "os/os_test_support.h"
#include "platforms/windows/approval_flag.h"
#include "platforms/windows/registry_test_support.h"
#include "platforms/windows/run_keys.h"
#include "platforms/windows/services.h"
#include "platforms/windows/sign_in_later.h"
#include "platforms/windows/system_test_support.h"
#include "platforms/windows/tasks.h"

namespace qm::windows {
namespace {

std::optional<DWORD> service_number(const std::string& service, const wchar_t* name) {
    auto [type, bytes] =
        test::read_value(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\" + service, 0, name);
    if (type != REG_DWORD || bytes.size() != 4) return std::nullopt;
    DWORD value = 0;
    std::memcpy(&value, bytes.data(), 4);
    return value;
}

const model::StartupItem* find(const model::ScanResult& scan, const std::string& id) {
    for (const model::StartupItem& item : scan.items) {
        if (item.id() == id) return &item;
    }
    return nullptr;
}

TEST(ServiceWays, ManualAndDelayedStartAreTakenAndTakenBackExactly) {
    test::TestServices services;
    test::ScratchFolder data;
    const std::string automatic =
        services.create("auto", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, test::child_tool_path());
    const std::string delayed =
        services.create("delayed", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, test::child_tool_path());
    test::RegistryWriter registry;
    registry.write(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\" + delayed, 0, L"DelayedAutostart",
                   REG_DWORD, std::string("\1\0\0\0", 4));
    const auto scan = [&] {
        ProgramFacts programs;
        model::ScanResult result;
        scan_services(true, programs, result, nullptr, data.path());
        return result;
    };
    const auto item_of = [&](const std::string& name) {
        const model::ScanResult result = scan();
        const model::StartupItem* item = find(result, "service|machine|Services|" + name);
        EXPECT_NE(item, nullptr) << name;  // also when it starts only when needed
        return item != nullptr ? *item
                               : model::StartupItem(model::ItemKind::service, "", model::Scope::machine, "", "");
    };

    EXPECT_TRUE(item_of(automatic).ways.when_needed);
    EXPECT_EQ(item_of(automatic).ways.later, model::LaterKind::service);
    EXPECT_TRUE(item_of(delayed).ways.when_needed);
    EXPECT_EQ(item_of(delayed).ways.later, model::LaterKind::none);  // delayed already

    using model::ChangeAction;
    struct Step {
        std::string service;
        ChangeAction way;
        DWORD start;
        DWORD delayed_value;     // no value reads as 0
        std::string message;     // after the service's name
        std::string state_text;  // as the next scan shows it
    };
    const std::vector<Step> steps = {
        {automatic, ChangeAction::when_needed, 3, 0, " will start only when needed.",
         "Starts only when needed (set by Quillmoor)"},
        {automatic, ChangeAction::on_time, 2, 0, " will start as it did before.", "Automatic"},
        {automatic, ChangeAction::later, 2, 1, " will start a little later, once the computer has started.",
         "Starts a little later (set by Quillmoor)"},
        {automatic, ChangeAction::on_time, 2, 0, " will start as it did before.", "Automatic"},
        {delayed, ChangeAction::when_needed, 3, 1, " will start only when needed.",
         "Starts only when needed (set by Quillmoor)"},
        {delayed, ChangeAction::on_time, 2, 1, " will start as it did before.", "Automatic (delayed)"},
    };
    for (const Step& step : steps) {
        const model::StartupItem item = item_of(step.service);
        SCOPED_TRACE(step.service + " " + std::string(model::word_text(step.way)));
        Result<model::WayOutcome> done = set_service_way(item, step.way, data.path());
        ASSERT_TRUE(done.has_value()) << done.error();
        EXPECT_EQ(done->outcome.message, item.name + step.message);
        EXPECT_EQ(service_number(step.service, L"Start"), step.start);
        EXPECT_EQ(service_number(step.service, L"DelayedAutostart").value_or(0), step.delayed_value);
        const model::StartupItem after = item_of(step.service);
        EXPECT_EQ(after.state_text, step.state_text);
        EXPECT_EQ(after.ways.taken.has_value(), step.way != ChangeAction::on_time);
    }
    EXPECT_EQ(os::read_file(os::join_path(data.path(), "saved.json")).value_or(""), "{}");

    // A service changed by hand since no longer counts as having taken the way.
    ASSERT_TRUE(set_service_way(item_of(automatic), ChangeAction::when_needed, data.path()).has_value());
    registry.write(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\" + automatic, 0, L"Start", REG_DWORD,
                   std::string("\4\0\0\0", 4));
    EXPECT_FALSE(item_of(automatic).ways.taken.has_value());
    EXPECT_EQ(item_of(automatic).state_text, "Disabled");
}

// What a folder holds, file by file with the bytes of each.
std::map<std::string, std::string> folder_state(const std::string& folder) {
    std::map<std::string, std::string> state;
    for (const os::FolderEntry& entry : os::list_folder(folder).value_or(std::vector<os::FolderEntry>{})) {
        const std::string path = os::join_path(folder, entry.name);
        if (entry.is_folder) {
            for (auto& [name, bytes] : folder_state(path)) state.emplace(entry.name + "\\" + name, std::move(bytes));
        } else {
            state.emplace(entry.name, os::read_file(path).value_or("(unreadable)"));
        }
    }
    return state;
}

class SignInLater : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(os::create_folders(tasks).has_value()); }

    model::ScanResult scan() const {
        ProgramFacts programs;
        model::ScanResult result;
        const std::vector<knowledge::RunKeyLocation> run_keys = {
            {"HKCU", std::string(run_path), "", "Run", "Registry (Run, this user)", model::Scope::user, ""}};
        scan_run_keys(run_keys, false, programs, result);
        scan_tasks({"System32\\Tasks"}, false, programs, result);
        return result;
    }

    static constexpr std::string_view run_path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    const std::string approved_run = std::string(startup_approved_path) + "\\Run";
    test::ScratchFolder windows;
    test::EnvironmentOverride system_root{"SystemRoot", windows.path()};
    const std::string tasks = windows / "System32\\Tasks";
    test::EnvironmentOverride standin_tasks{"QUILLMOOR_STANDIN_TASKS", tasks};
    test::EnvironmentOverride standin_register{"QUILLMOOR_STANDIN_REGISTER", "1"};
    test::RegistryWriter registry;
    const std::string tag = "QmLater" + test::random_hex(4);
};

TEST_F(SignInLater, ARunValueStartsMinutesAfterSignInThroughAnOwnTaskAndComesBackExactly) {
    const std::string program = "C:\\windows\\system32\\notepad.exe";
    const std::string arguments = "/a  \"two words\" x&y";
    struct Case {
        std::string suffix;
        std::optional<std::string> approval;  // the value before; none: no value
    };
    const std::vector<Case> cases = {
        {"none", std::nullopt},
        {"flag", std::string("\x02\0\0\0\0\0\0\0\0\0\0\0", 12)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.suffix);
        const std::string name = tag + " " + c.suffix;
        const std::wstring wide_name = os::windows::to_wide(name);
        registry.write_text(HKEY_CURRENT_USER, run_path, 0, wide_name,
                            os::windows::to_wide("\"" + program + "\" " + arguments));
        if (c.approval)
            registry.write(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, wide_name, REG_BINARY, *c.approval);
        const auto approval = [&] {
            return test::read_value(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, wide_name);
        };
        const auto before = std::make_pair(approval(), folder_state(tasks));
        const std::string id = "run|user|HKCU\\Run\\64|" + name;

        const model::ScanResult first = scan();
        ASSERT_NE(find(first, id), nullptr);
        const model::StartupItem item = *find(first, id);
        EXPECT_EQ(item.ways.later, model::LaterKind::after_sign_in);
        Result<model::WayOutcome> later = start_after_sign_in(item, 120);
        ASSERT_TRUE(later.has_value()) << later.error();
        EXPECT_EQ(later->outcome.message, name + " will start 2 minutes after you sign in.");
        const std::string task_name = "Quillmoor-later-" + tag + " " + c.suffix;
        EXPECT_EQ(later->own_entry, "task|machine|\\Quillmoor\\" + task_name + "|" + task_name);

        EXPECT_EQ(approval_flag_of(RawValue{approval().first, approval().second}), ApprovalFlag::off);
        const std::string document =
            formats::decode_document(os::read_file(os::join_path(tasks, "Quillmoor\\" + task_name)).value_or(""));
        const std::optional<std::string_view> trigger = formats::first_element(document, "LogonTrigger");
        ASSERT_TRUE(trigger.has_value()) << document;
        EXPECT_EQ(formats::element_text(*trigger, "Delay"), "PT2M");
        EXPECT_EQ(formats::element_text(*trigger, "UserId"), current_user_sid().value_or("?"));
        const formats::TaskDefinition definition = formats::read_task_definition(document);
        EXPECT_EQ(definition.command, program);
        EXPECT_EQ(definition.arguments, arguments);
        EXPECT_EQ(definition.run_level, "LeastPrivilege");

        const model::ScanResult delayed = scan();
        const model::StartupItem* task = find(delayed, later->own_entry);
        ASSERT_NE(task, nullptr);
        EXPECT_TRUE(task->managed);
        EXPECT_EQ(task->origin, model::Origin::own_entry);
        EXPECT_EQ(task->ways.delays, id);
        EXPECT_EQ(task->ways.taken_seconds, 120u);
        EXPECT_EQ(task->state_text, "Starts " + name + " 2 minutes after sign-in");
        EXPECT_FALSE(find(delayed, id)->enabled);

        Result<model::WayOutcome> back = start_on_time(*find(delayed, id), task);
        ASSERT_TRUE(back.has_value()) << back.error();
        EXPECT_EQ(back->outcome.message, name + " will start as it did before.");
        EXPECT_EQ(std::make_pair(approval(), folder_state(tasks)), before);
    }
}

TEST_F(SignInLater, NothingIsLeftHalfDoneWhenATaskCannotBeMadeOrDeleted) {
    const std::string name = tag + " fails";
    const std::wstring wide_name = os::windows::to_wide(name);
    registry.write_text(HKEY_CURRENT_USER, run_path, 0, wide_name, L"C:\\windows\\system32\\notepad.exe");
    const auto approval = [&] { return test::read_value(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, wide_name); };
    const std::string id = "run|user|HKCU\\Run\\64|" + name;
    const model::StartupItem item = *find(scan(), id);
    const auto before = approval();
    {
        test::EnvironmentOverride fails{"QUILLMOOR_STANDIN_EXIT", "1"};
        test::EnvironmentOverride says{"QUILLMOOR_STANDIN_OUTPUT", "ERROR: Access is denied."};
        EXPECT_FALSE(start_after_sign_in(item, 60).has_value());
    }
    EXPECT_EQ(approval(), before);
    EXPECT_TRUE(folder_state(tasks).empty());

    ASSERT_TRUE(start_after_sign_in(item, 60).has_value());
    const model::ScanResult delayed = scan();
    const auto off = approval();
    const model::StartupItem* task = nullptr;
    for (const model::StartupItem& i : delayed.items) {
        if (i.ways.delays == id) task = &i;
    }
    ASSERT_NE(task, nullptr);
    {
        test::EnvironmentOverride fails{"QUILLMOOR_STANDIN_EXIT", "1"};
        EXPECT_FALSE(start_on_time(*find(delayed, id), task).has_value());
    }
    EXPECT_EQ(approval(), off);  // still off while the task still starts it
    // Only the task that names the item takes it back.
    model::StartupItem other = *task;
    other.set_spec("delays", id + "x");
    EXPECT_FALSE(start_on_time(*find(delayed, id), &other).has_value());
    ASSERT_TRUE(start_on_time(*find(delayed, id), task).has_value());
    EXPECT_EQ(approval(), before);
}

}  // namespace
}  // namespace qm::windows

namespace qm::windows {
namespace {

TEST(StartWaysThroughTheProgram, DelayAndUndoThenManualAndEnableLeaveTheComputerAsItWas) {
    test::RegistryWriter registry;
    test::TestServices services;
    const std::string service =
        services.create("manual", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, test::child_tool_path());
    const std::string name = "QmDelay" + test::random_hex(4);
    const std::wstring wide_name = os::windows::to_wide(name);
    const std::string approved_run = std::string(startup_approved_path) + "\\Run";
    registry.write_text(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0, wide_name,
                        L"\"C:\\windows\\system32\\notepad.exe\" /p");
    struct ApprovalGoesAtEnd {
        std::string path;
        std::wstring name;
        ~ApprovalGoesAtEnd() {
            if (RegistryResult<RegistryKey> key = open_key(HKEY_CURRENT_USER, path, KEY_SET_VALUE | KEY_WOW64_64KEY))
                (void)delete_value(key->get(), os::windows::to_utf8(name));
        }
    } approval_goes{approved_run, wide_name};
    test::ProgramBesideStandIns program;
    // Windows keeps a registered task as the definition it was given; the
    // stand-in schtasks.exe does the same where Wine's does not.
    program.environment.emplace_back("QUILLMOOR_STANDIN_REGISTER", "1");
    const auto run = [&](const std::vector<std::string>& arguments) {
        const test::ProgramRun result = program.run(arguments);
        EXPECT_EQ(result.exit_code, 0) << arguments[0] << "\n" << result.out << result.err;
        return result;
    };
    const auto state = [&] {
        return std::make_pair(test::read_value(HKEY_CURRENT_USER, approved_run, KEY_WOW64_64KEY, wide_name),
                              folder_state(test::system_tasks_folder()));
    };
    const auto before = state();

    run({"delay", name, "--minutes", "2", "--yes"});
    EXPECT_EQ(approval_flag_of(RawValue{state().first.first, state().first.second}), ApprovalFlag::off);
    const std::string task_file = os::join_path(test::system_tasks_folder(), "Quillmoor\\Quillmoor-later-" + name);
    const formats::TaskDefinition task =
        formats::read_task_definition(formats::decode_document(os::read_file(task_file).value_or("")));
    EXPECT_EQ(task.logon_delay, "PT2M");
    EXPECT_EQ(task.command, "C:\\windows\\system32\\notepad.exe");
    EXPECT_EQ(task.arguments, "/p");
    const std::string history = run({"history"}).out;
    const std::string seq = test::newest_seq(history, "later", name);
    ASSERT_FALSE(seq.empty()) << history;
    run({"undo", seq, "--yes"});
    EXPECT_EQ(state(), before);

    run({"disable", service, "--manual", "--yes"});
    EXPECT_EQ(service_number(service, L"Start"), 3u);
    run({"enable", service, "--yes"});
    EXPECT_EQ(service_number(service, L"Start"), 2u);
}

}  // namespace
}  // namespace qm::windows
