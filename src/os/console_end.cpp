// The work to do when the program ends: its list, kept once for both systems.
// The interrupt handling that ends the program early is each system's own.
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "os/console.h"
#include "os/end_of_run.h"

namespace qm::os {

namespace {

// The one piece of process-wide state here, because an interrupt handler can
// reach nothing else: the pending work.
struct EndOfRun {
    std::mutex lock;  // held while work runs, so an early end waits for it to finish
    std::vector<std::pair<std::uint64_t, std::function<void()>>> tasks;
    std::uint64_t next_id = 1;
    bool watching = false;
    // The InterruptCatcher's part, under a lock of its own so that taking an
    // interrupt never waits for work at the end of the run.
    std::mutex catcher_lock;
    std::shared_ptr<WakeSignal> catcher;  // guarded by catcher_lock
    bool caught = false;                  // guarded by catcher_lock
};

// Made on first use and never destroyed, so that an interrupt during the
// process's own exit still finds it.
EndOfRun& state() {
    static EndOfRun* const made = new EndOfRun;
    return *made;
}

}  // namespace

std::unique_lock<std::mutex> end_of_run::do_all_work() {
    EndOfRun& run = state();
    std::unique_lock held(run.lock);
    std::vector<std::pair<std::uint64_t, std::function<void()>>> tasks = std::move(run.tasks);
    run.tasks.clear();
    for (auto& [id, work] : tasks) work();
    return held;
}

EndOfRunTask::EndOfRunTask(std::function<void()> work) {
    if (!work) return;
    EndOfRun& run = state();
    std::lock_guard held(run.lock);
    if (!run.watching) run.watching = end_of_run::start_watching();
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

bool end_of_run::catch_interrupt() {
    EndOfRun& run = state();
    std::lock_guard held(run.catcher_lock);
    if (!run.catcher || run.caught) return false;
    run.caught = true;
    run.catcher->raise();
    return true;
}

InterruptCatcher::InterruptCatcher(std::shared_ptr<WakeSignal> wake) {
    EndOfRun& run = state();
    {
        std::lock_guard held(run.lock);
        if (!run.watching) run.watching = end_of_run::start_watching();
        if (!run.watching) return;
    }
    std::lock_guard held(run.catcher_lock);
    if (run.catcher || !wake) return;
    run.catcher = std::move(wake);
    run.caught = false;
    catching_ = true;
}

InterruptCatcher::~InterruptCatcher() {
    if (!catching_) return;
    EndOfRun& run = state();
    std::lock_guard held(run.catcher_lock);
    run.catcher.reset();
    run.caught = false;
}

bool InterruptCatcher::caught() const {
    if (!catching_) return false;
    EndOfRun& run = state();
    std::lock_guard held(run.catcher_lock);
    return run.caught;
}

void end_program_now(int exit_code) {
    [[maybe_unused]] std::unique_lock<std::mutex> held = end_of_run::do_all_work();
    std::_Exit(exit_code);
}

}  // namespace qm::os
