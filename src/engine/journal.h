// The change journal: journal.jsonl in the data folder, one compact JSON
// record per line, only ever appended to. Sequence numbers come from one
// process-wide atomic counter seeded by the clock and, for a change, from
// the journal's highest number read under the change lock, so they are
// unique and increasing even for appends in the same millisecond, from
// several threads or from several processes; each record is written as one
// whole line in one append. Reading takes no lock and never fails:
// unreadable files and broken lines are skipped.
//
// Besides records the file holds two marks, each a JSON array on a line of
// its own, which readers of records skip (as every earlier version does,
// since a line that is not an object is not a record): an intent,
// ["intent",{"n":SEQ,...}], written before the computer is changed, and an
// outcome, ["outcome",{"n":SEQ}], for a change that failed. A change that
// was made has its record carry the intent's number as seq. An intent with
// neither is one a run did not live to finish.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/data_folder.h"
#include "json/json.h"
#include "util/result.h"
#include "model/start_figures.h"
#include "model/startup_item.h"

namespace qm::engine {

struct JournalRecord {
    std::uint64_t seq = 0;  // 0: given by append
    std::string time;       // empty: set by append
    // One of the five; none for a word this version does not know (a newer
    // one wrote it), which `unknown_action` then holds: the history shows it,
    // and nothing undoes it.
    std::optional<model::ChangeAction> action;
    std::string unknown_action;
    std::string id;
    std::string name;
    std::string detail;
    bool ok = false;
    std::uint64_t of = 0;               // for undo: the seq undone
    std::vector<model::SpecPair> spec;  // remove and create: the seven recreation keys
    bool stop_now = false;
    // Written by a later run for a change whose run ended before it could
    // say what happened; `ok` says whether the computer showed it made.
    bool interrupted = false;
    // The sign-ins and boots measured when the change was made, kept so
    // that later ones can be compared with them; stored only when known.
    model::StartFigures startup_before;
    // Not stored: whether the record comes from the folder this run writes to.
    // A record of another account's folder is shown but never acted on.
    bool own = true;
};

// A change about to be made, as its intent says: the record it would leave
// (seq is the intent's number) and, for an undo, the record undone.
struct JournalIntent {
    JournalRecord record;  // action: what is done to the computer (never undo)
    std::string undone_id;
    std::string undone_name;
};

struct HistoryEntry {
    JournalRecord record;
    bool undone = false;
    bool undoable = false;
    // Filled by add_startup_effects (change_effects.h): the figures of
    // starting before and after the change, one line per kind.
    std::vector<std::string> startup_effects;
};

inline constexpr std::string_view journal_file_name = "journal.jsonl";

// The next sequence number: the current milliseconds, or one more than the
// last number given when the clock has not moved past it, and never below
// `at_least`.
[[nodiscard]] std::uint64_t next_journal_seq(std::uint64_t at_least = 0);

[[nodiscard]] json::JsonValue journal_record_json(const JournalRecord& record);
[[nodiscard]] JournalRecord journal_record_from_json(const json::JsonValue& object);

// Gives seq and time when they are unset, then appends the record's line,
// beginning it with a line feed when the file does not end with one (a write
// cut short), so that the record always starts a line of its own.
[[nodiscard]] Result<void> append_journal(const model::DataFolder& folder, JournalRecord record);

// Appends the intent's line ["intent",{...}], giving it seq and time when unset.
[[nodiscard]] Result<void> append_intent(const model::DataFolder& folder, JournalIntent& intent);
// Appends ["outcome",{"n":seq}]: the intent's change was not made.
[[nodiscard]] Result<void> append_failed_outcome(const model::DataFolder& folder, std::uint64_t seq);

// Past this size only the newest part of a journal file is read. A change
// adds a few hundred bytes, so this is far more than years of use, and the
// whole file is read on every look at the history.
inline constexpr std::uint64_t journal_read_limit = 64ull << 20;

// The records in the bytes of one journal file, in file order. Every line is
// read on its own, so a damaged line costs only itself: one that is not valid
// UTF-8 is read byte by byte as U+0000..U+00FF, and one that is not a JSON
// object is skipped. A byte-order mark at the start is allowed.
[[nodiscard]] std::vector<JournalRecord> parse_journal_text(std::string_view bytes);

// The records of one journal file; of a file larger than `max_bytes` those in
// its last `max_bytes` bytes. A missing or unreadable file has none.
[[nodiscard]] std::vector<JournalRecord> read_journal_file(const std::string& path,
                                                           std::uint64_t max_bytes = journal_read_limit);

// What one journal file holds: its records in file order, the intents that
// have neither a record nor an outcome, and the highest number of any of them.
struct JournalContents {
    std::vector<JournalRecord> records;
    std::vector<JournalIntent> open_intents;
    std::uint64_t highest_seq = 0;
};
[[nodiscard]] JournalContents parse_journal_contents(std::string_view bytes);
[[nodiscard]] JournalContents read_journal_contents(const std::string& path,
                                                    std::uint64_t max_bytes = journal_read_limit);

// Every record of every folder read, sorted by seq; of equal numbers the one
// read first is kept. Records of the write folder are `own`.
[[nodiscard]] std::vector<JournalRecord> read_journal(const model::DataFolder& folder);

// Newest first, each with whether it has been undone and whether it can be.
[[nodiscard]] std::vector<HistoryEntry> journal_history(const model::DataFolder& folder);

}  // namespace qm::engine
