// The whole program as a new user goes through it on the Wine prefix: one
// session of list, assess, backup, switching off each kind of item, adding
// entries, the history, restoring the first backup, undo, removal and the
// doctor, after which the computer must be as it was. Then the refusals that
// keep the computer safe, tried through the command line, and the doctor's
// probes on what the prefix holds.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include "json/json.h"
#include "platforms/windows/approval_flag.h"
#include "platforms/windows/registry.h"
#include "platforms/windows/registry_test_support.h"
#include "platforms/windows/shell_link_test_support.h"
#include "platforms/windows/system_test_support.h"
#include "util/text.h"

namespace qm::windows {
namespace {

constexpr std::string_view run_path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
const std::string approved_run = std::string(startup_approved_path) + "\\Run";

std::string shell_folder(int which) {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, which | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path))) return {};
    return os::windows::to_utf8(path);
}

std::string hex(std::string_view bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : bytes) {
        text += digits[c >> 4];
        text += digits[c & 15];
    }
    return text;
}

std::string fingerprint(std::string_view bytes) {
    return std::to_string(bytes.size()) + " bytes #" + std::to_string(std::hash<std::string_view>{}(bytes));
}

// Every file under `folder`, one line each with its path below `folder`.
void dump_files(std::ostringstream& out, const std::string& label, const std::string& folder,
                const std::string& below = {}) {
    Result<std::vector<os::FolderEntry>> entries = os::list_folder(os::join_path(folder, below));
    if (!entries) return;
    std::sort(entries->begin(), entries->end(), [](const auto& a, const auto& b) { return a.name < b.name; });
    for (const os::FolderEntry& entry : *entries) {
        const std::string relative = below.empty() ? entry.name : below + "\\" + entry.name;
        if (entry.is_folder) {
            dump_files(out, label, folder, relative);
        } else {
            out << label << " " << relative << ": "
                << fingerprint(os::read_file(os::join_path(folder, relative)).value_or("unreadable")) << "\n";
        }
    }
}

