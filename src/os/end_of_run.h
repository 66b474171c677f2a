// The work pending for the end of the run, shared by EndOfRunTask and
// end_program_now (console_end.cpp) with each system's interrupt handling
// (posix/ and windows/console_end_*.cpp). Internal to src/platform.
#pragma once

#include <mutex>

namespace qm::os::end_of_run {

// Installs the system's interrupt handling, which ends the program through
// do_all_work. Called with the lock held when work is added, until it
// succeeds once; false leaves interrupts with the system's behaviour.
// Defined per system.
[[nodiscard]] bool start_watching();

// Does every pending task's work and returns with the lock still held, so
// the caller can end the process before another thread adds or runs work.
// Waits for work that another thread is running.
[[nodiscard]] std::unique_lock<std::mutex> do_all_work();

// Called by the system's interrupt handling for an interrupt that an
// InterruptCatcher may take: true when one took it (its wake signal is
// raised), false when the program should end as usual.
[[nodiscard]] bool catch_interrupt();

}  // namespace qm::os::end_of_run
