#include "engine/scan_changes.h"

#include <algorithm>
#include <mutex>
#include <unordered_map>
#include <unordered_set>

#include "os/files.h"
#include "util/time_text.h"

namespace qm::engine {

namespace {

using model::ChangeAction;
using model::ItemChange;

constexpr std::string_view changes_format = "quillmoor-scan-changes";
constexpr std::string_view ignored_format = "quillmoor-ignored";

// One process reads, changes and writes each file at a time.
std::mutex& files_lock() {
    static std::mutex lock;
    return lock;
}

std::string path_of(const model::DataFolder& folder, std::string_view name) {
    return os::join_path(folder.write_folder, name);
}

std::optional<json::JsonValue> read_object(const std::string& path, std::string_view format) {
    Result<std::string> text = os::read_file(path, scan_changes_read_limit + 1);
    if (!text || text->size() > scan_changes_read_limit) return std::nullopt;
    Result<json::JsonValue> parsed = json::parse(*text);
    if (!parsed || !parsed->is_object() || json::get_text(*parsed, "format") != format) return std::nullopt;
    return std::move(*parsed);
}

Result<void> write_object(const model::DataFolder& folder, std::string_view name, const json::JsonValue& object) {
    QM_TRY_VOID(os::create_folders(folder.write_folder));
    return os::write_file_replace(path_of(folder, name), json::write(object) + "\n");
}

const json::JsonValue::Array& array_at(const json::JsonValue& object, std::string_view key) {
    static const json::JsonValue::Array empty;
    const json::JsonValue* value = json::get(object, key);
    return value != nullptr && value->is_array() ? value->as_array() : empty;
}

SeenItem seen_of(const model::StartupItem& item) {
    std::string stamp;
    if (item.exe_time != 0) stamp = std::to_string(item.exe_size) + "@" + std::to_string(item.exe_time);
    return SeenItem{item.id(), item.name, item.kind_label, item.enabled, item.command, std::move(stamp)};
}

bool same_scan(const std::vector<SeenItem>& a, const std::vector<SeenItem>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const SeenItem& x, const SeenItem& y) {
        return x.id == y.id && x.name == y.name && x.kind_label == y.kind_label && x.enabled == y.enabled &&
               x.command == y.command && x.stamp == y.stamp;
    });
}

bool same_changes(const std::vector<FoundChange>& a, const std::vector<FoundChange>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const FoundChange& x, const FoundChange& y) {
        return x.id == y.id && x.change == y.change && x.found == y.found && x.name == y.name;
    });
}

json::JsonValue changes_json(const ScanChanges& changes) {
    json::JsonValue::Array items;
    for (const SeenItem& seen : changes.items) {
        items.push_back(json::ObjectBuilder()
                            .string("id", seen.id)
                            .string("name", seen.name)
                            .string("kind_label", seen.kind_label)
                            .flag("enabled", seen.enabled)
                            .string("command", seen.command)
                            .string("stamp", seen.stamp)
                            .done());
    }
    json::JsonValue::Array found;
    for (const FoundChange& change : changes.changes) found.push_back(found_change_json(change));
    return json::ObjectBuilder()
        .string("format", std::string(changes_format))
        .string("time", changes.time)
        .value("items", json::JsonValue(std::move(items)))
        .value("changes", json::JsonValue(std::move(found)))
        .strings("quiet", changes.quiet)
        .done();
}

std::vector<std::string> read_ignored_unlocked(const model::DataFolder& folder) {
    std::vector<std::string> ids;
    const std::optional<json::JsonValue> object = read_object(path_of(folder, ignored_file_name), ignored_format);
    if (!object) return ids;
    for (const json::JsonValue& id : array_at(*object, "ids")) {
        if (id.is_string() && !id.as_string().empty()) ids.push_back(id.as_string());
    }
    return ids;
}

}  // namespace

