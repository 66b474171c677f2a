// Runs one piece of work for each index below a count on a few threads at
// once, the calling thread among them, and returns when every piece is done.
// Under Wine every registry read and file open is a round trip to the
// server; several threads keep several round trips under way, where one
// thread waits for each answer in turn. Threads are made by the system
// directly (see os/detached_thread.h); when none can be made, the calling
// thread does all the work. The work must be safe to run on several threads;
// an exception it throws stops the pieces not yet started and is thrown
// again on the calling thread.
#pragma once

#include <cstddef>
#include <functional>

namespace qm::windows {

inline constexpr unsigned most_workers = 4;

void run_on_workers(std::size_t count, const std::function<void(std::size_t)>& work);

// Runs two pieces of work at once and returns when both are done.
void run_both(const std::function<void()>& first, const std::function<void()>& second);

}  // namespace qm::windows
