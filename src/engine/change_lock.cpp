#include "engine/change_lock.h"

#include <algorithm>
#include <chrono>
#include <unordered_map>
#include <unordered_set>

#include "engine/change_request.h"
#include "engine/journal.h"
#include "os/files.h"
#include "os/new_file.h"

namespace qm::engine {

namespace {

using model::ChangeAction;

// Whether the computer shows the intent's change made; for a create, the id
// of the entry it made goes into `made_id`.
// The entries the journal says the program made and has not removed since.
std::unordered_set<std::string> recorded_entries(const std::vector<JournalRecord>& records) {
    std::unordered_set<std::string> live;
    std::unordered_map<std::uint64_t, const JournalRecord*> by_seq;
    for (const JournalRecord& record : records) {
        by_seq[record.seq] = &record;
        if (!record.ok || !record.action) continue;
        ChangeAction action = *record.action;
        std::string id = record.id;
        if (action == ChangeAction::undo) {
            auto undone = by_seq.find(record.of);
            if (undone == by_seq.end() || !undone->second->action) continue;
            // Undoing a create removes the entry; undoing a remove makes it again.
            if (undone->second->action == ChangeAction::create) action = ChangeAction::remove;
            else if (undone->second->action == ChangeAction::remove) action = ChangeAction::create;
            id = undone->second->id;
        }
        if (action == ChangeAction::create) live.insert(id);
        if (action == ChangeAction::remove) live.erase(id);
        // An own entry that starts an item later is accounted for by its record.
        for (const model::SpecPair& pair : record.spec) {
            if (pair.key == "entry" && !pair.value.empty()) live.insert(pair.value);
        }
    }
    return live;
}

bool shows_made(const JournalIntent& intent, const std::vector<model::StartupItem>& items,
                const std::unordered_set<std::string>& recorded, std::string& made_id) {
    const JournalRecord& r = intent.record;
    if (!r.action) return false;
    auto with_id = [&](const std::string& id) {
        return std::find_if(items.begin(), items.end(),
                            [&](const model::StartupItem& item) { return item.id() == id; });
    };
    switch (*r.action) {
        case ChangeAction::enable:
        case ChangeAction::disable: {
            auto found = with_id(r.id);
            return found != items.end() && found->enabled == (r.action == ChangeAction::enable);
        }
        case ChangeAction::remove:
            return with_id(r.id) == items.end();
        case ChangeAction::create: {
            const model::CreateDetails details = create_details_from_pairs(r.spec);
            // An entry of the program's own that runs the command and that
            // no record accounts for; the platform may put a prefix before
            // the name.
            for (const model::StartupItem& item : items) {
                if (item.managed && !recorded.contains(item.id()) && item.name.ends_with(details.name) &&
                    item.command == details.command) {
                    made_id = item.id();
                    return true;
                }
            }
            return false;
        }
        case ChangeAction::later:
        case ChangeAction::when_needed: {
            auto found = with_id(r.id);
            if (found == items.end() || found->ways.taken != r.action) return false;
            // The own entry found starting it later is the one this change made.
            made_id = found->ways.own_entry;
            return true;
        }
        case ChangeAction::on_time: {
            auto found = with_id(r.id);
            return found != items.end() && !found->ways.taken;
        }
        case ChangeAction::undo:
        case ChangeAction::observed:
            break;
    }
    return false;
}

void sweep_data_folder(const std::string& folder) {
    const std::string backups = os::join_path(folder, "backups");
    for (const std::string& place : {folder, backups, os::join_path(backups, "auto")}) {
        (void)os::remove_stale_temporaries(place, os::stale_temporary_age);
    }
}

}  // namespace

std::size_t settle_interrupted_changes(EngineContext& context) {
    const model::DataFolder& folder = context.data_folder();
    const JournalContents contents = read_journal_contents(os::join_path(folder.write_folder, journal_file_name));
    if (contents.open_intents.empty()) return 0;
    std::vector<model::StartupItem> items = context.platform().scan().items;
    link_start_ways(items);
    std::unordered_set<std::string> recorded = recorded_entries(contents.records);
    std::size_t settled = 0;
    for (const JournalIntent& intent : contents.open_intents) {
        std::string made_id;
        const bool made = shows_made(intent, items, recorded, made_id);
        if (!made_id.empty()) recorded.insert(made_id);
        JournalRecord record = intent.record;
        record.ok = made;
        record.interrupted = true;
        record.time.clear();
        record.detail = made ? "The run that made this change ended before it could record it; the computer shows "
                               "it made."
                             : "The run that began this change ended before it finished; the computer shows it not "
                               "made.";
        if (!made_id.empty() && record.action == ChangeAction::later) {
            record.spec.push_back({"entry", made_id});
        } else if (!made_id.empty()) {
            record.id = made_id;
        }
        if (!intent.undone_id.empty() || record.of != 0) {
            record.action = ChangeAction::undo;
            record.id = intent.undone_id;
            record.name = intent.undone_name;
            record.spec.clear();
        }
        if (append_journal(folder, std::move(record))) ++settled;
    }
    context.forget_cached_items();
    return settled;
}

void settle_when_idle(EngineContext& context) {
    const std::string& folder = context.data_folder().write_folder;
    const std::string journal = os::join_path(folder, journal_file_name);
    if (os::path_kind(journal) != os::PathKind::file || read_journal_contents(journal).open_intents.empty()) return;
    Result<std::optional<os::FileLock>> taken =
        os::take_file_lock(os::join_path(folder, change_lock_file_name), std::chrono::milliseconds(0));
    if (!taken || !*taken) return;
    (void)settle_interrupted_changes(context);
}

Result<os::FileLock> lock_for_changes(EngineContext& context) {
    const std::string& folder = context.data_folder().write_folder;
    const std::string shown = context.demo() ? std::string(model::demo_shown_data_folder) : folder;
    auto unwritable = [&](const std::string& error) {
        return fail("Nothing was changed: Quillmoor keeps the history and backups of every change in " + shown +
                    ", which cannot be written (" + os::failure_reason(error) + ").");
    };
    if (Result<void> made = os::create_folders(folder); !made) return unwritable(made.error().message);
    const std::chrono::milliseconds wait = context.change_lock_wait();
    Result<std::optional<os::FileLock>> taken = os::take_file_lock(os::join_path(folder, change_lock_file_name), wait);
    if (!taken) return unwritable(taken.error().message);
    if (!*taken) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait).count();
        return fail(
            "Nothing was changed: another Quillmoor run is changing startup items right now, and it was "
            "still busy after " +
            std::to_string(seconds) + " seconds. Try again when it has finished.");
    }
    sweep_data_folder(folder);
    (void)settle_interrupted_changes(context);
    return std::move(**taken);
}

}  // namespace qm::engine