// What the program may change, as text: the Run keys of both hives and
// views, the approval flags that say "off" (a flag saying "on" and no flag
// both mean on, and switching an item back on leaves the former), the start
// types of every service, and the files of the Startup folders and the task
// folder. Two equal dumps mean nothing a user could notice was changed.
std::string computer_state() {
    std::ostringstream out;
    for (const auto& [hive, root] : {std::pair{"HKCU", HKEY_CURRENT_USER}, std::pair{"HKLM", HKEY_LOCAL_MACHINE}}) {
        for (const auto& [view, flag] : {std::pair{"64", KEY_WOW64_64KEY}, std::pair{"32", KEY_WOW64_32KEY}}) {
            for (const char* key : {"Run", "RunOnce"}) {
                const std::string path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\" + std::string(key);
                RegistryResult<RegistryKey> opened = open_key(root, path, KEY_READ | flag);
                if (!opened) continue;
                for (const EnumeratedValue& value : enumerate_values(opened->get())) {
                    out << hive << "\\" << key << "\\" << view << " " << value.name << " = " << value.type << ":"
                        << hex(value.bytes) << "\n";
                }
            }
        }
        for (const char* key : {"Run", "Run32", "StartupFolder"}) {
            RegistryResult<RegistryKey> opened =
                open_key(root, std::string(startup_approved_path) + "\\" + key, KEY_READ | KEY_WOW64_64KEY);
            if (!opened) continue;
            for (const EnumeratedValue& value : enumerate_values(opened->get())) {
                if (approval_flag_of(RawValue{value.type, value.bytes}) == ApprovalFlag::off) {
                    out << hive << " approval " << key << " " << value.name << " off\n";
                }
            }
        }
    }
    RegistryResult<RegistryKey> services =
        open_key(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services", KEY_READ);
    if (services) {
        for (const std::string& name : enumerate_subkeys(services->get())) {
            RegistryResult<RegistryKey> service = open_key(services->get(), name, KEY_READ);
            if (!service) continue;
            out << "service " << name << " start " << try_read_number(service->get(), "Start").value_or(99)
                << " delayed " << try_read_number(service->get(), "DelayedAutostart").value_or(0) << "\n";
        }
    }
    dump_files(out, "user startup", shell_folder(CSIDL_STARTUP));
    dump_files(out, "common startup", shell_folder(CSIDL_COMMON_STARTUP));
    dump_files(out, "task", test::system_tasks_folder());
    return out.str();
}

// The first item of `list --json` for which `wanted` holds.
json::JsonValue find_item(const test::ProgramBesideStandIns& program,
                          const std::function<bool(const json::JsonValue&)>& wanted) {
    test::ProgramRun listed = program.run({"list", "--json"});
    Result<json::JsonValue> items = json::parse(listed.out);
    EXPECT_TRUE(items && items->is_array()) << listed.out << listed.err;
    if (items && items->is_array()) {
        for (const json::JsonValue& item : items->as_array()) {
            if (wanted(item)) return item;
        }
    }
    return json::JsonValue();
}

std::string id_of(const json::JsonValue& item) { return json::get_text(item, "id"); }

// The items the session works on, made before it starts and removed after.
class WindowsSession : public ::testing::Test {
protected:
    void SetUp() override {
        registry.write_text(HKEY_CURRENT_USER, run_path, 0, os::windows::to_wide(run_name),
                            L"C:\\windows\\notepad.exe");
        ASSERT_TRUE(test::save_shortcut(shortcut_path, "C:\\windows\\regedit.exe", "--session"));
        service = services.create("session", SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, test::child_tool_path());
        ASSERT_TRUE(os::create_folders(test::system_tasks_folder()).has_value());
        ASSERT_TRUE(os::write_file_replace(task_file, test::logon_task_document()).has_value());
        // Windows keeps a registered task as the definition it was given;
        // the stand-in schtasks.exe does the same where Wine's does not.
        program.environment.emplace_back("QUILLMOOR_STANDIN_REGISTER", "1");
    }

    void TearDown() override {
        (void)os::remove_file(shortcut_path);
        (void)os::remove_file(task_file);
        for (const auto& [root, key, name] : {std::tuple{HKEY_CURRENT_USER, approved_run, run_name},
                                              std::tuple{HKEY_CURRENT_USER, approved_folder, shortcut_name}}) {
            if (RegistryResult<RegistryKey> opened = open_key(root, key, KEY_SET_VALUE | KEY_WOW64_64KEY)) {
                (void)delete_value(opened->get(), name);
            }
        }
    }

    const std::string tag = "QmSession" + test::random_hex(4);
    const std::string run_name = tag + " Run";
    const std::string shortcut_name = tag + " Shortcut.lnk";
    const std::string shortcut_path = os::join_path(shell_folder(CSIDL_STARTUP), shortcut_name);
    const std::string approved_folder = std::string(startup_approved_path) + "\\StartupFolder";
    const std::string task_name = tag + " Task";
    const std::string task_file = os::join_path(test::system_tasks_folder(), task_name);
    std::string service;
    test::RegistryWriter registry;
    test::TestServices services;
    test::ProgramBesideStandIns program;
};

TEST_F(WindowsSession, ANewUsersSessionLeavesTheComputerAsItWas) {
    const std::string before = computer_state();
    auto run = [&](const std::vector<std::string>& arguments) {
        test::ProgramRun result = program.run(arguments);
        std::string command;
        for (const std::string& argument : arguments) command += argument + " ";
        EXPECT_EQ(result.exit_code, 0) << command << "\n" << result.out << result.err;
        return result;
    };
    const std::vector<std::string> switched = {run_name, shortcut_name.substr(0, shortcut_name.size() - 4), service,
                                               task_name};

    test::ProgramRun listed = run({"list"});
    for (const std::string& name : switched) EXPECT_NE(listed.out.find(name), std::string::npos) << name;
    EXPECT_NE(run({"assess", run_name}).out.find("If switched off:"), std::string::npos);

    test::ProgramRun saved = run({"backup", "--label", "before the session"});
    const std::size_t to = saved.out.find(" to ");
    ASSERT_NE(to, std::string::npos) << saved.out;
    const std::string backup_file = trim(saved.out.substr(to + 4));
    ASSERT_EQ(os::path_kind(backup_file), os::PathKind::file) << backup_file;

    std::vector<std::string> ids;
    for (const std::string& name : switched) {
        const json::JsonValue item =
            find_item(program, [&](const json::JsonValue& i) { return json::get_text(i, "name") == name; });
        ASSERT_FALSE(id_of(item).empty()) << name;
        ids.push_back(id_of(item));
        run({"disable", id_of(item), "--yes"});
    }
    for (const std::string& id : ids) {
        const json::JsonValue item = find_item(program, [&](const json::JsonValue& i) { return id_of(i) == id; });
        EXPECT_FALSE(json::get_flag(item, "enabled")) << id;
    }
    EXPECT_NE(computer_state(), before);

    // Added in both modes, and once as a shortcut with a working folder.
    // (Each its own program: adding one that already starts switches that
    // entry on instead.)
    run({"add", "C:\\windows\\system32\\clock.exe", "--name", tag + " Login", "--yes"});
    run({"add", "C:\\windows\\system32\\winver.exe", "--name", tag + " Boot", "--mode", "boot", "--yes"});
    run({"add", "C:\\windows\\system32\\write.exe", "--name", tag + " Folder", "--workdir", "C:\\windows", "--yes"});
    std::vector<std::string> own;
    for (const char* kind : {"run", "task", "folder"}) {
        const json::JsonValue item = find_item(program, [&](const json::JsonValue& i) {
            return json::get_flag(i, "managed") && json::get_text(i, "kind") == kind &&
                   json::get_text(i, "name").find(tag) != std::string::npos;
        });
        ASSERT_FALSE(id_of(item).empty()) << kind;
        EXPECT_TRUE(json::get_flag(item, "enabled")) << kind;
        own.push_back(id_of(item));
    }

    const std::string history = run({"history"}).out;
    EXPECT_NE(history.find("disable"), std::string::npos) << history;
    const std::string login_created = test::newest_seq(history, "create", tag + " Login");
    ASSERT_FALSE(login_created.empty()) << history;

    // The first backup puts the four items back; the entries made since stay
    // unless asked for, and are removed by undo and by remove.
    test::ProgramRun restored = run({"restore", backup_file, "--apply", "--yes"});
    for (const std::string& id : ids) {
        const json::JsonValue item = find_item(program, [&](const json::JsonValue& i) { return id_of(i) == id; });
        EXPECT_TRUE(json::get_flag(item, "enabled")) << id << "\n" << restored.out;
    }
    run({"undo", login_created, "--yes"});
    run({"remove", own[1], "--yes"});
    run({"remove", own[2], "--yes"});
    EXPECT_TRUE(id_of(find_item(program, [&](const json::JsonValue& i) {
                    return json::get_flag(i, "managed") && json::get_text(i, "name").find(tag) != std::string::npos;
                })).empty());

    test::ProgramRun doctor = program.run({"doctor"});
    EXPECT_NE(doctor.out.find("Run keys"), std::string::npos) << doctor.out << doctor.err;
    EXPECT_EQ(computer_state(), before);
}

}  // namespace
}  // namespace qm::windows

