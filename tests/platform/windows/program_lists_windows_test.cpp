#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "../platform_test_support.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/windows/handle.h"
#include "platform/windows/program_lists.h"
#include "platform/windows/wide.h"
#include "util/text.h"

namespace qm::win {
namespace {

using os::win::to_wide;

std::string upper_ascii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::vector<std::string> mode_ids(const std::vector<StartMode>& modes) {
    std::vector<std::string> ids;
    for (const StartMode& mode : modes) ids.push_back(mode.id);
    return ids;
}

const Candidate* find_candidate(const ProgramList& list, std::string_view id) {
    for (const Candidate& candidate : list.items) {
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
        for (os::win::Handle& process : processes_) {
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
    std::vector<os::win::Handle> processes_;
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
ProgramList running_list_with(const std::vector<StartupItem>& items, std::string_view id,
                              const std::vector<DWORD>& pids) {
    ProgramList list;
    for (int attempt = 0; attempt < 50; ++attempt) {
        list = list_running_programs(items);
        const Candidate* candidate = find_candidate(list, id);
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
    return ::GetUserNameW(name, &size) ? os::win::to_utf8(name) : std::string();
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
    const auto begun = std::chrono::steady_clock::now();
    const ProgramList list = running_list_with({}, id, {first, second});
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - begun);
    std::printf("list_running_programs: %d candidates, %lld ms\n", static_cast<int>(list.items.size()),
                static_cast<long long>(took.count()));

    EXPECT_TRUE(list.notes.empty());
    const Candidate* candidate = find_candidate(list, id);
    ASSERT_NE(candidate, nullptr);
    std::vector<std::uint32_t> pids = candidate->pids;
    std::sort(pids.begin(), pids.end());
    EXPECT_EQ(pids, (std::vector<std::uint32_t>{std::min(first, second), std::max(first, second)}));
    EXPECT_EQ(candidate->command, command);
    EXPECT_EQ(candidate->source, "process");
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
    for (const Candidate& other : list.items) {
        EXPECT_NE(to_lower_ascii(other.exe), self);
        EXPECT_EQ(std::count(other.pids.begin(), other.pids.end(), ::GetCurrentProcessId()), 0) << other.id;
        EXPECT_TRUE(other.entry_id.empty()) << "no items were given: " << other.id;
    }
    EXPECT_TRUE(std::is_sorted(list.items.begin(), list.items.end(), [](const Candidate& a, const Candidate& b) {
        return to_lower_ascii(a.name) < to_lower_ascii(b.name);
    }));
}

StartupItem service_item(std::string name, std::string short_name, bool running, std::string state,
                         std::string pid) {
    StartupItem item("service", "Service", "machine", "Services", std::move(name));
    item.running = running;
    item.state_text = std::move(state);
    item.exe = "C:\\windows\\system32\\" + short_name + ".exe";
    item.command = item.exe + " -k";
    item.publisher = "Service Publisher";
    item.description = "Does service things";
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

    StartupItem run("run", "Registry (Run, this user)", "user", "HKCU\\Run\\64", "Probe");
    run.exe = upper_ascii(program);
    std::vector<StartupItem> items = {
        run,
        service_item("On Demand", "ondemand", true, "Manual (running)", "1234"),
        service_item("Odd Id", "oddid", true, "Manual", "12x"),
        service_item("Stopped", "stopped", false, "Manual", "55"),
        service_item("Automatic", "automatic", true, "Automatic", "56"),
        service_item("No Name", "", true, "Manual", "57"),
    };

    const ProgramList list = running_list_with(items, "proc|" + to_lower_ascii(program), {pid});
    const Candidate* process = find_candidate(list, "proc|" + to_lower_ascii(program));
    ASSERT_NE(process, nullptr);
    EXPECT_EQ(process->entry_id, run.id()) << "matched regardless of case";
    EXPECT_EQ(process->command, "\"" + program + "\" sleep 60000");

    const Candidate* service = find_candidate(list, "svc|ondemand");
    ASSERT_NE(service, nullptr);
    EXPECT_EQ(service->name, "On Demand");
    EXPECT_EQ(service->source, "service");
    EXPECT_EQ(service->exe, "C:\\windows\\system32\\ondemand.exe");
    EXPECT_EQ(service->command, "C:\\windows\\system32\\ondemand.exe -k");
    EXPECT_EQ(service->publisher, "Service Publisher");
    EXPECT_EQ(service->description, "Does service things");
    EXPECT_EQ(service->pids, (std::vector<std::uint32_t>{1234}));
    EXPECT_EQ(mode_ids(service->modes), (std::vector<std::string>{"service-auto"}));
    EXPECT_EQ(service->notes, (std::vector<std::string>{
                                  "A Windows service that is running now but only starts when something asks for it."}));
    EXPECT_EQ(service->entry_id, items[1].id());
    EXPECT_TRUE(service->system);

    const Candidate* odd = find_candidate(list, "svc|oddid");
    ASSERT_NE(odd, nullptr);
    EXPECT_TRUE(odd->pids.empty()) << "a process id that is not a number is left out";
    for (std::string_view absent : {"svc|stopped", "svc|automatic", "svc|"}) {
        EXPECT_EQ(find_candidate(list, absent), nullptr) << absent;
    }
}

}  // namespace
}  // namespace qm::win
