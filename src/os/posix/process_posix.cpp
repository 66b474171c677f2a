#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "os/child_run.h"
#include "os/console.h"
#include "os/posix/descriptor.h"
#include "os/process.h"

extern char** environ;

namespace qm::os {

namespace {

using posix::Descriptor;

struct Pipe {
    Descriptor read_end;
    Descriptor write_end;
};

// Both ends close on exec, so a child started by another thread at the same
// moment never inherits them (which would keep them open past our child).
int make_pipe(Pipe& pipe, int extra_flags = 0) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | extra_flags) != 0) return errno;
    pipe.read_end.reset(fds[0]);
    pipe.write_end.reset(fds[1]);
    return 0;
}

// Reads `fd` to its end into `sink`, or until something is written to `stop_fd`.
void drain(int fd, int stop_fd, std::string& sink) {
    pollfd watched[2] = {{fd, POLLIN, 0}, {stop_fd, POLLIN, 0}};
    char buffer[65536];
    for (;;) {
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (watched[1].revents != 0) break;
        if (watched[0].revents == 0) continue;
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0) {
            sink.append(buffer, static_cast<std::size_t>(n));
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN)) {
            break;
        }
    }
}

// Whether a bare program name names an existing file in some PATH folder.
bool exists_in_search_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::string_view folders = path != nullptr ? path : "/bin:/usr/bin";
    while (true) {
        std::size_t colon = folders.find(':');
        std::string folder(folders.substr(0, colon));
        if (folder.empty()) folder = ".";
        if (::access((folder + "/" + program).c_str(), F_OK) == 0) return true;
        if (colon == std::string_view::npos) return false;
        folders.remove_prefix(colon + 1);
    }
}

std::string start_failure_reason(const std::string& program, int code) {
    // The search reports EACCES when some PATH folder cannot be entered,
    // even if the program is in none of them.
    bool searched = program.find('/') == std::string::npos;
    if (code == ENOENT || (code == EACCES && searched && !exists_in_search_path(program))) {
        return "cannot find the program";
    }
    return std::system_category().message(code);
}

bool has_zero_byte(const std::string& text) { return text.find('\0') != std::string::npos; }

// The program's environment with the extra variables added or replacing
// entries of the same name.
std::vector<std::string> child_environment(const ChildRequest& request) {
    std::vector<std::string> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) entries.emplace_back(*entry);
    for (const auto& [name, value] : request.extra_environment) {
        std::string prefix = name + "=";
        std::erase_if(entries, [&](const std::string& e) { return e.starts_with(prefix); });
        entries.push_back(prefix + value);
    }
    return entries;
}

// Checks what cannot be handed to a child at all; empty when all is well.
std::string invalid_request_reason(const ChildRequest& request) {
    if (request.program.empty()) return "cannot find the program";
    if (has_zero_byte(request.program)) return "the program name contains a zero byte";
    for (const std::string& argument : request.arguments) {
        if (has_zero_byte(argument)) return "an argument contains a zero byte";
    }
    return environment_refusal(request);
}

std::uint32_t exit_code_of(int status) {
    if (WIFEXITED(status)) return static_cast<std::uint32_t>(WEXITSTATUS(status));
    // Ended by a signal: the shell's convention, never 0.
    if (WIFSIGNALED(status)) return 128u + static_cast<std::uint32_t>(WTERMSIG(status));
    return 255u;
}

class SpawnSettings {
public:
    SpawnSettings() {
        ::posix_spawn_file_actions_init(&actions_);
        ::posix_spawnattr_init(&attributes_);
    }
    ~SpawnSettings() {
        ::posix_spawn_file_actions_destroy(&actions_);
        ::posix_spawnattr_destroy(&attributes_);
    }
    SpawnSettings(const SpawnSettings&) = delete;
    SpawnSettings& operator=(const SpawnSettings&) = delete;

