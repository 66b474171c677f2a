// What changed since the scans before. Each scan of the real computer is
// compared with the one before it, kept in scan-changes.json in the data
// folder: an item that was not there is new, one whose command differs has
// its command changed, one that is no longer there is gone, and one that the
// user switched off (the journal's newest word for it is off) and that is on
// again came back; one that was off in the scan before and is on now, which
// the program never changed, was switched on by another program. A change
// found is kept, with when it was found, until the
// user acknowledges it or it no longer holds (an item that came back and is
// off again); items on the ignore list (ignored.json) are never marked. The
// program's own entries are not news. The demonstration has no such files.
// Thread-safe: callers hold the lock of the context while they read and
// write the files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/journal_query.h"
#include "json/json.h"
#include "model/data_folder.h"
#include "model/startup_item.h"
#include "util/result.h"

namespace qm::engine {

inline constexpr std::string_view scan_changes_file_name = "scan-changes.json";
inline constexpr std::string_view ignored_file_name = "ignored.json";
// Far more than any computer's items; a larger file is not read, and the
// comparison starts again from the next scan.
inline constexpr std::uint64_t scan_changes_read_limit = 16ull << 20;
inline constexpr std::size_t changes_kept = 1000;

// One item as the last scan saw it.
struct SeenItem {
    std::string id;
    std::string name;
    std::string kind_label;
    bool enabled = false;
    std::string command;
    std::string stamp;  // the program file's size and time, "SIZE@SECONDS", where the platform gave them
};

struct FoundChange {
    std::string id;
    std::string name;
    model::ItemChange change = model::ItemChange::added;
    std::string found;  // when a scan first found it
    std::string since;  // when the scan before that one was made (empty when not known)
};

struct ScanChanges {
    std::string time;  // when the last scan was saved
    std::vector<SeenItem> items;
    std::vector<FoundChange> changes;
    // Items that came back and whose change the user acknowledged: not
    // marked again while they stay on.
    std::vector<std::string> quiet;
};

// Whether the journal's newest word for the item is off: switched off, made
// to start later or only when needed, and not switched on, taken back or
// undone since.
[[nodiscard]] bool switched_off_by_user(const JournalQuery& journal, std::string_view id);

// Whether the program made any change of the item (an observation is none):
// then its being on is the user's own doing, not news.
[[nodiscard]] bool changed_by_program(const JournalQuery& journal, std::string_view id);

// Compares a scan with the one before (`before`, none on the first scan:
// nothing is news then) and with the changes found earlier. `now` is the
// time the new changes are found.
[[nodiscard]] ScanChanges compare_scans(const std::optional<ScanChanges>& before,
                                        const std::vector<model::StartupItem>& items, const JournalQuery& journal,
                                        const std::vector<std::string>& ignored, const std::string& now);

// The file's contents; none when it is missing, damaged or too large.
[[nodiscard]] std::optional<ScanChanges> read_scan_changes(const model::DataFolder& folder);
[[nodiscard]] Result<void> write_scan_changes(const model::DataFolder& folder, const ScanChanges& changes);

// Compares the scan with the one saved and saves it, when anything differs.
// Gives the changes to show; a failure to save changes nothing shown.
[[nodiscard]] std::vector<FoundChange> note_scan(const model::DataFolder& folder,
                                                 const std::vector<model::StartupItem>& items,
                                                 const JournalQuery& journal);

// Forgets the changes found for these ids (every change when `ids` is empty).
[[nodiscard]] Result<std::size_t> acknowledge_changes(const model::DataFolder& folder,
                                                      const std::vector<std::string>& ids);

// The ignore list, in the order items were added to it.
[[nodiscard]] std::vector<std::string> read_ignored(const model::DataFolder& folder);
// Adds or removes an id; the changes found for an id added are forgotten.
[[nodiscard]] Result<void> set_ignored(const model::DataFolder& folder, const std::string& id, bool ignored);

// {id, name, change, found, since}
[[nodiscard]] json::JsonValue found_change_json(const FoundChange& change);

}  // namespace qm::engine
