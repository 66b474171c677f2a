#include <windows.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "os/os_test_support.h"
#include "shell_link_test_support.h"
#include "os/console.h"
#include "os/files.h"
#include "os/windows/handle.h"
#include "platforms/windows/program_lists.h"
#include "os/windows/wide.h"
#include "util/text.h"

namespace qm::windows {
namespace {

using os::windows::to_wide;

std::string upper_ascii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::vector<std::string> mode_ids(const std::vector<model::StartMode>& modes) {
    std::vector<std::string> ids;
    for (const model::StartMode& mode : modes) ids.push_back(mode.id);
    return ids;
}

const model::Candidate* find_candidate(const model::ProgramList& list, std::string_view id) {
    for (const model::Candidate& candidate : list.items) {
        if (candidate.id == id) return &candidate;
    }
    return nullptr;
}

// Processes started for a test, ended when the test ends however it ends.
class StartedProcesses {
public:
    StartedProcesses() = default;
    StartedProcesses(const StartedProcesses&) = delete;
    StartedProcesses& operator=(const StartedProcesses&) = delete;
    ~StartedProcesses() {
        for (os::windows::Handle& process : processes_) {
            ::TerminateProcess(process.get(), 1);
            ::WaitForSingleObject(process.get(), 10000);
        }
    }

    // The new process's id, or 0 when it could not be started.
    DWORD start(const std::string& command_line) {
        std::wstring line = to_wide(command_line);
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION started{};
        if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                              &startup, &started)) {
            return 0;
        }
        ::CloseHandle(started.hThread);
        processes_.emplace_back(started.hProcess);
        return started.dwProcessId;
    }

private:
    std::vector<os::windows::Handle> processes_;
};

// A copy of the stand-in program under a name no other test uses, so that
// only this test's processes run it.
std::string private_copy_of_child_tool(const test::ScratchFolder& scratch) {
    const std::string copy = scratch / "Probe Tool.exe";
    EXPECT_TRUE(::CopyFileW(to_wide(test::child_tool_path()).c_str(), to_wide(copy).c_str(), FALSE));
    return copy;
}