bool switched_off_by_user(const JournalQuery& journal, std::string_view id) {
    bool off = false;
    for (const JournalRecord& record : journal.records()) {
        if (!record.ok || !record.action || record.id != id) continue;
        ChangeAction action = *record.action;
        if (action == ChangeAction::undo) {
            // Undoing a switch off is a switch on, and the other way round.
            const JournalRecord* undone = journal.find(record.of);
            if (undone == nullptr || !undone->action) continue;
            const ChangeAction was = *undone->action;
            if (was == ChangeAction::disable || was == ChangeAction::later || was == ChangeAction::when_needed) {
                action = ChangeAction::enable;
            } else if (was == ChangeAction::enable || was == ChangeAction::on_time) {
                action = ChangeAction::disable;
            } else {
                continue;
            }
        }
        if (action == ChangeAction::disable || action == ChangeAction::later || action == ChangeAction::when_needed)
            off = true;
        if (action == ChangeAction::enable || action == ChangeAction::on_time || action == ChangeAction::remove)
            off = false;
    }
    return off;
}

bool changed_by_program(const JournalQuery& journal, std::string_view id) {
    for (auto record = journal.records().rbegin(); record != journal.records().rend(); ++record) {
        if (record->ok && record->action && record->id == id && *record->action != ChangeAction::observed)
            return true;
    }
    return false;
}

ScanChanges compare_scans(const std::optional<ScanChanges>& before, const std::vector<model::StartupItem>& items,
                          const JournalQuery& journal, const std::vector<std::string>& ignored,
                          const std::string& now) {
    ScanChanges after;
    after.time = now;
    for (const model::StartupItem& item : items) after.items.push_back(seen_of(item));
    if (!before) return after;

    const std::unordered_set<std::string> skipped(ignored.begin(), ignored.end());
    std::unordered_map<std::string, const SeenItem*> earlier;
    for (const SeenItem& seen : before->items) earlier.emplace(seen.id, &seen);
    std::unordered_map<std::string, const FoundChange*> found_before;
    for (const FoundChange& change : before->changes) found_before.emplace(change.id, &change);

    // A change found before keeps the time it was found while it holds.
    auto add = [&](const std::string& id, const std::string& name, ItemChange change) {
        if (skipped.contains(id) || after.changes.size() >= changes_kept) return;
        const auto kept = found_before.find(id);
        const bool same = kept != found_before.end() && kept->second->change == change;
        after.changes.push_back(same ? FoundChange{id, name, change, kept->second->found, kept->second->since}
                                     : FoundChange{id, name, change, now, before->time});
    };
    const std::unordered_set<std::string> quiet(before->quiet.begin(), before->quiet.end());
    std::unordered_set<std::string> present;
    for (const model::StartupItem& item : items) {
        present.insert(item.id());
        const auto was = earlier.find(item.id());
        const auto kept = found_before.find(item.id());
        const ItemChange earlier_change = kept == found_before.end() ? ItemChange::none : kept->second->change;
        if (item.enabled && switched_off_by_user(journal, item.id())) {
            if (quiet.contains(item.id())) {
                after.quiet.push_back(item.id());
            } else {
                add(item.id(), item.name, ItemChange::came_back);
            }
        } else if (item.managed || journal.created(item.id())) {
            continue;  // the program's own entries are not news
        } else if (was == earlier.end() || earlier_change == ItemChange::added) {
            add(item.id(), item.name, ItemChange::added);
        } else if (was->second->command != item.command || earlier_change == ItemChange::command_changed) {
            add(item.id(), item.name, ItemChange::command_changed);
        } else if (item.enabled && (!was->second->enabled || earlier_change == ItemChange::switched_on) &&
                   !changed_by_program(journal, item.id())) {
            // Off before and on now, and not through the program: an
            // installer or updater switched it on.
            add(item.id(), item.name, ItemChange::switched_on);
        }
    }
    for (const SeenItem& seen : before->items) {
        const auto kept = found_before.find(seen.id);
        const bool was_new = kept != found_before.end() && kept->second->change == ItemChange::added;
        // Something that came and went between two looks is no news.
        if (!present.contains(seen.id) && !was_new) add(seen.id, seen.name, ItemChange::gone);
    }
    for (const FoundChange& change : before->changes) {
        if (change.change == ItemChange::gone && !present.contains(change.id) && !earlier.contains(change.id))
            add(change.id, change.name, ItemChange::gone);
    }
    return after;
}

