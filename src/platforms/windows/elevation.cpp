#include "platforms/windows/elevation.h"

#include <windows.h>
#include <objbase.h>
#include <shellapi.h>

#include <chrono>
#include <thread>

#include "os/environment.h"
#include "os/detached_thread.h"
#include "os/files.h"
#include "os/random_hex.h"
#include "os/windows/child_command.h"
#include "os/windows/handle.h"
#include "platforms/windows/powershell.h"
#include "os/windows/wide.h"
#include "util/text.h"

namespace qm::windows {
namespace {

constexpr std::string_view declined =
    "Windows did not start the administrator copy (the prompt was declined or is unavailable).";

// The exe path and arguments reach the script only as QM_EXE and QM_ARGS.
// Start-Process refuses an empty -ArgumentList, so a start without arguments
// leaves the switch out rather than always failing.
constexpr std::string_view start_with_arguments =
    "try { Start-Process -FilePath $env:QM_EXE -ArgumentList $env:QM_ARGS -Verb RunAs -ErrorAction Stop; "
    "'started' } catch { 'refused' }";
constexpr std::string_view start_without_arguments =
    "try { Start-Process -FilePath $env:QM_EXE -Verb RunAs -ErrorAction Stop; 'started' } catch { 'refused' }";

// How long the .url file is kept for explorer.exe and the browser to read it.
constexpr auto link_file_lifetime = std::chrono::seconds(15);

Result<std::string> own_executable_path() {
    std::wstring path(MAX_PATH, L'\0');
    while (true) {
        const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0) return fail(os::windows::error_text(::GetLastError()) + ".");
        if (length < path.size()) {
            path.resize(length);
            return os::windows::to_utf8(path);
        }
        // Cut short: the path is longer than the buffer.
        if (path.size() >= 32768) return fail(os::windows::error_text(ERROR_INSUFFICIENT_BUFFER) + ".");
        path.resize(path.size() * 2);
    }
}

// A program in the system folder by its full path, so that a file of the same
// name beside this program (which may run with administrator rights) is never
// the one started.
std::string system_program(std::string_view name) {
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string(name);
    return os::join_path(os::windows::to_utf8(std::wstring_view(folder, length)), name);
}

std::string windows_program(std::string_view name) {
    wchar_t folder[MAX_PATH];
    const UINT length = ::GetWindowsDirectoryW(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return std::string(name);
    return os::join_path(os::windows::to_utf8(std::wstring_view(folder, length)), name);
}

// Starts a program with one argument and does not wait for it: explorer.exe
// may stay open as long as its window does.
bool start_detached(const std::string& program, const std::string& argument) {
    std::wstring line = os::windows::command_line(os::windows::to_wide(program), {os::windows::to_wide(argument)});
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(os::windows::to_wide(program).c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          nullptr, &startup, &started)) {
        return false;
    }
    os::windows::Handle thread(started.hThread);
    os::windows::Handle process(started.hProcess);
    return true;
}

// Through the shell with the process's own rights; when no program is
// registered for the link, through the URL handler of rundll32.exe.
void open_with_shell(const std::string& link, const os::ToolRunner& runner) {
    // Some shell handlers need COM on the calling thread; a thread that has
    // it in another mode already keeps it as it is.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const auto code = reinterpret_cast<INT_PTR>(
        ::ShellExecuteW(nullptr, L"open", os::windows::to_wide(link).c_str(), nullptr, nullptr, SW_SHOWNORMAL));
    if (SUCCEEDED(com)) ::CoUninitialize();
    if (code > 32) return;
    (void)runner(os::ToolRun{system_program("rundll32.exe"), {"url.dll,FileProtocolHandler", link}, {}, 10});
}

}  // namespace

std::string join_windows_arguments(const std::vector<std::string>& arguments) {
    // The command line of an unnamed program is a space and then each quoted
    // argument; without the program and that space it is just the arguments.
    std::vector<std::wstring> wide;
    wide.reserve(arguments.size());
    for (const std::string& argument : arguments) wide.push_back(os::windows::to_wide(argument));
    const std::wstring line = os::windows::command_line(L"", wide);
    return os::windows::to_utf8(line.empty() ? line : std::wstring_view(line).substr(1));
}

Result<void> restart_elevated(const std::vector<std::string>& arguments, const os::ToolRunner& runner) {
    const std::string exe = QM_TRY(own_executable_path());
    PowerShellRun run;
    run.script = std::string(arguments.empty() ? start_without_arguments : start_with_arguments);
    run.environment = {{"QM_EXE", exe}, {"QM_ARGS", join_windows_arguments(arguments)}};
    run.time_limit_seconds = 120;
    const os::RunOutput output = run_powershell(run, runner);
    if (trim(output.out) != "started") return fail(std::string(declined));
    return {};
}

Result<std::string> write_browser_link_file(const std::string& folder, const std::string& link) {
    // A line break would let the link add lines of its own to the file.
    if (has_control_character(link)) return fail("The link holds a control character.");
    const std::optional<std::string> token = os::random_hex(8);
    if (!token) return fail("Windows gave no random name for the link file.");
    const std::string path = os::join_path(folder, "quillmoor-open-" + *token + ".url");
    QM_TRY_VOID(os::write_file_replace(path, "[InternetShortcut]\r\nURL=" + link + "\r\n"));
    return path;
}

void open_in_browser(const std::string& link, bool admin, const os::ToolRunner& runner) {
    // An empty link would open a folder window instead of a page.
    if (link.empty()) return;
    if (admin) {
        // explorer.exe runs with the ordinary rights of the signed-in user and
        // passes them on to the browser it opens for the .url file.
        if (Result<std::string> file = write_browser_link_file(os::temp_folder(), link)) {
            if (start_detached(windows_program("explorer.exe"), *file)) {
                // Without a thread to spare the file stays in the temporary
                // folder, which is better than taking it from explorer.exe.
                (void)os::start_detached_thread([path = *file] {
                    std::this_thread::sleep_for(link_file_lifetime);
                    (void)os::remove_file(path);
                });
                return;
            }
            (void)os::remove_file(*file);
        }
    }
    open_with_shell(link, runner);
}

}  // namespace qm::windows
