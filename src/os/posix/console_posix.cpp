#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <system_error>

#include "os/console.h"

namespace qm::os {

namespace {

Result<void> write_whole(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EBADF) return {};  // the stream was closed before the program started
            return fail(std::system_category().message(errno));
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return {};
}

}  // namespace

std::vector<std::string> program_arguments(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) arguments.emplace_back(argv[i]);
    return arguments;
}

Result<void> write_stdout(std::string_view text) { return write_whole(STDOUT_FILENO, text); }
Result<void> write_stderr(std::string_view text) { return write_whole(STDERR_FILENO, text); }

bool stdout_is_terminal() { return ::isatty(STDOUT_FILENO) == 1; }
bool stderr_is_terminal() { return ::isatty(STDERR_FILENO) == 1; }

// A terminal on these systems is not owned by the program, so there is never
// a window to close.
bool is_sole_console_process() { return false; }
void detach_console() {}

void ignore_file_size_signal() { (void)::signal(SIGXFSZ, SIG_IGN); }

std::string own_program_path() {
    char buffer[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n <= 0) return {};
    return std::string(buffer, static_cast<std::size_t>(n));
}

}  // namespace qm::os
