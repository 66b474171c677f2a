// The journal as one operation sees it: read once when the query is made,
// then asked what an operation needs to know (a record by its number,
// whether it was undone, the newest successful create record of an entry,
// which entries the program made). Changes made after the query was made are
// not in it. Values only; safe to share between threads once made.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "engine/journal.h"
#include "model/data_folder.h"

namespace qm::engine {

class JournalQuery {
public:
    // Reads every journal file of the data folder (read_journal).
    explicit JournalQuery(const model::DataFolder& folder);
    explicit JournalQuery(std::vector<JournalRecord> records);

    // In seq order.
    [[nodiscard]] const std::vector<JournalRecord>& records() const { return records_; }
    [[nodiscard]] const JournalRecord* find(std::uint64_t seq) const;
    // A successful undo record names it.
    [[nodiscard]] bool undone(std::uint64_t seq) const { return undone_.contains(seq); }
    // The newest successful create record of the entry `id`, or nullptr.
    [[nodiscard]] const JournalRecord* newest_create(std::string_view id) const;
    // The entries the program made: every id of a successful create record,
    // and every own entry a later start made (spec "entry").
    [[nodiscard]] bool created(std::string_view id) const {
        return newest_create(id) != nullptr || later_entries_.contains(std::string(id));
    }

private:
    std::vector<JournalRecord> records_;
    std::unordered_set<std::uint64_t> undone_;
    std::unordered_map<std::string, std::size_t> newest_create_;  // id -> index in records_
    std::unordered_set<std::string> later_entries_;
};

}  // namespace qm::engine
