// Work that runs on a thread of its own that nobody waits for: the window
// server's connections and timers, clean-up after a while. The thread owns
// `work` and destroys it when it is done. On Windows the thread is made by
// the system directly rather than through std::thread: the threads library
// of the cross compiler was seen to hand a thread whose std::thread was
// detached at once a start record that had been freed, so the thread ran or
// destroyed memory that was no longer its own.
#pragma once

#include <functional>

#include "util/result.h"

namespace qm::os {

// Fails, with nothing started and `work` destroyed, when the system has no
// thread to spare.
[[nodiscard]] Result<void> start_detached_thread(std::function<void()> work);

}  // namespace qm::os
