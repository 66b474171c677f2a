// The work to do when the program ends early, and SIGINT/SIGTERM handling.
// A signal handler may do almost nothing, so it only writes the signal's
// number into a pipe; a thread waiting on that pipe does the work and then
// ends the process by the same signal with its default action, so that the
// parent sees the program ended by it.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/console.h"

namespace qm::os {

namespace {

// The one piece of process-wide state here, because a signal handler can reach
// nothing else: the pending work and the pipe the handler writes into.
struct EndOfRun {
    std::mutex lock;  // held while work runs, so an early end waits for it to finish
    std::vector<std::pair<std::uint64_t, std::function<void()>>> tasks;
    std::uint64_t next_id = 1;
    bool watching = false;
    std::atomic<int> signal_pipe{-1};  // write end; -1 until the handlers are installed
};
constinit EndOfRun end_of_run;

// Runs with the lock held.
void do_all_work() {
    std::vector<std::pair<std::uint64_t, std::function<void()>>> tasks = std::move(end_of_run.tasks);
    end_of_run.tasks.clear();
    for (auto& [id, work] : tasks) work();
}

extern "C" void note_signal(int number) {
    const int saved = errno;
    const int fd = end_of_run.signal_pipe.load();
    const auto byte = static_cast<unsigned char>(number);
    if (fd >= 0) {
        ssize_t written = ::write(fd, &byte, 1);
        (void)written;  // a full pipe already holds an interrupt to act on
    }
    errno = saved;
}

[[noreturn]] void end_by_signal(int number) {
    std::lock_guard held(end_of_run.lock);
    do_all_work();
    ::signal(number, SIG_DFL);
    ::raise(number);
    std::_Exit(128 + number);  // only if the signal did not end the process
}

void watch_signals(int read_end) {
    sigset_t ours;
    sigemptyset(&ours);
    sigaddset(&ours, SIGINT);
    sigaddset(&ours, SIGTERM);
    pthread_sigmask(SIG_UNBLOCK, &ours, nullptr);
    unsigned char number = 0;
    while (true) {
        ssize_t n = ::read(read_end, &number, 1);
        if (n == 1) end_by_signal(number);
        if (n < 0 && errno == EINTR) continue;
        return;
    }
}

// A signal the program was started with ignored (as by nohup) stays ignored.
void handle_unless_ignored(int number) {
    struct sigaction old {};
    if (::sigaction(number, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) return;
    struct sigaction action {};
    action.sa_handler = note_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    (void)::sigaction(number, &action, nullptr);
}

// Runs with the lock held. Without a pipe or a thread, interrupts keep the
// system's behaviour and the next task tries again.
void start_watching() {
    if (end_of_run.watching) return;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return;
    // The handler must never block on a full pipe.
    (void)::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    try {
        std::thread(watch_signals, fds[0]).detach();
    } catch (const std::system_error&) {
        ::close(fds[0]);
        ::close(fds[1]);
        return;
    }
    end_of_run.signal_pipe.store(fds[1]);
    handle_unless_ignored(SIGINT);
    handle_unless_ignored(SIGTERM);
    end_of_run.watching = true;
}

}  // namespace

EndOfRunTask::EndOfRunTask(std::function<void()> work) {
    if (!work) return;
    std::lock_guard held(end_of_run.lock);
    start_watching();
    id_ = end_of_run.next_id++;
    end_of_run.tasks.emplace_back(id_, std::move(work));
}

EndOfRunTask::~EndOfRunTask() {
    if (id_ == 0) return;
    std::lock_guard held(end_of_run.lock);
    for (auto it = end_of_run.tasks.begin(); it != end_of_run.tasks.end(); ++it) {
        if (it->first != id_) continue;
        std::function<void()> work = std::move(it->second);
        end_of_run.tasks.erase(it);
        work();
        return;
    }
}

void end_program_now(int exit_code) {
    std::lock_guard held(end_of_run.lock);
    do_all_work();
    std::_Exit(exit_code);
}

}  // namespace qm::os