std::optional<ScanChanges> read_scan_changes(const model::DataFolder& folder) {
    const std::optional<json::JsonValue> object = read_object(path_of(folder, scan_changes_file_name), changes_format);
    if (!object) return std::nullopt;
    ScanChanges changes;
    changes.time = json::get_text(*object, "time");
    for (const json::JsonValue& entry : array_at(*object, "items")) {
        const std::string id = json::get_text(entry, "id");
        if (id.empty()) continue;
        changes.items.push_back(SeenItem{id, json::get_text(entry, "name"), json::get_text(entry, "kind_label"),
                                         json::get_flag(entry, "enabled"), json::get_text(entry, "command"),
                                         json::get_text(entry, "stamp")});
    }
    for (const json::JsonValue& entry : array_at(*object, "changes")) {
        const std::optional<ItemChange> change = model::read_item_change(json::get_text(entry, "change"));
        const std::string id = json::get_text(entry, "id");
        if (!change || *change == ItemChange::none || id.empty() || changes.changes.size() >= changes_kept) continue;
        changes.changes.push_back(
            FoundChange{id, json::get_text(entry, "name"), *change, json::get_text(entry, "found"),
                        json::get_text(entry, "since")});
    }
    for (const json::JsonValue& id : array_at(*object, "quiet")) {
        if (id.is_string()) changes.quiet.push_back(id.as_string());
    }
    return changes;
}

Result<void> write_scan_changes(const model::DataFolder& folder, const ScanChanges& changes) {
    return write_object(folder, scan_changes_file_name, changes_json(changes));
}

std::vector<FoundChange> note_scan(const model::DataFolder& folder, const std::vector<model::StartupItem>& items,
                                   const JournalQuery& journal) {
    std::lock_guard guard(files_lock());
    const std::optional<ScanChanges> before = read_scan_changes(folder);
    ScanChanges after = compare_scans(before, items, journal, read_ignored_unlocked(folder), time_text(now_unix_seconds()));
    if (before && same_scan(before->items, after.items) && same_changes(before->changes, after.changes) &&
        before->quiet == after.quiet) {
        return after.changes;
    }
    (void)write_scan_changes(folder, after);
    return std::move(after.changes);
}

Result<std::size_t> acknowledge_changes(const model::DataFolder& folder, const std::vector<std::string>& ids) {
    std::lock_guard guard(files_lock());
    std::optional<ScanChanges> changes = read_scan_changes(folder);
    if (!changes) return std::size_t{0};
    const std::unordered_set<std::string> wanted(ids.begin(), ids.end());
    const std::size_t before = changes->changes.size();
    std::erase_if(changes->changes, [&](const FoundChange& change) {
        if (!ids.empty() && !wanted.contains(change.id)) return false;
        if (change.change == ItemChange::came_back) changes->quiet.push_back(change.id);
        return true;
    });
    const std::size_t forgotten = before - changes->changes.size();
    if (forgotten != 0) QM_TRY_VOID(write_scan_changes(folder, *changes));
    return forgotten;
}

std::vector<std::string> read_ignored(const model::DataFolder& folder) {
    std::lock_guard guard(files_lock());
    return read_ignored_unlocked(folder);
}

Result<void> set_ignored(const model::DataFolder& folder, const std::string& id, bool ignored) {
    std::lock_guard guard(files_lock());
    std::vector<std::string> ids = read_ignored_unlocked(folder);
    const bool listed = std::find(ids.begin(), ids.end(), id) != ids.end();
    if (listed == ignored) return {};
    if (ignored) {
        ids.push_back(id);
    } else {
        std::erase(ids, id);
    }
    json::JsonValue::Array list;
    for (const std::string& each : ids) list.emplace_back(each);
    QM_TRY_VOID(write_object(folder, ignored_file_name,
                             json::ObjectBuilder()
                                 .string("format", std::string(ignored_format))
                                 .value("ids", json::JsonValue(std::move(list)))
                                 .done()));
    if (!ignored) return {};
    std::optional<ScanChanges> changes = read_scan_changes(folder);
    if (changes && std::erase_if(changes->changes, [&](const FoundChange& change) { return change.id == id; }) != 0)
        return write_scan_changes(folder, *changes);
    return {};
}

json::JsonValue found_change_json(const FoundChange& change) {
    return json::ObjectBuilder()
        .string("id", change.id)
        .string("name", change.name)
        .string("change", std::string(model::word_text(change.change)))
        .string("found", change.found)
        .string("since", change.since)
        .done();
}

}  // namespace qm::engine
