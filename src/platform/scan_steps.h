// What both computers' platforms do around the sources of a scan: time each
// source when asked to (QUILLMOOR_TIMING), and count items of one kind for
// the doctor's probes.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "model/platform.h"
#include "platform/console.h"
#include "util/time_text.h"

namespace qm {

// Runs one source of the scan; with timing on, says how long it took.
template <class Source>
void timed_step(bool timing, std::string_view label, Source&& source) {
    const auto started = std::chrono::steady_clock::now();
    source();
    if (!timing) return;
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - started);
    // A closed standard error must not stop a scan.
    (void)os::write_stderr(std::string(label) + ": " + elapsed_text(elapsed.count()) + "\n");
}

inline std::size_t count_of_kind(const std::vector<StartupItem>& items, std::string_view kind) {
    std::size_t count = 0;
    for (const StartupItem& item : items) count += item.kind == kind ? 1 : 0;
    return count;
}

}  // namespace qm
