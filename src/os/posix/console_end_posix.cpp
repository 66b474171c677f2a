// SIGINT/SIGTERM handling for the work to do when the program ends early. A
// signal handler may do almost nothing, so it only writes the signal's
// number into a pipe; a thread waiting on that pipe does the work and then
// ends the process by the same signal with its default action, so that the
// parent sees the program ended by it; unless an InterruptCatcher takes the
// signal, which then only wakes the program.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <thread>

#include "os/end_of_run.h"

namespace qm::os {

namespace {

// The write end of the pipe the handler writes into; -1 until the handlers
// are installed. A signal handler can reach nothing but such a value.
constinit std::atomic<int> signal_pipe{-1};

extern "C" void note_signal(int number) {
    const int saved = errno;
    const int fd = signal_pipe.load();
    const auto byte = static_cast<unsigned char>(number);
    if (fd >= 0) {
        ssize_t written = ::write(fd, &byte, 1);
        (void)written;  // a full pipe already holds an interrupt to act on
    }
    errno = saved;
}

[[noreturn]] void end_by_signal(int number) {
    [[maybe_unused]] std::unique_lock<std::mutex> held = end_of_run::do_all_work();
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
        if (n == 1 && !end_of_run::catch_interrupt()) end_by_signal(number);
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

}  // namespace

// Without a pipe or a thread, interrupts keep the system's behaviour and the
// next task tries again.
bool end_of_run::start_watching() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    // The handler must never block on a full pipe.
    (void)::fcntl(fds[1], F_SETFL, ::fcntl(fds[1], F_GETFL) | O_NONBLOCK);
    try {
        std::thread(watch_signals, fds[0]).detach();
    } catch (const std::system_error&) {
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    signal_pipe.store(fds[1]);
    handle_unless_ignored(SIGINT);
    handle_unless_ignored(SIGTERM);
    return true;
}

}  // namespace qm::os
