#include "support/background_program.h"

#include <thread>

#ifdef _WIN32
#include <windows.h>

#include "os/windows/child_command.h"
#include "os/windows/wide.h"
#else
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#endif

namespace qm::test {

using std::chrono::milliseconds;

namespace {

std::chrono::steady_clock::time_point after(milliseconds timeout) { return std::chrono::steady_clock::now() + timeout; }

milliseconds left_until(std::chrono::steady_clock::time_point deadline) {
    return std::max(milliseconds(0),
                    std::chrono::ceil<milliseconds>(deadline - std::chrono::steady_clock::now()));
}

}  // namespace

bool BackgroundProgram::started() const { return pid_ != 0; }

std::optional<std::string> BackgroundProgram::next_line_with(std::string_view text, milliseconds timeout) {
    const auto deadline = after(timeout);
    while (true) {
        for (std::size_t end; (end = out_.find('\n', taken_)) != std::string::npos;) {
            std::string line = out_.substr(taken_, end - taken_);
            taken_ = end + 1;
            if (line.find(text) != std::string::npos) return line;
        }
        const milliseconds left = left_until(deadline);
        if (left.count() == 0 || !read_some(left)) return std::nullopt;
    }
}

#ifdef _WIN32

BackgroundProgram::BackgroundProgram(const std::vector<std::string>& arguments,
                                     const std::vector<std::pair<std::string, std::string>>& environment) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE read_end = nullptr;
    HANDLE write_end = nullptr;
    if (!::CreatePipe(&read_end, &write_end, &inherit, 0)) return;
    ::SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);
    std::vector<std::wstring> wide_arguments;
    for (const std::string& argument : arguments) wide_arguments.push_back(os::windows::to_wide(argument));
    std::wstring line = os::windows::command_line(os::windows::to_wide(QM_PROGRAM_PATH), wide_arguments);
    std::vector<std::pair<std::wstring, std::wstring>> extra;
    for (const auto& [name, value] : environment) extra.emplace_back(os::windows::to_wide(name), os::windows::to_wide(value));
    std::wstring block = os::windows::environment_block(os::windows::own_environment_entries(), extra);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = write_end;
    startup.hStdError = ::GetStdHandle(STD_ERROR_HANDLE);
    PROCESS_INFORMATION info{};
    // A process group of its own, so that a Ctrl+Break can be sent to it alone.
    const BOOL made = ::CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE,
                                       CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT, block.data(), nullptr,
                                       &startup, &info);
    ::CloseHandle(write_end);
    if (!made) {
        ::CloseHandle(read_end);
        return;
    }
    ::CloseHandle(info.hThread);
    process_ = info.hProcess;
    out_read_ = read_end;
    pid_ = static_cast<long>(info.dwProcessId);
}

BackgroundProgram::~BackgroundProgram() {
    if (process_ != nullptr) {
        if (!wait_for_exit(milliseconds(0))) {
            ::TerminateProcess(process_, 1);
            ::WaitForSingleObject(process_, 5000);
        }
        ::CloseHandle(process_);
    }
    if (out_read_ != nullptr) ::CloseHandle(out_read_);
}

bool BackgroundProgram::read_some(milliseconds timeout) {
    if (out_read_ == nullptr) return false;
    const auto deadline = after(timeout);
    while (true) {
        DWORD waiting = 0;
        if (!::PeekNamedPipe(out_read_, nullptr, 0, nullptr, &waiting, nullptr)) return false;  // closed
        if (waiting > 0) {
            std::string buffer(waiting, '\0');
            DWORD got = 0;
            if (!::ReadFile(out_read_, buffer.data(), waiting, &got, nullptr)) return false;
            buffer.resize(got);
            // Lines end as the program writes them to a pipe; "\r\n" counts as "\n".
            for (char c : buffer) {
                if (c != '\r') out_.push_back(c);
            }
            return true;
        }
        if (left_until(deadline).count() == 0) return true;
        std::this_thread::sleep_for(milliseconds(10));
    }
}

bool BackgroundProgram::interrupt() {
    return pid_ != 0 && ::GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, static_cast<DWORD>(pid_)) != 0;
}

bool BackgroundProgram::kill() { return process_ != nullptr && ::TerminateProcess(process_, 1) != 0; }

std::optional<int> BackgroundProgram::wait_for_exit(milliseconds timeout) {
    if (exit_code_) return exit_code_;
    if (process_ == nullptr) return std::nullopt;
    if (::WaitForSingleObject(process_, static_cast<DWORD>(timeout.count())) != WAIT_OBJECT_0) return std::nullopt;
    DWORD code = 0;
    if (!::GetExitCodeProcess(process_, &code)) return std::nullopt;
    exit_code_ = static_cast<int>(code);
    // What it wrote before it ended is still in the pipe.
    for (DWORD waiting = 0; ::PeekNamedPipe(out_read_, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0;) {
        if (!read_some(milliseconds(0))) break;
    }
    return exit_code_;
}

#else

BackgroundProgram::BackgroundProgram(const std::vector<std::string>& arguments,
                                     const std::vector<std::pair<std::string, std::string>>& environment) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return;
    }
    if (child == 0) {
        ::dup2(fds[1], STDOUT_FILENO);
        const int null_input = ::open("/dev/null", O_RDONLY);
        if (null_input >= 0) ::dup2(null_input, STDIN_FILENO);
        for (const auto& [name, value] : environment) ::setenv(name.c_str(), value.c_str(), 1);
        std::vector<char*> argv{const_cast<char*>(QM_PROGRAM_PATH)};
        for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
        argv.push_back(nullptr);
        ::execv(QM_PROGRAM_PATH, argv.data());
        ::_exit(127);
    }
    ::close(fds[1]);
    out_read_ = fds[0];
    pid_ = child;
}

BackgroundProgram::~BackgroundProgram() {
    if (pid_ != 0 && !wait_for_exit(milliseconds(0))) {
        (void)kill();
        (void)wait_for_exit(milliseconds(5000));
    }
    if (out_read_ >= 0) ::close(out_read_);
}

bool BackgroundProgram::read_some(milliseconds timeout) {
    if (out_read_ < 0 || ended_) return false;
    pollfd one{out_read_, POLLIN, 0};
    const int ready = ::poll(&one, 1, static_cast<int>(timeout.count()));
    if (ready == 0 && exit_code_) return false;  // ended, and nothing more came
    if (ready <= 0) return true;
    char buffer[4096];
    const ssize_t got = ::read(out_read_, buffer, sizeof buffer);
    if (got <= 0) {
        ended_ = true;
        return false;
    }
    out_.append(buffer, static_cast<std::size_t>(got));
    return true;
}

bool BackgroundProgram::interrupt() { return pid_ != 0 && ::kill(static_cast<pid_t>(pid_), SIGINT) == 0; }

bool BackgroundProgram::kill() { return pid_ != 0 && ::kill(static_cast<pid_t>(pid_), SIGKILL) == 0; }

std::optional<int> BackgroundProgram::wait_for_exit(milliseconds timeout) {
    if (exit_code_) return exit_code_;
    if (pid_ == 0) return std::nullopt;
    const auto deadline = after(timeout);
    while (true) {
        int status = 0;
        const pid_t done = ::waitpid(static_cast<pid_t>(pid_), &status, WNOHANG);
        if (done == static_cast<pid_t>(pid_)) {
            exit_code_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            while (read_some(milliseconds(100))) {
            }
            return exit_code_;
        }
        if (done < 0 || left_until(deadline).count() == 0) return std::nullopt;
        std::this_thread::sleep_for(milliseconds(10));
    }
}

#endif

}  // namespace qm::test