namespace qm::windows {
namespace {

// The refusals that keep a computer safe, tried on the prefix's real items
// through every command that could reach them. The stand-in tools record
// each call, so a refusal that still ran a tool shows.
TEST_F(WindowsSession, NoCommandSwitchesOffACriticalItemOrRemovesAnEntryItDidNotMake) {
    const std::string tool_calls = program.data / "tool-calls.txt";
    program.environment.emplace_back("QUILLMOOR_STANDIN_LOG", tool_calls);
    const json::JsonValue critical = find_item(program, [](const json::JsonValue& i) {
        const json::JsonValue* risk = json::get(i, "risk");
        return risk != nullptr && json::get_text(*risk, "level") == "critical" && json::get_flag(i, "enabled");
    });
    if (id_of(critical).empty()) GTEST_SKIP() << "this prefix has no critical item that is on";
    const std::string critical_id = id_of(critical);
    const std::string before = computer_state();

    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"disable", critical_id, "--yes"},
          std::vector<std::string>{"disable", critical_id, "--yes", "--stop-now"},
          std::vector<std::string>{"disable", json::get_text(critical, "name"), "--yes"}}) {
        test::ProgramRun refused = program.run(arguments);
        EXPECT_NE(refused.exit_code, 0) << refused.out;
        EXPECT_NE((refused.out + refused.err).find("will not switch this off"), std::string::npos)
            << refused.out << refused.err;
    }

    // A backup edited to say the critical item was off, and to recreate an
    // entry whose name tries to leave the Startup folder.
    const std::string crafted = program.data / "crafted.json";
    const std::string escaping_id = "folder|user|Startup|..\\..\\..\\Quillmoor-escaped";
    auto quoted = [](const std::string& text) { return json::write(json::JsonValue(text)); };
    const std::string backup_text = R"({"format": "quillmoor-backup", "items": [
        {"id": )" + quoted(critical_id) +
                                    R"(, "name": "critical", "enabled": false},
        {"id": )" + quoted(escaping_id) +
                                    R"(, "name": "escaping", "enabled": true, "managed": true,
         "spec": {"name": "..\\..\\..\\..\\Quillmoor-escaped", "mode": "login", "workdir": "C:\\windows",
                  "command": "C:\\windows\\system32\\whoami.exe", "exe": "C:\\windows\\system32\\whoami.exe"}}]})";
    ASSERT_TRUE(json::parse(backup_text).has_value());
    ASSERT_TRUE(os::write_file_replace(crafted, backup_text).has_value());
    test::ProgramRun restored = program.run({"restore", crafted, "--apply", "--all", "--yes"});
    EXPECT_TRUE(json::get_flag(find_item(program, [&](const json::JsonValue& i) { return id_of(i) == critical_id; }),
                               "enabled"))
        << restored.out << restored.err;
    const json::JsonValue recreated = find_item(program, [](const json::JsonValue& i) {
        return json::get_flag(i, "managed") && json::get_text(i, "name").find("escaped") != std::string::npos;
    });
    if (!id_of(recreated).empty()) {
        // Made, but only as a shortcut of the program's own in the user's
        // Startup folder.
        EXPECT_EQ(json::get_text(recreated, "kind"), "folder");
        EXPECT_EQ(os::path_kind(os::join_path(shell_folder(CSIDL_STARTUP), json::get_text(recreated, "name") + ".lnk")),
                  os::PathKind::file);
        EXPECT_EQ(program.run({"remove", id_of(recreated), "--yes"}).exit_code, 0);
    }

    // Entries the program did not make: a Run value, a shortcut, a service
    // and a task, by name and by id.
    for (const std::string& name :
         {run_name, shortcut_name.substr(0, shortcut_name.size() - 4), service, task_name, critical_id}) {
        test::ProgramRun refused = program.run({"remove", name, "--yes"});
        EXPECT_NE(refused.exit_code, 0) << name << "\n" << refused.out;
        EXPECT_NE((refused.out + refused.err).find("Only startup entries created by Quillmoor can be removed."),
                  std::string::npos)
            << name << "\n"
            << refused.out << refused.err;
    }
    EXPECT_EQ(computer_state(), before);
    // No service was ever handed to sc.exe (the shortcut above went through
    // the stand-in PowerShell, which logs to the same file).
    const std::string calls = os::read_file(tool_calls).value_or("");
    EXPECT_EQ(calls.find("config "), std::string::npos) << calls;
    EXPECT_EQ(calls.find("stop "), std::string::npos) << calls;
}

}  // namespace
}  // namespace qm::windows

