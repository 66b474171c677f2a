// A stand-in child program for the runner tests, driven by its arguments:
//   exit N            ends with exit code N
//   sleep MS          sleeps MS milliseconds, then ends with 0
//   stdout TEXT       writes TEXT to standard output
//   stderr N          writes N bytes to standard error, nothing to standard output
//   env NAME          writes the variable's value; exit code 3 when it is not set
//   environ           writes every environment entry, one a line, in block order
//   args A B ...      writes each argument (as UTF-8) on its own line
//   orphan MS         starts "sleep MS" as a grandchild that keeps the output
//                     pipes open, then ends at once with 0
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>
#else
#include <unistd.h>
extern char** environ;
#endif

namespace {

#ifdef _WIN32
std::string utf8(const wchar_t* wide, int length = -1) {
    int n = ::WideCharToMultiByte(CP_UTF8, 0, wide, length, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string text(static_cast<std::size_t>(n), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, length, text.data(), n, nullptr, nullptr);
    if (length < 0) text.pop_back();  // the terminator
    return text;
}

std::wstring wide(const std::string& text) {
    int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring result(static_cast<std::size_t>(n), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), n);
    return result;
}

// The arguments as the usual command-line parser splits them, as UTF-8.
std::vector<std::string> arguments() {
    std::vector<std::string> result;
    int count = 0;
    LPWSTR* list = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (list == nullptr) return result;
    for (int i = 0; i < count; ++i) result.push_back(utf8(list[i]));
    ::LocalFree(list);
    return result;
}
#endif

void put(FILE* stream, const std::string& text) { std::fwrite(text.data(), 1, text.size(), stream); }

int orphan(const std::string& self, const std::string& milliseconds) {
#ifdef _WIN32
    (void)self;
    wchar_t path[32768];
    DWORD length = ::GetModuleFileNameW(nullptr, path, 32768);
    std::wstring line = L"\"" + std::wstring(path, length) + L"\" sleep " + wide(milliseconds);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = ::GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION started{};
    if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr, &startup,
                          &started)) {
        return 2;
    }
    ::CloseHandle(started.hThread);
    ::CloseHandle(started.hProcess);
    return 0;
#else
    pid_t pid = ::fork();
    if (pid < 0) return 2;
    if (pid == 0) {
        ::execl("/proc/self/exe", self.c_str(), "sleep", milliseconds.c_str(), static_cast<char*>(nullptr));
        ::_exit(2);
    }
    return 0;
#endif
}

}  // namespace

int main(int argc, char** argv) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    std::vector<std::string> args = arguments();
    (void)argc;
    (void)argv;
#else
    std::vector<std::string> args(argv, argv + argc);
#endif
    if (args.size() < 2) {
        put(stderr, "usage: child_tool exit|sleep|stdout|stderr|env|environ|args|orphan ...\n");
        return 64;
    }
    const std::string& command = args[1];
    const std::string operand = args.size() > 2 ? args[2] : std::string();

    if (command == "exit") return static_cast<int>(std::strtol(operand.c_str(), nullptr, 10));
    if (command == "sleep") {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::strtol(operand.c_str(), nullptr, 10)));
        return 0;
    }
    if (command == "stdout") {
        put(stdout, operand);
        return 0;
    }
    if (command == "stderr") {
        std::size_t left = std::strtoul(operand.c_str(), nullptr, 10);
        std::string block(65536, 'e');
        while (left > 0) {
            std::size_t n = left < block.size() ? left : block.size();
            std::fwrite(block.data(), 1, n, stderr);
            left -= n;
        }
        return 0;
    }
    if (command == "env") {
#ifdef _WIN32
        std::wstring name = wide(operand);
        ::SetLastError(0);
        DWORD size = ::GetEnvironmentVariableW(name.c_str(), nullptr, 0);
        if (size == 0 && ::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return 3;
        std::wstring value(size + 1, L'\0');
        DWORD n = ::GetEnvironmentVariableW(name.c_str(), value.data(), size + 1);
        put(stdout, utf8(value.data(), static_cast<int>(n)));
#else
        const char* value = std::getenv(operand.c_str());
        if (value == nullptr) return 3;
        put(stdout, value);
#endif
        return 0;
    }
    if (command == "environ") {
#ifdef _WIN32
        LPWCH block = ::GetEnvironmentStringsW();
        for (const wchar_t* entry = block; entry != nullptr && *entry != L'\0'; entry += wcslen(entry) + 1) {
            put(stdout, utf8(entry) + "\n");
        }
        if (block != nullptr) ::FreeEnvironmentStringsW(block);
#else
        for (char** entry = environ; *entry != nullptr; ++entry) put(stdout, std::string(*entry) + "\n");
#endif
        return 0;
    }
    if (command == "args") {
        for (std::size_t i = 2; i < args.size(); ++i) put(stdout, args[i] + "\n");
        return 0;
    }
    if (command == "orphan") return orphan(args[0], operand);
    put(stderr, "child_tool: unknown command " + command + "\n");
    return 64;
}
