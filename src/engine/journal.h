// The change journal: journal.jsonl in the data folder, one compact JSON
// record per line, only ever appended to. Sequence numbers come from one
// process-wide atomic counter seeded by the clock, so they are unique and
// increasing even for appends in the same millisecond or from several
// threads; each record is written as one whole line in one append. Reading
// takes no lock and never fails: unreadable files and broken lines are skipped.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/data_folder.h"
#include "json/json.h"
#include "util/result.h"
#include "util/startup_item.h"

namespace qm {

struct JournalRecord {
    std::uint64_t seq = 0;  // 0: given by append
    std::string time;       // empty: set by append
    std::string action;     // enable, disable, create, remove, undo
    std::string id;
    std::string name;
    std::string detail;
    bool ok = false;
    std::uint64_t of = 0;        // for undo: the seq undone
    std::vector<SpecPair> spec;  // remove and create: the seven recreation keys
    bool stop_now = false;
};

struct HistoryEntry {
    JournalRecord record;
    bool undone = false;
    bool undoable = false;
};

inline constexpr std::string_view journal_file_name = "journal.jsonl";

// The next sequence number: the current milliseconds, or one more than the
// last number given when the clock has not moved past it.
[[nodiscard]] std::uint64_t next_journal_seq();

[[nodiscard]] json::JsonValue journal_record_json(const JournalRecord& record);
[[nodiscard]] JournalRecord journal_record_from_json(const json::JsonValue& object);

// Gives seq and time when they are unset, then appends the record's line.
[[nodiscard]] Result<void> append_journal(const DataFolder& folder, JournalRecord record);

// Every record of every folder read, sorted by seq; of equal numbers the one
// read first is kept.
[[nodiscard]] std::vector<JournalRecord> read_journal(const DataFolder& folder);

// Newest first, each with whether it has been undone and whether it can be.
[[nodiscard]] std::vector<HistoryEntry> journal_history(const DataFolder& folder);

}  // namespace qm
