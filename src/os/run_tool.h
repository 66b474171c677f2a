// Runs a system tool as a child program and returns what it printed as text
// (decoded with the byte-order-mark rules). Never fails: a tool that could not
// be started has no exit code and says why in `err`. Callers treat a run as
// successful only when the exit code is present and 0. Thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace qm::os {

struct RunOutput {
    std::string out;
    std::string err;
    std::optional<std::uint32_t> exit_code;  // absent: not started, wait failed, or stopped at the limit
    bool timed_out = false;

    [[nodiscard]] bool succeeded() const { return exit_code && *exit_code == 0; }
};

struct ToolRun {
    std::string program;
    std::vector<std::string> arguments;
    std::vector<std::pair<std::string, std::string>> extra_environment;
    unsigned time_limit_seconds = 10;
    // Standard output exactly as printed, for a tool whose output is written
    // back (a crontab), instead of decoded to UTF-8.
    bool raw_output = false;
};

[[nodiscard]] RunOutput run_tool(const ToolRun& run);

// What a tool printed, as messages quote it: the trimmed standard output and
// the trimmed standard error (each only when not empty) joined by a line
// break, shortened to 200 characters (199 and "…").
[[nodiscard]] std::string tool_output_text(const RunOutput& output);

// The runner as a value, so that callers can be tested with a stand-in.
using ToolRunner = std::function<RunOutput(const ToolRun&)>;

}  // namespace qm::os
