// What the Windows platform makes of the data it reads: registry text,
// %NAME% references, the bytes of a start-up approval flag, the program
// file a command line starts, Windows file times and the Task Scheduler's
// record of when a task last ran. Plain functions of their input (the program
// finder asks the probe it is given whether a file exists), so they run, are
// tested and are fuzzed on every system. Thread-safe.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace qm::formats {

// Registry text: UTF-16LE up to the first NUL character; an odd last byte is
// ignored and invalid sequences become U+FFFD.
[[nodiscard]] std::string decode_registry_text(std::string_view bytes);

using VariableLookup = std::function<std::optional<std::string>(std::string_view)>;
// Expands %NAME% references the way REG_EXPAND_SZ values are read: a known
// variable is replaced, an unknown one stays as written, and a "%" without a
// closing one or with an empty name stays a single "%".
[[nodiscard]] std::string expand_references(std::string_view text, const VariableLookup& lookup);

enum class ApprovalFlag { on, off, none };

// The flag in the data of a REG_BINARY approval value: only the lowest bit of
// the first byte counts, 0 on and 1 off; no bytes is no flag.
[[nodiscard]] ApprovalFlag approval_flag_of_bytes(std::string_view bytes);

// The twelve bytes written: 02 and eleven zeros to switch on; 03, three zeros
// and the time as a Windows file time at whole seconds to switch off.
[[nodiscard]] std::string approval_bytes(bool on, std::int64_t unix_seconds);

// Seconds since 1970 (UTC) of a Windows file time (100-nanosecond units since
// 1601); 0 for no time (0) and for a time before 1970.
[[nodiscard]] std::int64_t unix_seconds_of_file_time(std::uint64_t file_time);

// When a scheduled task last started, from the DynamicInfo value the Task
// Scheduler keeps for each task in its registry cache: a 4-byte version,
// the file time the task was registered, the file time it last started,
// two 4-byte fields and, on later Windows, one more file time (28 or 36
// bytes, little-endian). Any other size, a task that never ran (a zero
// time) or a time before 1970 gives 0.
[[nodiscard]] std::int64_t task_last_run(std::string_view dynamic_info);

struct CommandProgram {
    std::string program;
    // For an unquoted command whose program may end past a space: why that
    // is unsafe, naming the file Windows tries first; empty otherwise.
    std::string unquoted_warning;
};

// Whether a path names an existing regular file.
using FileProbe = std::function<bool(const std::string&)>;

// The program file of a command line, found as Windows finds it when it
// starts the command: the quoted first part, or else the shortest run of
// leading space-separated words that names an existing file, with ".exe"
// added to a run whose last part has no extension (tried before the run as
// written), or else the first word. Only the first 32 words are tried, so a
// long command line costs at most 32 runs of probes. Environment references
// are not expanded.
[[nodiscard]] CommandProgram command_program(std::string_view command, const FileProbe& is_file);

}  // namespace qm::formats
