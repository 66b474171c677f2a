// Following what changes on the computer while a watch runs: the first scan
// sets what was known already (changes found before the watch began are no
// news), and each later scan gives the changes not given before. A change
// is one item's change word with the time a scan first found it, so an item
// that comes back, is switched off and comes back again is given twice.
// Each change given is written to the journal as an observation record
// (action "observed", ok, the item's id and name, the change's word as its
// detail, spec "found" and "kind"), unless the journal holds that very
// observation already (another watch saw it first). One thread uses a
// follower at a time.
#pragma once

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/engine_context.h"
#include "engine/journal.h"
#include "engine/scan_changes.h"
#include "json/json.h"
#include "model/platform.h"
#include "model/data_folder.h"
#include "util/result.h"

namespace qm::engine {

// Notifications that come within `quiet_time` of each other are one change of
// the computer, scanned once it has been quiet that long; a place that never
// stops changing puts the scan off for `longest_merge` at most.
inline constexpr std::chrono::milliseconds quiet_time{1000};
inline constexpr std::chrono::milliseconds longest_merge{5000};

// Waits up to `timeout` (none: no limit) for the watch to see a change, then
// until the computer is quiet: changed, woken (at once, also while merging)
// or timed_out.
[[nodiscard]] model::WatchWake wait_until_settled(model::ChangeWatch& watch,
                                                  std::optional<std::chrono::milliseconds> timeout);

struct SeenChange {
    FoundChange change;
    std::string kind_label;  // of the item, or as the scan before saw an item that is gone
};

// {time (now), id, name, change, kind_label, found}
[[nodiscard]] json::JsonValue seen_change_json(const SeenChange& seen, std::int64_t now);

// The observation record of a change.
[[nodiscard]] JournalRecord observation_record(const SeenChange& seen);

// Appends the observation unless the write folder's journal has it.
[[nodiscard]] Result<void> record_observation(const model::DataFolder& folder, const SeenChange& seen);

class ChangeFollower {
public:
    explicit ChangeFollower(EngineContext& engine) : engine_(engine) {}

    // The first scan; gives its notes.
    std::vector<std::string> start();

    // Scans (saving the comparison as every scan does) and gives the changes
    // not given before, in the scan's order. A change that could not be
    // written to the journal is given all the same, with the reason in
    // `failures`.
    [[nodiscard]] std::vector<SeenChange> next(std::vector<std::string>& failures);

private:
    void remember_kinds(const ScanState& state);

    EngineContext& engine_;
    std::set<std::string> given_;                                // "id\nchange\nfound"
    std::unordered_map<std::string, std::string> kind_labels_;  // id -> kind label, as last seen
};

}  // namespace qm::engine
