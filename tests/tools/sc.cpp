// A stand-in for sc.exe, built beside the test program (where a build made
// with QUILLMOOR_TOOL_STANDINS looks for it first), for the two verbs
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

#include "standin_support.h"

namespace {

using standin::utf8;
using standin::variable;
using standin::wide;

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
    if (!::ChangeServiceConfigW(handles.service, SERVICE_NO_CHANGE, start, SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr, nullptr)) {
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

int pass_on() {
    const int code = standin::pass_on_to_system_tool(L"sc.exe");
    return code == -1 ? report("CreateProcess", ::GetLastError()) : code;
}

}  // namespace

int main() {
    const std::vector<std::wstring> arguments = standin::arguments();
    standin::log_call(arguments);

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