namespace qm::windows {
namespace {

struct DoctorLine {
    std::string mark;  // "ok  ", "WARN" or "FAIL"
    std::string name;
    std::string detail;
};

// The probe lines of `doctor`, split by the names expected in this order.
std::vector<DoctorLine> doctor_lines(const std::string& out, const std::vector<std::string>& names) {
    std::vector<DoctorLine> lines;
    std::istringstream text(out);
    std::string line;
    while (std::getline(text, line) && !line.empty()) {
        DoctorLine parsed{line.substr(1, 4), "", ""};
        const std::string rest = line.size() > 7 ? line.substr(7) : "";
        for (const std::string& name : names) {
            if (rest.starts_with(name + ": ")) parsed = {parsed.mark, name, rest.substr(name.size() + 2)};
        }
        if (parsed.name.empty()) parsed.name = rest;
        lines.push_back(parsed);
    }
    return lines;
}

// The number a probe's detail begins with.
long leading_number(const std::string& detail) { return std::strtol(detail.c_str(), nullptr, 10); }

TEST(WindowsDoctor, EveryProbeComesInOrderWithTheStatusThatWhatThePrefixHoldsCalls) {
    test::ScratchFolder data;
    const std::vector<std::pair<std::string, std::string>> environment = {{"LOCALAPPDATA", data.path()},
                                                                          {"ProgramData", data.path()}};
    test::ProgramRun listed = test::run_program({"list", "--json"}, environment);
    Result<json::JsonValue> items = json::parse(listed.out);
    ASSERT_TRUE(items && items->is_array()) << listed.out << listed.err;
    auto count_of = [&](const char* kind) {
        return std::count_if(items->as_array().begin(), items->as_array().end(),
                             [&](const json::JsonValue& item) { return json::get_text(item, "kind") == kind; });
    };

    test::ProgramRun doctor = test::run_program({"doctor"}, environment);
    ASSERT_EQ(doctor.exit_code, 0) << doctor.err;
    const std::vector<std::string> names = {"Operating system",
                                            "Run keys",
                                            "Startup folders",
                                            "Services",
                                            "Service states",
                                            "Scheduled tasks",
                                            "Running programs",
                                            "Command lines",
                                            "Publisher information",
                                            "Signature checks",
                                            "Startup cost",
                                            "Tool: sc.exe",
                                            "Tool: schtasks.exe",
                                            "Tool: curl.exe",
                                            "Knowledge",
                                            "History and backups folder"};
    const std::vector<DoctorLine> lines = doctor_lines(doctor.out, names);
    std::vector<std::string> seen;
    for (const DoctorLine& line : lines) {
        if (line.name != "Note") seen.push_back(line.name);
    }
    ASSERT_EQ(seen, names) << doctor.out;
    auto line_of = [&](const std::string& name) {
        return *std::find_if(lines.begin(), lines.end(), [&](const DoctorLine& l) { return l.name == name; });
    };

    EXPECT_EQ(line_of("Operating system").mark, "ok  ");
    // The counts are those of the scan, and each status follows its threshold.
    const struct {
        const char* name;
        long expected;  // -1: not known here
        long ok_from;
        const char* otherwise;
    } counted[] = {{"Run keys", static_cast<long>(count_of("run")), 1, "WARN"},
                   {"Startup folders", static_cast<long>(count_of("folder")), 0, "ok  "},
                   {"Services", static_cast<long>(count_of("service")), 21, "FAIL"},
                   {"Service states", -1, 21, "FAIL"},
                   {"Scheduled tasks", static_cast<long>(count_of("task")), 1, "WARN"},
                   {"Running programs", -1, 6, "FAIL"},
                   {"Command lines", -1, 1, "WARN"}};
    for (const auto& probe : counted) {
        const DoctorLine line = line_of(probe.name);
        const long n = leading_number(line.detail);
        if (probe.expected >= 0) {
            EXPECT_EQ(n, probe.expected) << probe.name << ": " << line.detail;
        }
        EXPECT_EQ(line.mark, n >= probe.ok_from ? "ok  " : probe.otherwise) << probe.name << ": " << line.detail;
    }
    // Wine runs only a handful of services, fewer than any Windows computer.
    EXPECT_EQ(line_of("Services").mark, "FAIL");
    EXPECT_EQ(line_of("Service states").mark, "FAIL");

    // Wine's own files carry no signature and it keeps no system catalogs,
    // so the check of explorer.exe is said to prove nothing here.
    EXPECT_EQ(line_of("Signature checks").mark, "WARN");
    EXPECT_TRUE(line_of("Signature checks").detail.starts_with("explorer.exe gave \"unsigned\""))
        << line_of("Signature checks").detail;

    // Wine keeps no sign-in records and has no boot-performance log.
    EXPECT_EQ(line_of("Startup cost").mark, "WARN");
    EXPECT_TRUE(line_of("Startup cost").detail.starts_with("Not measurable here.")) << line_of("Startup cost").detail;
    EXPECT_EQ(line_of("Tool: sc.exe").detail, "sc.exe is present.");
    EXPECT_EQ(line_of("Tool: schtasks.exe").detail, "schtasks.exe is present.");
    const bool has_curl = os::path_kind(os::join_path(os::get_env("SystemRoot").value_or("C:\\windows"),
                                                      "System32\\curl.exe")) == os::PathKind::file;
    EXPECT_EQ(line_of("Tool: curl.exe").mark, has_curl ? "ok  " : "WARN") << line_of("Tool: curl.exe").detail;
    EXPECT_NE(doctor.out.find("source(s) did not work."), std::string::npos) << doctor.out;
}

}  // namespace
}  // namespace qm::windows