// The list once every given process shows in the candidate `id` (a process
// just created may not be queryable at once), or the last list after a while.
model::ProgramList running_list_with(const std::vector<model::StartupItem>& items, std::string_view id,
                                     const std::vector<DWORD>& pids) {
    model::ProgramList list;
    for (int attempt = 0; attempt < 50; ++attempt) {
        list = list_running_programs(items);
        const model::Candidate* candidate = find_candidate(list, id);
        if (candidate != nullptr && std::all_of(pids.begin(), pids.end(), [&](DWORD pid) {
                return std::find(candidate->pids.begin(), candidate->pids.end(), pid) != candidate->pids.end();
            })) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return list;
}

std::string own_account_name() {
    wchar_t name[256];
    DWORD size = 256;
    return ::GetUserNameW(name, &size) ? os::windows::to_utf8(name) : std::string();
}

TEST(RunningPrograms, CopiesOfOneProgramAreOneCandidateWithTheirCommandLineButNotThisProgram) {
    test::ScratchFolder scratch;
    const std::string program = private_copy_of_child_tool(scratch);
    StartedProcesses started;
    // Quotes, a quoted space and non-ASCII text must come back unchanged.
    const std::string command = "\"" + program + "\" sleep 60000 \"a b\" \xc3\x84pfel";
    const DWORD first = started.start(command);
    const DWORD second = started.start(command);
    ASSERT_NE(first, 0u);
    ASSERT_NE(second, 0u);

    const std::string id = "proc|" + to_lower_ascii(program);
    const model::ProgramList list = running_list_with({}, id, {first, second});

    EXPECT_TRUE(list.notes.empty());
    const model::Candidate* candidate = find_candidate(list, id);
    ASSERT_NE(candidate, nullptr);
    std::vector<std::uint32_t> pids = candidate->pids;
    std::sort(pids.begin(), pids.end());
    EXPECT_EQ(pids, (std::vector<std::uint32_t>{std::min(first, second), std::max(first, second)}));
    EXPECT_EQ(candidate->command, command);
    EXPECT_EQ(candidate->source, model::CandidateSource::process);
    EXPECT_TRUE(equal_ignoring_ascii_case(candidate->exe, program)) << candidate->exe;
    EXPECT_EQ(candidate->name, "Probe Tool") << "no version information: the file name";
    EXPECT_TRUE(equal_ignoring_ascii_case(candidate->workdir, scratch.path())) << candidate->workdir;
    EXPECT_FALSE(candidate->system);
    EXPECT_EQ(mode_ids(candidate->modes), (std::vector<std::string>{"login", "boot"}));
    EXPECT_TRUE(candidate->notes.empty()) << "the processes run under this account";
    const std::string account = own_account_name();
    ASSERT_FALSE(account.empty());
    EXPECT_TRUE(candidate->user == account || candidate->user.ends_with("\\" + account)) << candidate->user;
    EXPECT_TRUE(candidate->entry_id.empty());

    const std::string self = to_lower_ascii(os::own_program_path());
    for (const model::Candidate& other : list.items) {
        EXPECT_NE(to_lower_ascii(other.exe), self);
        EXPECT_EQ(std::count(other.pids.begin(), other.pids.end(), ::GetCurrentProcessId()), 0) << other.id;
        EXPECT_TRUE(other.entry_id.empty()) << "no items were given: " << other.id;
    }
    EXPECT_TRUE(
        std::is_sorted(list.items.begin(), list.items.end(), [](const model::Candidate& a, const model::Candidate& b) {
            return to_lower_ascii(a.name) < to_lower_ascii(b.name);
        }));
}

model::StartupItem service_item(std::string name, std::string short_name, bool running, std::string state,
                                std::string pid) {
    model::StartupItem item(model::ItemKind::service, "Service", model::Scope::machine, "Services", std::move(name));
    item.running = running;
    item.state_text = std::move(state);
    item.exe = "C:\\windows\\system32\\" + short_name + ".exe";
    item.command = item.exe + " -k";
    item.set_spec("short", std::move(short_name));
    if (!pid.empty()) item.set_spec("pid", std::move(pid));
    return item;
}

TEST(RunningPrograms, EntriesAreMatchedByProgramFileAndOnDemandServicesAreOffered) {
    test::ScratchFolder scratch;
    const std::string program = private_copy_of_child_tool(scratch);
    StartedProcesses started;
    const DWORD pid = started.start("\"" + program + "\" sleep 60000");
    ASSERT_NE(pid, 0u);

    model::StartupItem run(model::ItemKind::run, "Registry (Run, this user)", model::Scope::user, "HKCU\\Run\\64",
                           "Probe");
    run.exe = upper_ascii(program);
    std::vector<model::StartupItem> items = {
        run,
        service_item("On Demand", "ondemand", true, "Manual (running)", "1234"),
        service_item("Odd Id", "oddid", true, "Manual", "12x"),
        service_item("Stopped", "stopped", false, "Manual", "55"),
        service_item("Automatic", "automatic", true, "Automatic", "56"),
        service_item("No Name", "", true, "Manual", "57"),
    };

    const model::ProgramList list = running_list_with(items, "proc|" + to_lower_ascii(program), {pid});
    const model::Candidate* process = find_candidate(list, "proc|" + to_lower_ascii(program));
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(process->entry_id, run.id()) << "matched regardless of case";

    const model::Candidate* service = find_candidate(list, "svc|ondemand");
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service->source, model::CandidateSource::service);
    EXPECT_EQ(service->pids, (std::vector<std::uint32_t>{1234}));
    EXPECT_EQ(mode_ids(service->modes), (std::vector<std::string>{"service-auto"}));
    EXPECT_EQ(service->notes,
              (std::vector<std::string>{
                  "A Windows service that is running now but only starts when something asks for it."}));
    EXPECT_EQ(service->entry_id, items[1].id());
    EXPECT_TRUE(service->system);

    const model::Candidate* odd = find_candidate(list, "svc|oddid");
    ASSERT_NE(odd, nullptr);
    EXPECT_TRUE(odd->pids.empty()) << "a process id that is not a number is left out";
    for (std::string_view absent : {"svc|stopped", "svc|automatic", "svc|"}) {
        EXPECT_EQ(find_candidate(list, absent), nullptr) << absent;
    }
}

// --- Installed programs ---------------------------------------------------

// ProgramData and APPDATA pointed at scratch folders for the test, both
// restored afterwards.
class InstalledPrograms : public ::testing::Test {
protected:
    void SetUp() override {
        test::set_env("ProgramData", all_users_.path());
        test::set_env("APPDATA", this_user_.path());
    }
    void TearDown() override {
        test::set_env("ProgramData", saved_program_data_);
        test::set_env("APPDATA", saved_app_data_);
    }

