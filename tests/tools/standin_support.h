// What the stand-in programs in this folder share: text conversion, their
// arguments and environment, whole-file reads and writes, and passing a call
// on to the system's own tool. Each stand-in is a program of its own, so
// this header is all they share.
#pragma once

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace standin {

inline std::string utf8(std::wstring_view wide) {
    if (wide.empty()) return {};
    int n = ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n, nullptr, nullptr);
    return text;
}

inline std::wstring wide(std::string_view text) {
    if (text.empty()) return {};
    int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), n);
    return result;
}

// An environment variable; `present` tells an empty value from a missing one.
inline std::wstring variable(const wchar_t* name, bool& present) {
    DWORD size = ::GetEnvironmentVariableW(name, nullptr, 0);
    present = size > 0 || ::GetLastError() != ERROR_ENVVAR_NOT_FOUND;
    if (size == 0) return {};
    std::wstring value(size, L'\0');
    value.resize(::GetEnvironmentVariableW(name, value.data(), size));
    return value;
}

inline std::wstring variable(const wchar_t* name) {
    bool present = false;
    return variable(name, present);
}

// The arguments after the program's own name, split as Windows splits them.
inline std::vector<std::wstring> arguments() {
    int count = 0;
    LPWSTR* list = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    std::vector<std::wstring> split;
    for (int i = 1; list != nullptr && i < count; ++i) split.emplace_back(list[i]);
    if (list != nullptr) ::LocalFree(list);
    return split;
}

inline bool read_file(const std::wstring& path, std::string& bytes) {
    FILE* file = _wfopen(path.c_str(), L"rb");
    if (file == nullptr) return false;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, n);
    std::fclose(file);
    return true;
}

// `mode` is L"wb" to replace the file or L"ab" to append to it.
inline bool write_file(const std::wstring& path, std::string_view bytes, const wchar_t* mode) {
    FILE* file = _wfopen(path.c_str(), mode);
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

// One line per call, the arguments joined by single spaces, appended to the
// file QUILLMOOR_STANDIN_LOG names (nothing when it is not set).
inline void log_call(const std::vector<std::wstring>& arguments) {
    const std::wstring log = variable(L"QUILLMOOR_STANDIN_LOG");
    if (log.empty()) return;
    std::string line;
    for (const std::wstring& argument : arguments) line += (line.empty() ? "" : " ") + utf8(argument);
    write_file(log, line + "\n", L"ab");
}

inline std::wstring system_folder() {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH);
    return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(folder, length);
}

// The command line after the program's own name, as it was written.
inline std::wstring arguments_as_written() {
    const wchar_t* line = ::GetCommandLineW();
    bool quoted = false;
    for (; *line != L'\0'; ++line) {
        if (*line == L'"') quoted = !quoted;
        else if (!quoted && (*line == L' ' || *line == L'\t')) break;
    }
    return line;
}

// Runs the system's own `tool` with this program's arguments as written and
// ends with its exit code; -1 when it could not be started.
inline int pass_on_to_system_tool(const wchar_t* tool) {
    const std::wstring folder = system_folder();
    if (folder.empty()) return -1;
    std::wstring command = L"\"" + folder + L"\\" + tool + L"\"" + arguments_as_written();
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
        return -1;
    }
    ::WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    ::GetExitCodeProcess(process.hProcess, &code);
    ::CloseHandle(process.hThread);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(code);
}

}  // namespace standin
#endif
