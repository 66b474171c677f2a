// Helpers for tests that need services, tasks and the real program beside
// the stand-in system tools, all under the Wine prefix the tests run in.
#pragma once

#include <windows.h>
#include <winsvc.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "os/files.h"
#include "os/os_test_support.h"
#include "os/windows/handle.h"
#include "os/windows/wide.h"
#include "support/run_program.h"

namespace qm::test {

// A program built beside the test program: the stand-in tools and the
// child tool.
inline std::string beside_tests(std::string_view program) {
    const std::string child = child_tool_path();
    return os::join_path(child.substr(0, child.find_last_of("/\\")), program);
}

// Creates services through the service manager and deletes them at the end.
class TestServices {
public:
    TestServices() : manager_(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {}
    ~TestServices() {
        for (const std::string& name : names_) {
            os::windows::ServiceHandle service(
                ::OpenServiceW(manager_.get(), os::windows::to_wide(name).c_str(), DELETE));
            if (service) ::DeleteService(service.get());
        }
    }
    TestServices(const TestServices&) = delete;
    TestServices& operator=(const TestServices&) = delete;

    // A service named "{tag}-{suffix}"; `depends` are service names.
    std::string create(std::string_view suffix, DWORD type, DWORD start, const std::string& path,
                       const std::vector<std::string>& depends = {}, const std::string& display = {}) {
        const std::string name = tag + "-" + std::string(suffix);
        std::wstring list;
        for (const std::string& d : depends) list += os::windows::to_wide(d) + L'\0';
        if (!list.empty()) list += L'\0';
        const std::wstring display_wide = os::windows::to_wide(display);
        os::windows::ServiceHandle service(::CreateServiceW(manager_.get(), os::windows::to_wide(name).c_str(),
                                                            display.empty() ? nullptr : display_wide.c_str(),
                                                            SERVICE_ALL_ACCESS, type, start, SERVICE_ERROR_NORMAL,
                                                            os::windows::to_wide(path).c_str(), nullptr, nullptr,
                                                            list.empty() ? nullptr : list.c_str(), nullptr, nullptr));
        EXPECT_TRUE(service.valid()) << name << ": error " << ::GetLastError();
        if (service) names_.push_back(name);
        return name;
    }

    const std::string tag = "QmSvc" + test::random_hex(4);

private:
    os::windows::ServiceHandle manager_;
    std::vector<std::string> names_;
};

// A task definition with a sign-in trigger that runs `command`, as Windows
// keeps it: UTF-16LE with its byte-order mark.
inline std::string logon_task_document(std::wstring_view command = L"C:\\windows\\system32\\notepad.exe") {
    const std::wstring xml =
        L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<Task version=\"1.2\" "
        L"xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\"><Triggers><LogonTrigger><Enabled>true"
        L"</Enabled></LogonTrigger></Triggers><Settings><Enabled>true</Enabled></Settings><Actions><Exec>"
        L"<Command>" + std::wstring(command) + L"</Command></Exec></Actions></Task>\n";
    return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(xml.data()), xml.size() * sizeof(wchar_t));
}

// The system's task folder, where Windows keeps one definition file per task.
inline std::string system_tasks_folder() {
    return os::join_path(os::get_env("SystemRoot").value_or("C:\\windows"), "System32\\Tasks");
}

// The sequence number of the newest history line with this action and name.
inline std::string newest_seq(const std::string& history, const std::string& action, const std::string& name) {
    std::istringstream lines(history);
    std::string line;
    while (std::getline(lines, line)) {  // the history lists the newest first
        std::istringstream words(line);
        std::string seq, date, time, what;
        words >> seq >> date >> time >> what;
        if (what == action && line.find(name) != std::string::npos) return seq;
    }
    return {};
}

// A copy of the real program in a folder of its own, with its data folder in
// a scratch folder of its own. The test build takes the stand-in tools from
// the tests' folder (os/system_tool.h), never from the program's own folder.
class ProgramBesideStandIns {
public:
    ProgramBesideStandIns() {
        EXPECT_TRUE(::CopyFileW(os::windows::to_wide(QM_PROGRAM_PATH).c_str(),
                                os::windows::to_wide(bin / "quillmoor.exe").c_str(), FALSE));
        // Whether the prefix runs as administrator decides which of the two
        // data folders is used; both are the scratch folder here.
        environment = {{"LOCALAPPDATA", data.path()}, {"ProgramData", data.path()}};
    }

    ProgramRun run(const std::vector<std::string>& arguments) const {
        return run_program_at(bin / "quillmoor.exe", arguments, environment);
    }

    ScratchFolder bin;
    ScratchFolder data;
    std::vector<std::pair<std::string, std::string>> environment;
};

}  // namespace qm::test