    // Creates the shortcut `relative` below a menu's Programs folder.
    void shortcut(const test::ScratchFolder& root, const std::string& relative, const std::string& target,
                  const std::string& arguments = "", const std::string& working_directory = "") {
        const std::string path = root / ("Microsoft\\Windows\\Start Menu\\Programs\\" + relative);
        ASSERT_TRUE(os::create_folders(path.substr(0, path.find_last_of('\\'))).has_value());
        ASSERT_TRUE(test::save_shortcut(path, target, arguments, working_directory)) << path;
    }

    std::string program(const std::string& name) {
        const std::string path = programs_ / name;
        EXPECT_TRUE(os::write_file_replace(path, "").has_value());
        return path;
    }

    test::ScratchFolder all_users_;
    test::ScratchFolder this_user_;
    test::ScratchFolder programs_;

private:
    std::optional<std::string> saved_program_data_ = os::get_env("ProgramData");
    std::optional<std::string> saved_app_data_ = os::get_env("APPDATA");
};

TEST_F(InstalledPrograms, OneCandidatePerProgramFromShortcutsFiveFoldersDeepAtMost) {
    const std::string alpha = program("Alpha.exe");
    const std::string shared = program("shared.exe");
    const std::string beta = program("Beta.EXE");
    const std::string five = program("five.exe");
    const std::string six = program("six.exe");
    const std::string skipped = program("gone.exe");
    const std::string guide = program("guide.chm");

    shortcut(all_users_, "Alpha\\Alpha.lnk", alpha, "--tray \"x y\"", programs_.path());
    shortcut(all_users_, "Alpha\\Uninstall Alpha.lnk", skipped);
    shortcut(all_users_, "Alpha\\Alpha Guide.lnk", guide);
    shortcut(all_users_, "Shared.lnk", shared);
    shortcut(all_users_, "1\\2\\3\\4\\5\\Five Deep.lnk", five);
    shortcut(all_users_, "1\\2\\3\\4\\5\\6\\Six Deep.lnk", six);
    shortcut(this_user_, "Again Shared.lnk", shared, "--other");
    shortcut(this_user_, "Tools\\Beta.lnk", beta);

    model::StartupItem run(model::ItemKind::run, "Registry (Run, this user)", model::Scope::user, "HKCU\\Run\\64",
                           "Alpha");
    run.exe = upper_ascii(alpha);
    const model::ProgramList list = list_installed_programs({run});

    std::vector<std::string> ids;
    for (const model::Candidate& candidate : list.items) ids.push_back(candidate.id);
    std::sort(ids.begin(), ids.end());
    std::vector<std::string> expected = {"app|" + to_lower_ascii(alpha), "app|" + to_lower_ascii(shared),
                                         "app|" + to_lower_ascii(beta), "app|" + to_lower_ascii(five)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(ids, expected) << "no uninstaller, no help file, nothing six folders deep";
    EXPECT_TRUE(list.notes.empty());

    const model::Candidate* first = find_candidate(list, "app|" + to_lower_ascii(alpha));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->name, "Alpha");
    EXPECT_EQ(first->source, model::CandidateSource::app);
    EXPECT_TRUE(equal_ignoring_ascii_case(first->exe, alpha)) << first->exe;
    EXPECT_EQ(first->command, "\"" + first->exe + "\" --tray \"x y\"");
    EXPECT_TRUE(equal_ignoring_ascii_case(first->workdir, programs_.path())) << first->workdir;
    EXPECT_EQ(first->entry_id, run.id());
    EXPECT_EQ(mode_ids(first->modes), (std::vector<std::string>{"login", "boot"}));
    EXPECT_FALSE(first->system);

    const model::Candidate* both = find_candidate(list, "app|" + to_lower_ascii(shared));
    ASSERT_NE(both, nullptr);
    EXPECT_EQ(both->name, "Shared") << "the all-users menu comes first";
    EXPECT_EQ(both->command, "\"" + both->exe + "\"") << "no arguments, no trailing space";
    EXPECT_TRUE(both->entry_id.empty());
}

TEST_F(InstalledPrograms, AMenuWithoutProgramsSaysSo) {
    const model::ProgramList none = list_installed_programs({});
    EXPECT_TRUE(none.items.empty());
    EXPECT_EQ(none.notes, (std::vector<std::string>{"No installed programs were found in the Start menu."}));

    // Only shortcuts that are left out: still nothing.
    shortcut(this_user_, "Read Me.lnk", program("readme.txt"));
    shortcut(this_user_, "App Help.lnk", program("app.exe"));
    const model::ProgramList left_out = list_installed_programs({});
    EXPECT_TRUE(left_out.items.empty());
    EXPECT_EQ(left_out.notes, none.notes);
}

}  // namespace
}  // namespace qm::windows