    // Null device as input, the pipes as output, every signal unblocked and
    // SIGPIPE and SIGXFSZ at their defaults even when this process ignores them.
    int prepare(int out_fd, int err_fd) {
        if (int code = ::posix_spawn_file_actions_addopen(&actions_, STDIN_FILENO, "/dev/null", O_RDONLY, 0)) {
            return code;
        }
        if (int code = ::posix_spawn_file_actions_adddup2(&actions_, out_fd, STDOUT_FILENO)) return code;
        if (int code = ::posix_spawn_file_actions_adddup2(&actions_, err_fd, STDERR_FILENO)) return code;
        sigset_t none;
        sigemptyset(&none);
        sigset_t defaults;
        sigemptyset(&defaults);
        sigaddset(&defaults, SIGPIPE);
        sigaddset(&defaults, SIGXFSZ);
        ::posix_spawnattr_setsigmask(&attributes_, &none);
        ::posix_spawnattr_setsigdefault(&attributes_, &defaults);
        // A process group of its own: Ctrl+C at the terminal reaches this
        // program, which lets the child finish, and not the child.
        ::posix_spawnattr_setpgroup(&attributes_, 0);
        return ::posix_spawnattr_setflags(&attributes_,
                                          POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP);
    }
    const posix_spawn_file_actions_t* actions() const { return &actions_; }
    const posix_spawnattr_t* attributes() const { return &attributes_; }

private:
    posix_spawn_file_actions_t actions_;
    posix_spawnattr_t attributes_;
};

}  // namespace

ChildBytes run_child(const ChildRequest& request) {
    if (std::string reason = invalid_request_reason(request); !reason.empty()) return not_started(request, reason);
    auto start_failure = [&](int code) { return not_started(request, start_failure_reason(request.program, code)); };

    Pipe out_pipe;
    Pipe err_pipe;
    Pipe stop_pipe;
    if (int code = make_pipe(out_pipe)) return start_failure(code);
    if (int code = make_pipe(err_pipe)) return start_failure(code);
    if (int code = make_pipe(stop_pipe, O_NONBLOCK)) return start_failure(code);

    SpawnSettings settings;
    if (int code = settings.prepare(out_pipe.write_end.get(), err_pipe.write_end.get())) return start_failure(code);

    std::vector<std::string> environment = child_environment(request);
    std::vector<char*> envp;
    for (std::string& entry : environment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> arguments;
    arguments.push_back(request.program);
    arguments.insert(arguments.end(), request.arguments.begin(), request.arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    // The readers start first, so a failure to make a thread happens before
    // any child exists. They see the end of their pipe once the child and
    // the write ends held here are closed.
    ChildOutput output([&] {
        char wake = 1;
        [[maybe_unused]] ssize_t ignored = ::write(stop_pipe.write_end.get(), &wake, 1);
    });
    const int stop_fd = stop_pipe.read_end.get();
    const int out_fd = out_pipe.read_end.get();
    const int err_fd = err_pipe.read_end.get();
    if (!output.start([=](std::string& sink) { drain(out_fd, stop_fd, sink); },
                      [=](std::string& sink) { drain(err_fd, stop_fd, sink); })) {
        return not_started(request, "could not start a thread to read its output");
    }

    pid_t pid = 0;
    int spawn_code = ::posix_spawnp(&pid, request.program.c_str(), settings.actions(), settings.attributes(),
                                    argv.data(), envp.data());
    out_pipe.write_end.reset();
    err_pipe.write_end.reset();
    if (spawn_code != 0) {
        output.stop();
        return start_failure(spawn_code);
    }
    // An interrupt that ends this program early first waits for the child
    // (which its time limit bounds), so a tool is never cut off halfway
    // through a change. The wait leaves the child to be reaped below.
    std::atomic<bool> reaped{false};
    const EndOfRunTask wait_at_end([pid, &reaped] {
        siginfo_t info{};
        while (!reaped.load() && ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOWAIT) != 0 &&
               errno == EINTR) {
        }
    });
    return watch_started_child(
        request, output,
        [&](ChildBytes& result) {
            int status = 0;
            pid_t ended = ::waitpid(pid, &status, WNOHANG);
            if (ended == pid) {
                reaped.store(true);
                result.exit_code = exit_code_of(status);
                return ChildState::ended;
            }
            // Waiting failed: no exit code.
            return ended < 0 && errno != EINTR ? ChildState::lost : ChildState::running;
        },
        [&] {
            int status = 0;
            // The whole group, so that what the child started ends with it.
            if (::kill(-pid, SIGKILL) != 0) ::kill(pid, SIGKILL);
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
            reaped.store(true);
        });
}

}  // namespace qm::os
