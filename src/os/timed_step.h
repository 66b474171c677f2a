// Times one step of a longer piece of work when asked to: the platforms'
// scans run each source through it, and with QUILLMOOR_TIMING set each
// source's time goes to standard error.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "os/console.h"
#include "util/time_text.h"

namespace qm::os {

// Runs `step`; with timing on, says how long it took.
template <class Step>
void timed_step(bool timing, std::string_view label, Step&& step) {
    const auto started = std::chrono::steady_clock::now();
    step();
    if (!timing) return;
    const auto elapsed =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - started);
    // A closed standard error must not stop a scan.
    (void)write_stderr(std::string(label) + ": " + elapsed_text(elapsed.count()) + "\n");
}

}  // namespace qm::os
