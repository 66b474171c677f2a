// Scheduled tasks on Wine's real file system: SystemRoot points at a scratch
// folder whose System32\Tasks holds the test's own definition files, and the
// stand-in schtasks.exe beside the test program answers /Query and /Change
// (Wine's own prints nothing for the first and fails the second) and hands
// /Create and /Delete to the real tool.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <initializer_list>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "os/os_test_support.h"
#include "platforms/windows/folder_entries.h"
#include "platforms/windows/record_file.h"
#include "platforms/windows/task_record.h"
#include "platforms/windows/tasks.h"
#include "os/windows/wide.h"
#include "formats/task_definition.h"
#include "util/text.h"
#include "formats/xml_text.h"

namespace qm::windows {
namespace {

constexpr std::string_view tasks_root = "System32\\Tasks";

// Keeps a file or folder open without sharing it, so nobody else can open
// it while this object lives (Wine enforces sharing, not file DACLs).
class ExclusiveOpen {
public:
    explicit ExclusiveOpen(const std::string& path)
        : handle_(::CreateFileW(os::windows::to_wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr)) {
        EXPECT_NE(handle_, INVALID_HANDLE_VALUE) << path;
    }
    ~ExclusiveOpen() {
        if (handle_ != INVALID_HANDLE_VALUE) ::CloseHandle(handle_);
    }
    ExclusiveOpen(const ExclusiveOpen&) = delete;
    ExclusiveOpen& operator=(const ExclusiveOpen&) = delete;

private:
    HANDLE handle_;
};

struct TaskXml {
    std::string triggers = "<LogonTrigger><Enabled>true</Enabled></LogonTrigger>";
    std::string enabled = "true";
    std::string command = "C:\\Apps\\app.exe";
    std::string arguments;
    std::string user_id;
    std::string run_level = "LeastPrivilege";
    std::string description;
    std::string uri;  // only schtasks.exe /Query /XML writes it
};

// A TaskXml with some fields set: task_xml({{&TaskXml::command, "a.exe"}}).
TaskXml task_xml(std::initializer_list<std::pair<std::string TaskXml::*, std::string>> fields) {
    TaskXml task;
    for (const auto& [field, value] : fields) task.*field = value;
    return task;
}

// A Task element as Windows writes it, and the whole document around it.
std::string task_element(const TaskXml& task) {
    return "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
           "  <RegistrationInfo><Author>PC\\someone</Author><Description>" +
           task.description + "</Description>" + (task.uri.empty() ? "" : "<URI>" + task.uri + "</URI>") +
           "</RegistrationInfo>\r\n  <Triggers>" + task.triggers +
           "</Triggers>\r\n  <Principals><Principal id=\"Author\">" +
           (task.user_id.empty() ? "" : "<UserId>" + task.user_id + "</UserId>") + "<RunLevel>" + task.run_level +
           "</RunLevel></Principal></Principals>\r\n  <Settings><Enabled>" + task.enabled +
           "</Enabled></Settings>\r\n  <Actions Context=\"Author\"><Exec><Command>" + task.command + "</Command>" +
           (task.arguments.empty() ? "" : "<Arguments>" + task.arguments + "</Arguments>") +
           "</Exec></Actions>\r\n</Task>\r\n";
}

std::string document(const TaskXml& task) {
    return "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n" + task_element(task);
}

std::string utf16le(std::string_view text, bool mark) {
    std::string bytes = mark ? "\xFF\xFE" : "";
    for (wchar_t unit : os::windows::to_wide(text)) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    return bytes;
}

const model::StartupItem* by_name(const std::vector<model::StartupItem>& items, std::string_view name) {
    auto it = std::find_if(items.begin(), items.end(), [&](const model::StartupItem& i) { return i.name == name; });
    return it == items.end() ? nullptr : &*it;
}

std::vector<std::string> names(const model::ScanResult& scan) {
    std::vector<std::string> found;
    for (const model::StartupItem& item : scan.items) found.push_back(item.name);
    return found;
}

std::string failure_of(const Result<model::ChangeOutcome>& result) {
    if (result) return "(succeeded: " + result->message + ")";
    return (result.error().is(ErrorKind::needs_admin) ? "[needs administrator rights] " : "") + result.error().message;
}

std::vector<std::string> lines_of(const std::string& path) {
    std::vector<std::string> lines;
    const std::string text = os::read_file(path).value_or("");
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

class TaskScan : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(os::create_folders(tasks).has_value()); }

