#include "engine/journal_query.h"

#include <algorithm>

namespace qm::engine {

JournalQuery::JournalQuery(const model::DataFolder& folder) : JournalQuery(read_journal(folder)) {}

JournalQuery::JournalQuery(std::vector<JournalRecord> records) : records_(std::move(records)) {
    std::stable_sort(records_.begin(), records_.end(),
                     [](const JournalRecord& a, const JournalRecord& b) { return a.seq < b.seq; });
    for (std::size_t i = 0; i < records_.size(); ++i) {
        const JournalRecord& record = records_[i];
        if (!record.ok) continue;
        if (record.action == model::ChangeAction::undo) undone_.insert(record.of);
        // Records are in seq order, so the newest one stays.
        if (record.action == model::ChangeAction::create) newest_create_[record.id] = i;
        for (const model::SpecPair& pair : record.spec) {
            if (pair.key == "entry" && !pair.value.empty()) later_entries_.insert(pair.value);
        }
    }
}

const JournalRecord* JournalQuery::find(std::uint64_t seq) const {
    auto found =
        std::lower_bound(records_.begin(), records_.end(), seq,
                         [](const JournalRecord& record, std::uint64_t wanted) { return record.seq < wanted; });
    return found != records_.end() && found->seq == seq ? &*found : nullptr;
}

const JournalRecord* JournalQuery::newest_create(std::string_view id) const {
    auto found = newest_create_.find(std::string(id));
    return found == newest_create_.end() ? nullptr : &records_[found->second];
}

}  // namespace qm::engine
