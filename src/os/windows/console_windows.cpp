#include <windows.h>
#include <shellapi.h>

#include "os/console.h"
#include "os/windows/system_error.h"
#include "os/windows/wide.h"

namespace qm::os {

namespace {

// A console shows UTF-16 through WriteConsoleW; anything else (a pipe, a
// file) receives the UTF-8 bytes unchanged.
// The system's reason for the last failed write, or for a write that moved nothing.
Result<void> write_failed() {
    const DWORD code = ::GetLastError();
    return fail(windows::error_text(code == ERROR_SUCCESS ? ERROR_WRITE_FAULT : code));
}

Result<void> write_handle(DWORD which, std::string_view text) {
    HANDLE handle = ::GetStdHandle(which);
    // A program started without a console or redirection has nowhere to write.
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE || text.empty()) return {};
    DWORD mode = 0;
    if (::GetConsoleMode(handle, &mode)) {
        std::wstring wide = windows::to_wide(text);
        const wchar_t* data = wide.data();
        std::size_t left = wide.size();
        while (left > 0) {
            DWORD chunk = static_cast<DWORD>(left > 16384 ? 16384 : left);
            DWORD written = 0;
            if (!::WriteConsoleW(handle, data, chunk, &written, nullptr) || written == 0) return write_failed();
            data += written;
            left -= written;
        }
        return {};
    }
    while (!text.empty()) {
        DWORD chunk = static_cast<DWORD>(text.size() > (1u << 20) ? (1u << 20) : text.size());
        DWORD written = 0;
        if (!::WriteFile(handle, text.data(), chunk, &written, nullptr) || written == 0) return write_failed();
        text.remove_prefix(written);
    }
    return {};
}

bool is_console(DWORD which) {
    HANDLE handle = ::GetStdHandle(which);
    DWORD mode = 0;
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

}  // namespace

std::vector<std::string> program_arguments(int, char**) {
    std::vector<std::string> arguments;
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(windows::to_utf8(wide[i]));
    ::LocalFree(wide);
    return arguments;
}

Result<void> write_stdout(std::string_view text) { return write_handle(STD_OUTPUT_HANDLE, text); }
Result<void> write_stderr(std::string_view text) { return write_handle(STD_ERROR_HANDLE, text); }

bool stdout_is_terminal() { return is_console(STD_OUTPUT_HANDLE); }
bool stderr_is_terminal() { return is_console(STD_ERROR_HANDLE); }

bool is_sole_console_process() {
    DWORD processes[2] = {};
    DWORD count = ::GetConsoleProcessList(processes, 2);
    return count == 1;
}

void detach_console() { ::FreeConsole(); }

void ignore_file_size_signal() {}

std::string own_program_path() {
    std::wstring buffer(32768, L'\0');
    DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0 || n >= buffer.size()) return {};
    buffer.resize(n);
    return windows::to_utf8(buffer);
}

}  // namespace qm::os