    void write(std::string_view task_path, const std::string& bytes) const {
        const std::string path = os::join_path(tasks, task_path.substr(1));
        const std::size_t folder = path.find_last_of('\\');
        ASSERT_TRUE(os::create_folders(path.substr(0, folder)).has_value());
        ASSERT_TRUE(os::write_file_replace(path, bytes).has_value()) << path;
    }
    void write(std::string_view task_path, const TaskXml& task) const {
        write(task_path, utf16le(document(task), true));
    }

    model::ScanResult scan(bool admin, const std::vector<std::string>& roots = {std::string(tasks_root)}) const {
        ProgramFacts programs;  // made after SystemRoot points at the scratch folder
        model::ScanResult result;
        scan_tasks(roots, admin, programs, result);
        return result;
    }

    test::ScratchFolder windows;
    test::EnvironmentOverride system_root{"SystemRoot", windows.path()};
    test::ScratchFolder records;
    std::string log = records / "schtasks.log";
    test::EnvironmentOverride standin_log{"QUILLMOOR_STANDIN_LOG", log};
    test::EnvironmentOverride standin_exit{"QUILLMOOR_STANDIN_EXIT", std::nullopt};
    test::EnvironmentOverride standin_query{"QUILLMOOR_STANDIN_QUERY", std::nullopt};
    std::string tasks = windows / tasks_root;
    test::EnvironmentOverride standin_tasks{"QUILLMOOR_STANDIN_TASKS", tasks};
};

TEST_F(TaskScan, SignInAndBootTasksBecomeItemsInTheOrderOfTheirNames) {
    write("\\Acme\\Acme Backup Nightly",
          task_xml({{&TaskXml::triggers,
                     "<CalendarTrigger><StartBoundary>2024-01-01T02:00:00</StartBoundary></CalendarTrigger>"}}));
    write("\\Acme\\Tray",
          task_xml({{&TaskXml::triggers, "<BootTrigger/><LogonTrigger><UserId>PC\\someone</UserId></LogonTrigger>"},
                    {&TaskXml::command, "%SystemRoot%\\Acme\\tray.exe"},
                    {&TaskXml::arguments, "--quiet &quot;two words&quot; &amp;&amp; more"},
                    {&TaskXml::description, "Keeps &quot;Tray&quot; &amp; friends &lt;running&gt;"}}));
    write("\\Acme\\Off", task_xml({{&TaskXml::triggers, "<BootTrigger><Enabled>true</Enabled></BootTrigger>"},
                                   {&TaskXml::enabled, "false"},
                                   {&TaskXml::description, "@%SystemRoot%\\system32\\acme.dll,-101"}}));
    write("\\Microsoft\\Windows\\Shell\\Sign-in helper", TaskXml{});
    write("\\Quillmoor\\Boot notes", task_xml({{&TaskXml::triggers, "<BootTrigger/>"}}));
    write("\\Zeta", task_xml({{&TaskXml::triggers, "<TimeTrigger/><LogonTrigger/>"}}));

    const model::ScanResult result = scan(true);
    EXPECT_EQ(names(result), (std::vector<std::string>{"Off", "Tray", "Sign-in helper", "Boot notes", "Zeta"}));
    EXPECT_TRUE(result.notes.empty());

    const model::StartupItem* tray = by_name(result.items, "Tray");
    ASSERT_NE(tray, nullptr);
    EXPECT_EQ(tray->id(), "task|machine|\\Acme\\Tray|Tray");
    EXPECT_EQ(tray->kind_label, "Scheduled task");
    EXPECT_EQ(tray->command, windows.path() + "\\Acme\\tray.exe --quiet \"two words\" && more");
    EXPECT_EQ(tray->exe, windows.path() + "\\Acme\\tray.exe");
    EXPECT_EQ(tray->description, "Keeps \"Tray\" & friends <running>");
    EXPECT_EQ(tray->origin, model::Origin::installed_program);
    EXPECT_TRUE(tray->enabled);
    EXPECT_EQ(tray->state_text, "Enabled (runs at boot and sign-in)");
    EXPECT_EQ(tray->spec(),
              (std::vector<model::SpecPair>{
                  {"short", "Tray"}, {"uri", "\\Acme\\Tray"}, {"runs_at", "boot and sign-in"}, {"principal", ""}}));
    EXPECT_FALSE(tray->managed);

    const model::StartupItem* off = by_name(result.items, "Off");
    ASSERT_NE(off, nullptr);
    EXPECT_FALSE(off->enabled);
    EXPECT_EQ(off->state_text, "Disabled");
    EXPECT_EQ(off->spec_value("runs_at"), "boot");
    EXPECT_EQ(off->description, "");               // a reference to a text in a program file is not shown
    EXPECT_EQ(off->command, "C:\\Apps\\app.exe");  // no trailing space without arguments

    EXPECT_EQ(by_name(result.items, "Sign-in helper")->origin, model::Origin::operating_system);
    EXPECT_EQ(by_name(result.items, "Sign-in helper")->state_text, "Enabled (runs at sign-in)");
    const model::StartupItem* own = by_name(result.items, "Boot notes");
    EXPECT_EQ(own->origin, model::Origin::own_entry);
    EXPECT_TRUE(own->managed);
}

// A root named in another case than the disk's is read the same.
TEST_F(TaskScan, ARootSpelledOtherwiseGivesTheSameTasks) {
    write("\\Acme\\Tray", TaskXml{});
    const model::ScanResult as_on_disk = scan(false);
    const model::ScanResult other_case = scan(false, {"SYSTEM32\\tasks"});
    ASSERT_EQ(other_case.items.size(), 1u);
    EXPECT_EQ(other_case.items[0].id(), as_on_disk.items.at(0).id());
    EXPECT_EQ(other_case.items[0].spec_value("uri"), "\\Acme\\Tray");
    EXPECT_TRUE(lines_of(log).empty());
}

// A definition file unchanged since a scan kept it in the data folder's
// record is not opened again for a day, and one that holds no task is
// counted as before; a file written since, or just before that scan, is read
// again; a damaged record reads as empty and is rebuilt.
TEST_F(TaskScan, AFileUnchangedSinceTheRecordWasKeptIsNotOpened) {
    write("\\Acme\\Tray", TaskXml{});
    write("\\Acme\\Notes", "not a definition");
    test::ScratchFolder data;
    const auto scan_at = [&](std::uint64_t now) {
        TaskRecord record(data.path(), now);
        ProgramFacts programs;
        model::ScanResult result;
        scan_tasks({std::string(tasks_root)}, false, programs, result, &record);
        record.save();
        return result;
    };
    const auto command = [](const model::ScanResult& result) {
        return result.items.size() == 1 ? result.items[0].command : std::string("(not one item)");
    };
    const std::string file = to_lower_ascii(os::join_path(tasks, "Acme\\Tray"));
    const auto stamp = [&] {
        const EntryInfo info = entry_info(file);
        return FileStamp{info.size, info.written};
    };
    const std::uint64_t later = file_time_now() + 10 * settle_time;

    EXPECT_EQ(command(scan_at(file_time_now())), "C:\\Apps\\app.exe");
    EXPECT_EQ(TaskRecord(data.path(), later).find(file, stamp()), nullptr) << "written just before the scan";
    scan_at(later);
    {
        TaskRecord planted(data.path(), later);
        const TaskRecord::Kept* kept = planted.find(file, stamp());
        ASSERT_NE(kept, nullptr);
        ASSERT_TRUE(kept->has_value());
        formats::TaskDefinition changed = **kept;
        changed.command = "C:\\Planted.exe";
        planted.store(file, stamp(), changed);
        const std::string notes = to_lower_ascii(os::join_path(tasks, "Acme\\Notes"));
        const EntryInfo info = entry_info(notes);
        EXPECT_NE(planted.find(notes, FileStamp{info.size, info.written}), nullptr);
        planted.save();
    }
    const model::ScanResult kept = scan_at(later);
    EXPECT_EQ(command(kept), "C:\\Planted.exe") << "the unchanged file is not opened";
    EXPECT_EQ(command(scan_at(later + trust_time)), "C:\\Apps\\app.exe") << "read a day before";
    EXPECT_EQ(kept.notes, std::vector<std::string>{
                              "1 file(s) in the task folder are empty or not task definitions and were skipped."});

    write("\\Acme\\Tray", task_xml({{&TaskXml::command, "C:\\Apps\\changed.exe"}}));
    EXPECT_EQ(command(scan_at(later)), "C:\\Apps\\changed.exe");
    ASSERT_TRUE(os::write_file_replace(os::join_path(data.path(), TaskRecord::file_name), "{\"format\":1,\"files\":[[")
                    .has_value());
    EXPECT_EQ(command(scan_at(later)), "C:\\Apps\\changed.exe") << "damaged record";
    EXPECT_NE(TaskRecord(data.path(), later).find(file, stamp()), nullptr) << "rebuilt";
}

TEST_F(TaskScan, FilesInEveryEncodingOfRealTaskFoldersAreRead) {
    const std::string utf8_text = document(task_xml({{&TaskXml::command, "C:\\Apps\\caf\xC3\xA9.exe"}}));
    write("\\Utf8 declaring UTF-16", utf8_text);
    write("\\Utf8 with mark", "\xEF\xBB\xBF" + utf8_text);
    write("\\Utf16 without mark", utf16le(utf8_text, false));
    write("\\Utf16 with mark", utf16le(utf8_text, true));
    {
        const std::string real =
            os::read_file(QM_TEST_DATA_DIR "/conformance/task-xml/T1053_05_SCTASK_HIDDEN_ATTRIB.xml").value_or("");
        ASSERT_FALSE(real.empty());
        write("\\atomic red team", real);
    }
    // Over a mebibyte is still read whole; over 16 MiB, empty or not a task
    // definition is counted in a note, never silently left out.
    write("\\Large", std::string(1100000, ' ') + utf8_text);
    write("\\Too large", std::string(16u << 20, ' ') + utf8_text);
    write("\\Empty", "");
    write("\\Garbage", "\x9c\x01<Tas\xff garbage");

    const model::ScanResult result = scan(false);
    EXPECT_EQ(names(result), (std::vector<std::string>{"Large", "Utf16 with mark", "Utf16 without mark",
                                                       "Utf8 declaring UTF-16", "Utf8 with mark", "atomic red team"}));
    for (const model::StartupItem& item : result.items) {
        if (item.name != "atomic red team") {
            EXPECT_EQ(item.command, "C:\\Apps\\caf\xC3\xA9.exe") << item.name;
        }
    }
    EXPECT_EQ(by_name(result.items, "atomic red team")->command, "C:\\Windows\\system32\\calc.exe\"");
    EXPECT_EQ(by_name(result.items, "atomic red team")->description,
              "atomic red team schedule task with hidden attribute");
    EXPECT_EQ(result.notes,
              (std::vector<std::string>{
                  "1 scheduled task file(s) are larger than 16 MiB, which no task definition is, and were not read.",
                  "2 file(s) in the task folder are empty or not task definitions and were skipped."}));
}

TEST_F(TaskScan, SixLevelsOfSubFoldersAreReadAndTheSeventhIsNot) {
    write("\\1\\2\\3\\4\\5\\6\\Sixth", TaskXml{});
    write("\\1\\2\\3\\4\\5\\6\\7\\Seventh", TaskXml{});
    const model::ScanResult result = scan(false);
    EXPECT_EQ(names(result), std::vector<std::string>{"Sixth"});
    EXPECT_EQ(result.items[0].spec_value("uri"), "\\1\\2\\3\\4\\5\\6\\Sixth");
    EXPECT_EQ(result.notes,
              std::vector<std::string>{"1 task folder(s) lie more than 6 levels deep and were not read."});
}

// Without administrator rights, a task needs them when it runs with full
// rights or as another account than this user.
TEST_F(TaskScan, TasksOfOtherAccountsOrWithFullRightsNeedAdministrator) {
    test::EnvironmentOverride user{"USERNAME", "someone"};
    const Result<std::string> sid = current_user_sid();
    ASSERT_TRUE(sid.has_value()) << sid.error();
    EXPECT_TRUE(sid->starts_with("S-1-5-")) << *sid;
    struct Case {
        std::string name;
        std::string user_id;
        std::string run_level;
        model::Toggle toggle;
    };
    const std::vector<Case> cases = {
        {"system", "S-1-5-18", "LeastPrivilege", model::Toggle::admin},
        {"qualified", "PC\\someone", "LeastPrivilege", model::Toggle::ok},
        {"qualified full rights", "PC\\someone", "HighestAvailable", model::Toggle::admin},
        {"plain name other case", "SOMEONE", "LeastPrivilege", model::Toggle::ok},
        {"other user", "PC\\someone2", "LeastPrivilege", model::Toggle::admin},
        {"name inside another", "PC\\nosomeone", "LeastPrivilege", model::Toggle::admin},
        {"own sid", to_lower_ascii(*sid), "LeastPrivilege", model::Toggle::ok},
        {"no account", "", "LeastPrivilege", model::Toggle::ok},
        {"no account full rights", "", "HighestAvailable", model::Toggle::admin},
    };
    for (const Case& c : cases) {
        write("\\Who\\" + c.name, task_xml({{&TaskXml::user_id, c.user_id}, {&TaskXml::run_level, c.run_level}}));
    }

    const model::ScanResult ordinary = scan(false);
    const model::ScanResult administrator = scan(true);
    for (const Case& c : cases) {
        const model::StartupItem* item = by_name(ordinary.items, c.name);
        ASSERT_NE(item, nullptr) << c.name;
        EXPECT_EQ(item->toggle, c.toggle) << c.name;
        EXPECT_EQ(item->spec_value("principal"), c.user_id) << c.name;
        EXPECT_EQ(by_name(administrator.items, c.name)->toggle, model::Toggle::ok) << c.name;
    }
}

TEST_F(TaskScan, AnUnreadableTaskFolderFallsBackToSchtasksAndSaysHowManyWereMissed) {
    const std::string answer = records / "query.xml";
    test::EnvironmentOverride query{"QUILLMOOR_STANDIN_QUERY", answer};
    const std::string listed =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<Tasks>\r\n"
        "  <!-- \\Vendor\\Updater -->\r\n" +
        task_element(task_xml({{&TaskXml::command, "C:\\Vendor\\updater.exe"}, {&TaskXml::uri, "\\Vendor\\Updater"}})) +
        task_element(task_xml({{&TaskXml::command, "C:\\NoPath\\x.exe"}})) +
        task_element(task_xml({{&TaskXml::triggers, "<BootTrigger/>"}, {&TaskXml::uri, "Unrooted"}})) + "</Tasks>\r\n";
    ASSERT_TRUE(os::write_file_replace(answer, utf16le(listed, true)).has_value());
    {
        ExclusiveOpen closed(tasks);
        const model::ScanResult result = scan(false);
        EXPECT_EQ(names(result), (std::vector<std::string>{"Updater", "Unrooted"}));
        EXPECT_EQ(result.items[0].command, "C:\\Vendor\\updater.exe");
        EXPECT_EQ(result.items[0].spec_value("uri"), "\\Vendor\\Updater");
        EXPECT_EQ(result.items[1].spec_value("uri"), "\\Unrooted");
        EXPECT_EQ(result.notes, std::vector<std::string>{
                                    "1 scheduled task(s) could not be read without administrator rights; restart "
                                    "as administrator to see them all."});
        EXPECT_TRUE(scan(true).notes.empty());
    }
    EXPECT_EQ(lines_of(log), (std::vector<std::string>{"/Query /XML", "/Query /XML"}));

    // One unreadable file among readable ones: counted, and no fallback.
    write("\\Readable", TaskXml{});
    write("\\Locked", TaskXml{});
    ASSERT_TRUE(os::remove_file(log).has_value());
    {
        ExclusiveOpen locked(os::join_path(tasks, "Locked"));
        const model::ScanResult result = scan(false);
        EXPECT_EQ(names(result), std::vector<std::string>{"Readable"});
        EXPECT_EQ(result.notes.size(), 1u);
        EXPECT_TRUE(result.notes[0].starts_with("1 scheduled task(s)"));
    }
    EXPECT_TRUE(lines_of(log).empty());
}

// A task folder that was read and holds no definition has no tasks:
// schtasks.exe is not started for it. Only when no root is there at all is
// it asked, and a failing one adds nothing.
TEST_F(TaskScan, MissingRootsAndAFailingSchtasksAddNothing) {
    test::EnvironmentOverride fails{"QUILLMOOR_STANDIN_EXIT", "1"};
    test::EnvironmentOverride says{"QUILLMOOR_STANDIN_OUTPUT", document(TaskXml{})};
    const model::ScanResult read_empty = scan(false, {"System32\\NoSuchTasks", std::string(tasks_root)});
    EXPECT_TRUE(read_empty.items.empty());
    EXPECT_TRUE(read_empty.notes.empty());
    EXPECT_TRUE(lines_of(log).empty());

    const model::ScanResult none_there = scan(false, {"System32\\NoSuchTasks"});
    EXPECT_TRUE(none_there.items.empty());
    EXPECT_TRUE(none_there.notes.empty());
    EXPECT_EQ(lines_of(log), std::vector<std::string>{"/Query /XML"});
}

TEST_F(TaskScan, SwitchingGoesThroughSchtasksChange) {
    write("\\Acme\\Tray", TaskXml{});
    const model::StartupItem item = scan(false).items.at(0);

    const Result<model::ChangeOutcome> off = switch_task(item, false, false);
    ASSERT_TRUE(off.has_value()) << off.error();
    EXPECT_EQ(off->message, "Tray is switched off");
    EXPECT_EQ(scan(false).items.at(0).state_text, "Disabled");
    const Result<model::ChangeOutcome> on = switch_task(item, true, false);
    ASSERT_TRUE(on.has_value()) << on.error();
    EXPECT_EQ(on->message, "Tray is switched on");
    EXPECT_EQ(scan(false).items.at(0).state_text, "Enabled (runs at sign-in)");
    EXPECT_EQ(lines_of(log),
              (std::vector<std::string>{"/Change /TN \\Acme\\Tray /DISABLE", "/Change /TN \\Acme\\Tray /ENABLE"}));

    test::EnvironmentOverride fails{"QUILLMOOR_STANDIN_EXIT", "1"};
    test::EnvironmentOverride says{"QUILLMOOR_STANDIN_OUTPUT", "  ERROR: Access is denied.\r\n"};
    EXPECT_EQ(failure_of(switch_task(item, false, false)),
              "[needs administrator rights] Windows refused to change the scheduled task.");
    EXPECT_EQ(failure_of(switch_task(item, false, true)),
              "Windows could not change the task. ERROR: Access is denied.");
    test::EnvironmentOverride silent{"QUILLMOOR_STANDIN_OUTPUT", ""};
    EXPECT_EQ(failure_of(switch_task(item, true, true)), "Windows could not change the task.");

    // A path that is not a task path never reaches schtasks.exe.
    ASSERT_TRUE(os::remove_file(log).has_value());
    model::StartupItem stray = item;
    for (std::string path : {"", "/Delete", "Acme\\Tray"}) {
        stray.set_spec("uri", path);
        EXPECT_FALSE(switch_task(stray, false, true).has_value()) << path;
    }
    EXPECT_TRUE(lines_of(log).empty());
}

TEST(TaskOwnBoot, TheDocumentIsExactAndEscapesEveryValue) {
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n"
        "<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\n"
        "  <RegistrationInfo><Description>Started at boot. Created by Quillmoor for Tom &amp; Jerry&apos;s "
        "&lt;sync&gt;.</Description></RegistrationInfo>\n"
        "  <Triggers><BootTrigger><Enabled>true</Enabled><Delay>PT30S</Delay></BootTrigger></Triggers>\n"
        "  <Principals><Principal id=\"Author\"><UserId>S-1-5-18</UserId><RunLevel>HighestAvailable</RunLevel>"
        "</Principal></Principals>\n"
        "  <Settings><MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy><DisallowStartIfOnBatteries>false"
        "</DisallowStartIfOnBatteries><StopIfGoingOnBatteries>false</StopIfGoingOnBatteries><AllowHardTerminate>true"
        "</AllowHardTerminate><StartWhenAvailable>true</StartWhenAvailable><Enabled>true</Enabled>"
        "<ExecutionTimeLimit>PT0S</ExecutionTimeLimit></Settings>\n"
        "  <Actions Context=\"Author\"><Exec><Command>C:\\Apps\\sync.exe</Command><Arguments>--dir &quot;C:\\A "
        "B&quot; &gt; log</Arguments><WorkingDirectory>C:\\A&amp;B</WorkingDirectory></Exec></Actions>\n"
        "</Task>\n";
    EXPECT_EQ(own_boot_task_document("Tom & Jerry's <sync>", "C:\\Apps\\sync.exe", "--dir \"C:\\A B\" > log",
                                     "C:\\A&B"),
              expected);
}

TEST(TaskOwnBoot, TheTaskFileIsUtf16WithItsMarkInTheWindowsTempFolder) {
    test::ScratchFolder windows;
    test::EnvironmentOverride system_root{"SystemRoot", windows.path()};
    const std::string document = own_boot_task_document("caf\xC3\xA9 \xF0\x9F\x98\x80", "a.exe", "", "C:\\");
    const std::regex file_name_form(R"(quillmoor-task-[0-9a-f]{32}\.xml)");

    // Without SystemRoot\Temp the user's temporary folder serves.
    const Result<std::string> in_user_temp = write_task_file(document);
    ASSERT_TRUE(in_user_temp.has_value()) << in_user_temp.error();
    EXPECT_EQ(in_user_temp->substr(0, in_user_temp->find_last_of('\\')), os::temp_folder());
    EXPECT_TRUE(std::regex_match(std::string(file_name(*in_user_temp)), file_name_form)) << *in_user_temp;
    EXPECT_TRUE(os::remove_file(*in_user_temp).has_value());

    ASSERT_TRUE(os::create_folders(windows / "Temp").has_value());
    const Result<std::string> first = write_task_file(document);
    const Result<std::string> second = write_task_file(document);
    ASSERT_TRUE(first.has_value() && second.has_value());
    EXPECT_EQ(first->substr(0, first->find_last_of('\\')), windows / "Temp");
    EXPECT_NE(*first, *second);
    const std::string bytes = os::read_file(*first).value_or("");
    EXPECT_EQ(bytes, utf16le(document, true));
    EXPECT_TRUE(bytes.find(std::string("c\0a\0f\0\xE9\0 \0\x3D\xD8\x00\xDE", 14)) != std::string::npos);
}

// The real schtasks.exe registers from the written file and keeps the
// definition under System32\Tasks by the task's path; deleting removes it.
// Wine's scheduler keeps the description and settings but drops triggers and
// actions, so the kept file is read here rather than expected as an item.
TEST(TaskOwnBoot, RegisterAndDeleteThroughTheRealSchtasks) {
    const std::string name = "Test-" + test::random_hex(4);
    const std::string task_path = "\\Quillmoor\\" + name;
    const Result<std::string> file =
        write_task_file(own_boot_task_document("Test", "C:\\windows\\system32\\notepad.exe", "", "C:\\windows"));
    ASSERT_TRUE(file.has_value()) << file.error();
    const auto started = std::chrono::steady_clock::now();
    // Under Wine a process that /Create starts keeps the output pipe open, so
    // the run would wait out its whole 30 seconds after the tool has ended;
    // a shorter limit ends that wait sooner and still keeps the exit code.
    const os::RunOutput created = register_task(task_path, *file, [](const os::ToolRun& run) {
        os::ToolRun shorter = run;
        shorter.time_limit_seconds = 8;
        return os::run_tool(shorter);
    });
    const auto registered = std::chrono::steady_clock::now();
    (void)os::remove_file(*file);
    ASSERT_TRUE(created.succeeded()) << os::tool_output_text(created);
    struct Cleanup {
        std::string path;
        bool done = false;
        ~Cleanup() {
            if (!done) (void)delete_task(path);
        }
    } cleanup{task_path};

    const std::string kept = os::join_path(lower_windows_folder(), "system32\\tasks\\quillmoor\\" + name);
    const Result<std::string> bytes = os::read_file(kept);
    ASSERT_TRUE(bytes.has_value()) << bytes.error();
    const formats::TaskDefinition definition = formats::read_task_definition(formats::decode_document(*bytes));
    EXPECT_EQ(definition.description, "Started at boot. Created by Quillmoor for Test.");
    EXPECT_TRUE(definition.enabled);

    const os::RunOutput deleted = delete_task(task_path);
    const auto finished = std::chrono::steady_clock::now();
    cleanup.done = deleted.succeeded();
    EXPECT_TRUE(deleted.succeeded()) << os::tool_output_text(deleted);
    EXPECT_EQ(os::path_kind(kept), os::PathKind::missing);
    const auto ms = [](auto duration) {
        return static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(duration).count());
    };
    std::printf("registering took %lld ms, deleting %lld ms\n", ms(registered - started), ms(finished - registered));
}

}  // namespace
}  // namespace qm::windows
