// A stand-in for sc.exe, built beside the test program, for the two verbs
// that Wine's own sc.exe does not carry out ("config" exits 1 and changes
// nothing). It does what the real tool does, through the service API:
//
//   config NAME start= auto|delayed-auto|demand|disabled
//       ChangeServiceConfigW with the start type; "delayed-auto" also sets
//       DelayedAutostart to 1 in the service's key (Wine has no
//       ChangeServiceConfig2W for it) and "auto" removes it
//   stop NAME
//       ControlService(SERVICE_CONTROL_STOP)
//
// Failures exit with the Windows error code, as the real tool does. Any other
// call is passed on to the real sc.exe in the system folder.
//
//   QUILLMOOR_STANDIN_LOG   when set, the file to which each call appends one
//                           line: its arguments joined by single spaces
//   QUILLMOOR_STANDIN_FAIL  "{verb} {code} {output}": a call with that verb
//                           prints the output and exits with the code without
//                           doing anything
//
// Elsewhere than on Windows it is a program that does nothing.
#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>
#include <winsvc.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "standin_text.h"

namespace {

using standin::utf8;
using standin::wide;

std::wstring variable(const wchar_t* name) {
    DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    if (size == 0) return {};
    std::wstring value(size, L'\0');
    value.resize(::GetEnvironmentVariableW(name, value.data(), size));
    return value;
}

void append_log(const std::vector<std::wstring>& arguments) {
    const std::wstring log = variable(L"QUILLMOOR_STANDIN_LOG");
    if (log.empty()) return;
    std::string line;
    for (const std::wstring& argument : arguments) line += (line.empty() ? "" : " ") + utf8(argument);
    line += "\n";
    if (FILE* file = _wfopen(log.c_str(), L"ab")) {
        std::fwrite(line.data(), 1, line.size(), file);
        std::fclose(file);
    }
}

// The failure the caller asked for, when it names this verb.
bool told_to_fail(const std::wstring& verb, int& code) {
    const std::wstring fail = variable(L"QUILLMOOR_STANDIN_FAIL");
    const std::size_t space = fail.find(L' ');
    if (space == std::wstring::npos || _wcsicmp(fail.substr(0, space).c_str(), verb.c_str()) != 0) return false;
    const std::wstring rest = fail.substr(space + 1);
    const std::size_t second = rest.find(L' ');
    code = _wtoi(rest.substr(0, second).c_str());
    const std::string output = second == std::wstring::npos ? std::string() : utf8(rest.substr(second + 1)) + "\n";
    std::fwrite(output.data(), 1, output.size(), stdout);
    return true;
}

struct Service {
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
    ~Service() {
        if (service != nullptr) ::CloseServiceHandle(service);
        if (manager != nullptr) ::CloseServiceHandle(manager);
    }
};

int report(const char* what, DWORD error) {
    std::printf("[SC] %s FAILED %lu\n", what, static_cast<unsigned long>(error));
    return static_cast<int>(error);
}

int open(Service& handles, const std::wstring& name, DWORD access) {
    handles.manager = ::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (handles.manager == nullptr) return report("OpenSCManager", ::GetLastError());
    handles.service = ::OpenServiceW(handles.manager, name.c_str(), access);
    if (handles.service == nullptr) return report("OpenService", ::GetLastError());
    return 0;
}

int set_delayed(const std::wstring& name, bool delayed) {
    const std::wstring path = L"SYSTEM\\CurrentControlSet\\Services\\" + name;
    HKEY key = nullptr;
    LSTATUS status = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_SET_VALUE, &key);
    if (status != ERROR_SUCCESS) return report("RegOpenKeyEx", static_cast<DWORD>(status));
    const DWORD one = 1;
    status = delayed ? ::RegSetValueExW(key, L"DelayedAutostart", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one),
                                        sizeof(one))
                     : ::RegDeleteValueW(key, L"DelayedAutostart");
    ::RegCloseKey(key);
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        return report("RegSetValueEx", static_cast<DWORD>(status));
    }
    return 0;
}

int configure(const std::wstring& name, const std::wstring& mode) {
    DWORD start = 0;
    if (mode == L"auto" || mode == L"delayed-auto") start = SERVICE_AUTO_START;
    else if (mode == L"demand") start = SERVICE_DEMAND_START;
    else if (mode == L"disabled") start = SERVICE_DISABLED;
    else return report("ChangeServiceConfig", ERROR_INVALID_PARAMETER);
    Service handles;
    if (int failed = open(handles, name, SERVICE_CHANGE_CONFIG)) return failed;
    if (!::ChangeServiceConfigW(handles.service, SERVICE_NO_CHANGE, start, SERVICE_NO_CHANGE, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr, nullptr)) {
        return report("ChangeServiceConfig", ::GetLastError());
    }
    if (mode == L"delayed-auto" || mode == L"auto") {
        if (int failed = set_delayed(name, mode == L"delayed-auto")) return failed;
    }
    std::printf("[SC] ChangeServiceConfig SUCCESS\n");
    return 0;
}

int stop(const std::wstring& name) {
    Service handles;
    if (int failed = open(handles, name, SERVICE_STOP)) return failed;
    SERVICE_STATUS status{};
    if (!::ControlService(handles.service, SERVICE_CONTROL_STOP, &status)) {
        return report("ControlService", ::GetLastError());
    }
    return 0;
}

// The command line after the program's own name, as it was written.
std::wstring arguments_as_written() {
    const wchar_t* line = ::GetCommandLineW();
    bool quoted = false;
    for (; *line != L'\0'; ++line) {
        if (*line == L'"') quoted = !quoted;
        else if (!quoted && (*line == L' ' || *line == L'\t')) break;
    }
    return line;
}

int pass_on() {
    wchar_t folder[MAX_PATH] = {};
    UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return report("GetSystemDirectory", ::GetLastError());
    std::wstring command = L"\"" + std::wstring(folder) + L"\\sc.exe\"" + arguments_as_written();
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                          &process)) {
        return report("CreateProcess", ::GetLastError());
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

}  // namespace

int main() {
    int count = 0;
    LPWSTR* list = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::wstring> arguments;
    for (int i = 1; list != nullptr && i < count; ++i) arguments.emplace_back(list[i]);
    if (list != nullptr) ::LocalFree(list);
    append_log(arguments);

    const std::wstring verb = arguments.empty() ? std::wstring() : arguments[0];
    const bool is_config = _wcsicmp(verb.c_str(), L"config") == 0 && arguments.size() == 4 &&
                           _wcsicmp(arguments[2].c_str(), L"start=") == 0;
    const bool is_stop = _wcsicmp(verb.c_str(), L"stop") == 0 && arguments.size() == 2;
    if (!is_config && !is_stop) return pass_on();
    int code = 0;
    if (told_to_fail(verb, code)) return code;
    return is_config ? configure(arguments[1], arguments[3]) : stop(arguments[1]);
}
#else
int main() { return 0; }
#endif
