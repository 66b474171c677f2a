// Runs a child program to its end with a time limit and collects its output.
//
// The child gets the null device as standard input, two pipes for standard
// output and error (drained by two threads, so a child that fills one cannot
// block on the other) and, on Windows, no console window. Output is collected
// until both pipes close, but never past the time limit (or one second after
// the child's end, when that is later), so a program the child leaves running
// with its pipes cannot hold the caller. The runner never fails: a child that
// cannot be started is described in `err`. Several runs may happen at once on
// different threads; they share nothing, and no child inherits another's pipes.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qm::os {

struct ChildRequest {
    std::string program;                 // bare file name (searched) or full path
    std::vector<std::string> arguments;  // each passed as one argument; never pre-quoted
    std::vector<std::pair<std::string, std::string>> extra_environment;  // added or replacing
    std::chrono::milliseconds time_limit{10000};
};

struct ChildBytes {
    std::string out;  // raw bytes of standard output
    std::string err;  // raw bytes of standard error; the start failure in words when it did not start
    // Absent: not started, wait failed, or stopped at the limit. A child ended
    // by a signal (POSIX) gives 128 + the signal number, never 0.
    std::optional<std::uint32_t> exit_code;
    bool timed_out = false;
    bool started = false;
};

// Starts the child, polls every 8 ms, terminates it (exit code 1) at the limit.
// A start failure gives err "{program}: {reason}" at once; for a program that
// cannot be found the reason contains "cannot find" or "program not found".
[[nodiscard]] ChildBytes run_child(const ChildRequest& request);

}  // namespace qm::os
