// The work to do when the program ends early, and console control events.
// Windows runs a console control handler on a thread of its own, so the
// handler does the work itself and then ends the process with the exit code
// the system's own handler uses for Ctrl+C.
#include <windows.h>

#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/console.h"

namespace qm::os {

namespace {

// The one piece of process-wide state here, because a console control handler
// can reach nothing else: the pending work.
struct EndOfRun {
    std::mutex lock;  // held while work runs, so an early end waits for it to finish
    std::vector<std::pair<std::uint64_t, std::function<void()>>> tasks;
    std::uint64_t next_id = 1;
    bool watching = false;
};

// Made on first use and never destroyed, so that a control event during the
// process's own exit still finds it.
EndOfRun& state() {
    static EndOfRun* const made = new EndOfRun;
    return *made;
}

// Runs with the lock held.
void do_all_work() {
    std::vector<std::pair<std::uint64_t, std::function<void()>>> tasks = std::move(state().tasks);
    state().tasks.clear();
    for (auto& [id, work] : tasks) work();
}

BOOL WINAPI on_console_event(DWORD event) {
    switch (event) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT:
        case CTRL_CLOSE_EVENT:
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT:
            end_program_now(static_cast<int>(STATUS_CONTROL_C_EXIT));
    }
    return FALSE;  // anything else goes on to the system's handler
}

}  // namespace

EndOfRunTask::EndOfRunTask(std::function<void()> work) {
    if (!work) return;
    EndOfRun& run = state();
    std::lock_guard held(run.lock);
    // Without the handler, interrupts keep the system's behaviour and the next task tries again.
    if (!run.watching) run.watching = ::SetConsoleCtrlHandler(on_console_event, TRUE) != 0;
    id_ = run.next_id++;
    run.tasks.emplace_back(id_, std::move(work));
}

EndOfRunTask::~EndOfRunTask() {
    if (id_ == 0) return;
    EndOfRun& run = state();
    std::lock_guard held(run.lock);
    for (auto it = run.tasks.begin(); it != run.tasks.end(); ++it) {
        if (it->first != id_) continue;
        std::function<void()> work = std::move(it->second);
        run.tasks.erase(it);
        work();
        return;
    }
}

void end_program_now(int exit_code) {
    std::lock_guard held(state().lock);
    do_all_work();
    std::_Exit(exit_code);
}

}  // namespace qm::os
