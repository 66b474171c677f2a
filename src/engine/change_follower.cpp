#include "engine/change_follower.h"

#include "os/files.h"
#include "util/time_text.h"

namespace qm::engine {

namespace {

std::string key_of(const FoundChange& change) {
    return change.id + "\n" + std::string(model::word_text(change.change)) + "\n" + change.found;
}

std::string spec_of(const JournalRecord& record, std::string_view key) {
    for (const model::SpecPair& pair : record.spec) {
        if (pair.key == key) return pair.value;
    }
    return {};
}

}  // namespace

model::WatchWake wait_until_settled(model::ChangeWatch& watch, std::optional<std::chrono::milliseconds> timeout) {
    const model::WatchWake first = watch.wait(timeout);
    if (first != model::WatchWake::changed) return first;
    const auto began = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - began < longest_merge) {
        const model::WatchWake next = watch.wait(quiet_time);
        if (next == model::WatchWake::woken) return next;
        if (next == model::WatchWake::timed_out) break;
    }
    return model::WatchWake::changed;
}

json::JsonValue seen_change_json(const SeenChange& seen, std::int64_t now) {
    return json::ObjectBuilder()
        .string("time", time_text(now))
        .string("id", seen.change.id)
        .string("name", seen.change.name)
        .string("change", std::string(model::word_text(seen.change.change)))
        .string("kind_label", seen.kind_label)
        .string("found", seen.change.found)
        .done();
}

JournalRecord observation_record(const SeenChange& seen) {
    JournalRecord record;
    record.action = model::ChangeAction::observed;
    record.ok = true;
    record.id = seen.change.id;
    record.name = seen.change.name;
    record.detail = std::string(model::word_text(seen.change.change));
    record.spec = {{"found", seen.change.found}, {"kind", seen.kind_label}};
    return record;
}

Result<void> record_observation(const model::DataFolder& folder, const SeenChange& seen) {
    JournalRecord record = observation_record(seen);
    const JournalContents contents = read_journal_contents(os::join_path(folder.write_folder, journal_file_name));
    for (const JournalRecord& earlier : contents.records) {
        if (earlier.action == model::ChangeAction::observed && earlier.id == record.id &&
            earlier.detail == record.detail && spec_of(earlier, "found") == seen.change.found) {
            return {};
        }
    }
    // After every number the journal holds, as a change's number is.
    record.seq = next_journal_seq(contents.highest_seq + 1);
    return append_journal(folder, std::move(record));
}

void ChangeFollower::remember_kinds(const ScanState& state) {
    for (const model::StartupItem& item : state.items) kind_labels_[item.id()] = item.kind_label;
}

std::vector<std::string> ChangeFollower::start() {
    ScanState state = engine_.scan();
    for (const FoundChange& change : state.changes) given_.insert(key_of(change));
    remember_kinds(state);
    return std::move(state.notes);
}

std::vector<SeenChange> ChangeFollower::next(std::vector<std::string>& failures) {
    const ScanState state = engine_.scan();
    // An item that is gone keeps the kind the scan before saw it with.
    std::unordered_map<std::string, std::string> before = std::move(kind_labels_);
    kind_labels_.clear();
    remember_kinds(state);
    std::vector<SeenChange> fresh;
    for (const FoundChange& change : state.changes) {
        if (!given_.insert(key_of(change)).second) continue;
        const auto now = kind_labels_.find(change.id);
        const auto earlier = before.find(change.id);
        SeenChange seen{change, now != kind_labels_.end()   ? now->second
                                : earlier != before.end() ? earlier->second
                                                           : std::string()};
        if (Result<void> recorded = record_observation(engine_.data_folder(), seen); !recorded)
            failures.push_back(recorded.error().message);
        fresh.push_back(std::move(seen));
    }
    return fresh;
}

}  // namespace qm::engine
