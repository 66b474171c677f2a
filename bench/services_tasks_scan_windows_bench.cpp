// Scan speed of the services and scheduled-task sources on a real registry
// and service manager (Wine's, or Windows'): 500 services created through the
// service manager and 300 task definitions (half with a sign-in or boot
// trigger) in a task folder of the benchmark's own. Prints the wall time and
// this process's own processor time per scan of each source (child programs
// are not counted: with definitions present no tool is started). Removes
// what it made. Usage: services_tasks_scan_windows_bench [rounds]
#include <windows.h>
#include <winsvc.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "os/files.h"
#include "platforms/windows/program_files.h"
#include "platforms/windows/services.h"
#include "platforms/windows/tasks.h"
#include "os/windows/wide.h"

namespace {

constexpr int service_count = 500;
constexpr int task_count = 300;

double own_cpu_milliseconds() {
    FILETIME created, ended, kernel, user;
    ::GetProcessTimes(::GetCurrentProcess(), &created, &ended, &kernel, &user);
    auto ticks = [](FILETIME t) { return (static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10000.0;
}

std::string task_document(int i) {
    const char* trigger = i % 4 == 0 ? "<LogonTrigger/>" : i % 4 == 1 ? "<BootTrigger/>" : "<TimeTrigger/>";
    const std::string xml = std::string("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<Task><RegistrationInfo>") +
                            "<Description>Bench task " + std::to_string(i) + "</Description></RegistrationInfo>" +
                            "<Triggers>" + trigger + "</Triggers><Principals><Principal><UserId>S-1-5-18</UserId>" +
                            "</Principal></Principals><Settings><Enabled>true</Enabled></Settings><Actions><Exec>" +
                            "<Command>C:\\Program Files\\Vendor " + std::to_string(i) + "\\tool.exe</Command>" +
                            "<Arguments>--run &quot;x&quot;</Arguments></Exec></Actions></Task>\n";
    const std::wstring wide = qm::os::windows::to_wide(xml);
    return "\xFF\xFE" + std::string(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t));
}

template <class Step>
void measure(const char* label, int rounds, Step&& step) {
    std::vector<double> wall, cpu;
    std::size_t items = 0;
    for (int round = 0; round < rounds; ++round) {
        const double cpu_before = own_cpu_milliseconds();
        const auto started = std::chrono::steady_clock::now();
        items = step();
        wall.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
        cpu.push_back(own_cpu_milliseconds() - cpu_before);
    }
    std::sort(wall.begin(), wall.end());
    std::sort(cpu.begin(), cpu.end());
    std::printf("  %-9s %4zu items: median %.1f ms wall, %.1f ms of this process's processor time\n", label, items,
                wall[wall.size() / 2], cpu[cpu.size() / 2]);
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    SC_HANDLE manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) {
        std::fprintf(stderr, "the service manager could not be opened\n");
        return 1;
    }
    std::vector<std::wstring> services;
    for (int i = 0; i < service_count; ++i) {
        const std::wstring name = L"QmBenchSvc" + std::to_wstring(i);
        const std::wstring path = L"\"C:\\Program Files\\Vendor " + std::to_wstring(i % 50) + L"\\service.exe\" -k";
        SC_HANDLE service =
            ::CreateServiceW(manager, name.c_str(), nullptr, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                             i % 3 == 0 ? SERVICE_AUTO_START : SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, path.c_str(),
                             nullptr, nullptr, nullptr, nullptr, nullptr);
        if (service != nullptr) {
            services.push_back(name);
            ::CloseServiceHandle(service);
        }
    }

    char temp[MAX_PATH];
    ::GetTempPathA(MAX_PATH, temp);
    const std::string windows = qm::os::join_path(temp, "qm-bench-windows");
    const std::string tasks = qm::os::join_path(windows, "System32\\Tasks\\Bench");
    (void)qm::os::create_folders(tasks);
    for (int i = 0; i < task_count; ++i) {
        (void)qm::os::write_file_replace(qm::os::join_path(tasks, "Task " + std::to_string(i)), task_document(i));
    }
    const std::string old_root = qm::os::windows::to_utf8(_wgetenv(L"SystemRoot") ? _wgetenv(L"SystemRoot") : L"");
    ::SetEnvironmentVariableW(L"SystemRoot", qm::os::windows::to_wide(windows).c_str());

    std::printf("Scan of %zu created services (plus the system's) and %d task files, %d rounds:\n", services.size(),
                task_count, rounds);
    measure("services", rounds, [] {
        qm::windows::ProgramFacts programs;
        qm::model::ScanResult result;
        qm::windows::scan_services(true, programs, result);
        return result.items.size();
    });
    measure("tasks", rounds, [] {
        qm::windows::ProgramFacts programs;
        qm::model::ScanResult result;
        qm::windows::scan_tasks({"System32\\Tasks"}, true, programs, result);
        return result.items.size();
    });

    ::SetEnvironmentVariableW(L"SystemRoot", qm::os::windows::to_wide(old_root).c_str());
    (void)qm::os::remove_tree(windows);
    for (const std::wstring& name : services) {
        SC_HANDLE service = ::OpenServiceW(manager, name.c_str(), DELETE);
        if (service != nullptr) {
            ::DeleteService(service);
            ::CloseServiceHandle(service);
        }
    }
    ::CloseServiceHandle(manager);
    return 0;
}
