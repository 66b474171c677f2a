// What this computer's own records say its start costs, read once per scan:
// the sign-in records Windows keeps for the current user (the newest five,
// in the diagnostics folder of the Windows folder) and the boot-performance
// log through the event log API (the newest five boots and what slowed
// them). Items are matched only by an exact program file (sign-in items and
// tasks) or service name; every other item, an item started through a host
// program (a script host, rundll32, ...) whose processes the records cannot
// tell from the host's others, and every item when the records cannot be
// read, stays "not measured". Thread-safe (no shared state).
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/sign_in_records.h"
#include "model/startup_item.h"

namespace qm::windows {

inline constexpr std::uint32_t measured_starts = 5;

struct SlowStart {
    std::uint64_t total_ms = 0;  // averaged over the boots it slowed
    std::uint32_t boots = 0;
};

struct StartupRecords {
    // Sign-ins: the records read and each program's cost, by
    // normalised_program_key of its path.
    std::uint32_t sign_ins = 0;
    std::map<std::string, formats::SignInCost> sign_in_costs;
    std::string sign_in_note;  // where they were read from, or why there are none
    std::string last_sign_in;  // when the newest record's sign-in began, as written
    // Boots: whether the log could be read at all, and what it said.
    bool boot_log_read = false;
    std::uint32_t boots = 0;
    std::optional<std::uint64_t> last_boot_ms;
    std::optional<std::uint64_t> last_main_path_ms;
    std::map<std::string, SlowStart> slow_services;      // by lower-cased service name
    std::map<std::string, SlowStart> slow_applications;  // by normalised_program_key
    std::string boot_log_note;                           // what was read, or why it could not be
    // Each sign-in and boot read, newest first.
    std::vector<model::MeasuredStart> starts;
};

// A program path as records and items are compared: references expanded,
// surrounding quotes dropped, forward slashes as backslashes, a full path's
// repeated separators and "." and ".." folded as Windows folds them, and
// lower-cased beyond ASCII too. Reads no file.
[[nodiscard]] std::string normalised_program_key(std::string_view path);

// Reads both kinds of record; `records_folder` is the folder of the sign-in
// records (empty: the usual one under the Windows folder) and `sid` the
// current user's.
[[nodiscard]] StartupRecords read_startup_records(std::string_view sid, const std::string& records_folder = {});

// Gives each item that the records name its impact.
void apply_startup_records(const StartupRecords& records, std::vector<model::StartupItem>& items);

// What the records say about starting as a whole: measurable when either
// kind could be read; the last start is the newest sign-in when there are
// sign-in records (the items a user starts), else the newest boot.
[[nodiscard]] model::StartupCost startup_cost_summary(const StartupRecords& records);

}  // namespace qm::windows
