#include "engine/backups.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "engine/journal.h"
#include "engine/journal_query.h"
#include "os/files.h"
#include "os/new_file.h"
#include "util/build_info.h"
#include "os/text_file.h"
#include "util/text.h"
#include "util/time_text.h"

namespace qm::engine {

namespace {

using json::JsonValue;

std::string backups_in(const std::string& data_folder) { return os::join_path(data_folder, "backups"); }

// The details of the newest successful create record of `id`, as the
// backup's `spec` object, or null when the history has none.
JsonValue recreation_details(const JournalQuery& journal, const std::string& id) {
    const JournalRecord* created = journal.newest_create(id);
    if (created == nullptr) return JsonValue();
    json::ObjectBuilder spec;
    for (const model::SpecPair& pair : created->spec) spec.string(pair.key, pair.value);
    return spec.done();
}

std::string on_off(bool on) { return on ? "on" : "off"; }

// A row that explains why a backup entry is not restored; it has no request.
RestoreRow note_row(std::string id, std::string name, std::string text) {
    return RestoreRow{RestoreRowKind::note, std::move(id), std::move(name), std::move(text), false, std::nullopt};
}

// Sorts automatic backups oldest first: by name, and a name's "-N" copies
// after it in numeric order ("...T103224.json", "...T103224-2.json", ...,
// "...T103224-10.json"), which plain text order would get wrong.
std::pair<std::string, unsigned long> age_key(std::string_view name) {
    std::string_view stem = name.substr(0, name.size() - 5);  // without ".json"
    std::size_t dash = stem.rfind('-');
    if (dash != std::string_view::npos) {
        std::string_view digits = stem.substr(dash + 1);
        std::string_view before = stem.substr(0, dash);
        bool all_digits = std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
        // A copy number follows a time stamp, which ends in "T" and six digits.
        if (!digits.empty() && digits.size() <= 5 && all_digits && before.size() >= 7 &&
            before[before.size() - 7] == 'T') {
            return {std::string(before), std::stoul(std::string(digits))};
        }
    }
    return {std::string(stem), 1};
}

void prune_automatic(const std::string& folder) {
    Result<std::vector<os::FolderEntry>> entries = os::list_folder(folder);
    if (!entries) return;
    std::vector<std::string> names;
    for (const os::FolderEntry& entry : *entries) {
        if (!entry.is_folder && entry.name.ends_with(".json")) names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return age_key(a) < age_key(b); });
    for (std::size_t i = 0; i + automatic_backups_kept < names.size(); ++i) {
        (void)os::remove_file(os::join_path(folder, names[i]));
    }
}

}  // namespace

std::string_view word_text(RestoreRowKind kind) {
    switch (kind) {
        case RestoreRowKind::state:
            return "state";
        case RestoreRowKind::remove:
            return "remove";
        case RestoreRowKind::recreate:
            return "recreate";
        case RestoreRowKind::missing:
            return "missing";
        case RestoreRowKind::note:
            return "note";
    }
    return "note";
}

std::string backup_folder(const EngineContext& context) { return backups_in(context.data_folder().write_folder); }

std::string backup_file_name(std::string_view computer, std::string_view created, bool automatic) {
    std::string clean;
    for (char c : computer) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-') clean.push_back(c);
    }
    if (clean.empty()) clean = "computer";
    std::string stamp;
    for (char c : created) {
        if (c == ' ') stamp.push_back('T');
        else if (c != '-' && c != ':') stamp.push_back(c);
    }
    return std::string(automatic ? "auto-" : "") + "quillmoor-backup-" + clean + "-" + stamp + ".json";
}

bool is_valid_backup_name(std::string_view name) {
    return !name.empty() && name.find_first_of("/\\:") == std::string_view::npos &&
           name.find("..") == std::string_view::npos && name.ends_with(".json");
}

JsonValue make_backup(EngineContext& context, std::string_view label) {
    const std::vector<model::StartupItem> items = context.scan().items;
    const JournalQuery journal(context.data_folder());
    JsonValue saved = JsonValue::array();
    for (const model::StartupItem& item : items) {
        const JsonValue details = recreation_details(journal, item.id());
        saved.as_array().push_back(model::item_saved_json(item, details.is_object() ? &details : nullptr));
    }
    const model::SystemFacts& facts = context.facts();
    return json::ObjectBuilder()
        .string("format", "quillmoor-backup")
        .count("format_version", 1)
        .string("tool_version", std::string(build::version))
        .string("created", time_text(now_unix_seconds()))
        .string("label", std::string(label))
        .string("host", facts.host)
        .string("os", facts.os)
        .string("os_version", facts.os_version)
        .string("user", facts.user)
        .count("count", items.size())
        .value("items", std::move(saved))
        .done();
}

Result<std::string> save_backup(EngineContext& context, const JsonValue& backup, bool automatic) {
    std::string folder = backup_folder(context);
    if (automatic) folder = os::join_path(folder, "auto");
    if (Result<void> made = os::create_folders(folder); !made) {
        return fail("cannot create " + folder + ": " + os::failure_reason(made.error().message));
    }
    const std::string base =
        backup_file_name(json::get_text(backup, "host"), json::get_text(backup, "created"), automatic);
    const std::string text = json::write(backup);
    for (unsigned copy = 1; copy < 100000; ++copy) {
        std::string name = base;
        if (copy > 1) name.insert(name.size() - 5, "-" + std::to_string(copy));
        const std::string path = os::join_path(folder, name);
        // Written only when no file of that name exists, so a backup is never replaced.
        Result<bool> written = os::write_file_new(path, text);
        if (!written) return fail("cannot write " + path + ": " + os::failure_reason(written.error().message));
        if (*written) {
            if (automatic) prune_automatic(folder);
            return path;
        }
    }
    return fail("cannot write " + os::join_path(folder, base) + ": too many backups were made in this second.");
}

Result<void> save_backup_as(const JsonValue& backup, const std::string& path) {
    return os::write_file_replace_regular(path, json::write(backup));
}

std::vector<BackupSummary> list_backups(EngineContext& context) {
    std::vector<BackupSummary> list;
    std::unordered_set<std::string> seen;
    for (const std::string& data_folder : context.data_folder().read_folders) {
        const std::string manual = backups_in(data_folder);
        for (const auto& [folder, automatic] :
             {std::pair{manual, false}, std::pair{os::join_path(manual, "auto"), true}}) {
            Result<std::vector<os::FolderEntry>> entries = os::list_folder(folder);
            if (!entries) continue;
            std::sort(entries->begin(), entries->end(),
                      [](const os::FolderEntry& a, const os::FolderEntry& b) { return a.name < b.name; });
            for (const os::FolderEntry& entry : *entries) {
                if (entry.is_folder || !entry.name.ends_with(".json") || seen.contains(entry.name)) continue;
                if (entry.size > backup_read_limit) continue;
                const std::string path = os::join_path(folder, entry.name);
                Result<std::string> text = os::read_text_file(path, backup_read_limit);
                if (!text) continue;
                Result<JsonValue> parsed = json::parse(*text);
                if (!parsed || json::get_text(*parsed, "format") != "quillmoor-backup") continue;
                seen.insert(entry.name);
                list.push_back(BackupSummary{entry.name, path, json::get_text(*parsed, "label"),
                                             json::get_text(*parsed, "created"), json::get_text(*parsed, "host"),
                                             json::get_count(*parsed, "count"), entry.size, automatic});
            }
        }
    }
    std::sort(list.begin(), list.end(), [](const BackupSummary& a, const BackupSummary& b) {
        if (a.time != b.time) return a.time > b.time;
        return a.name > b.name;
    });
    return list;
}

Result<std::string> read_backup(EngineContext& context, std::string_view name) {
    if (!is_valid_backup_name(name)) return fail("That is not a backup file name.");
    for (const BackupSummary& summary : list_backups(context)) {
        if (summary.name != name) continue;
        return os::read_text_file(summary.path, backup_read_limit);
    }
    return fail("That backup was not found.");
}

Result<JsonValue> parse_backup(std::string_view text) {
    Result<JsonValue> parsed = json::parse(text);
    if (!parsed) return fail("That file is not a Quillmoor backup (" + parsed.error().message + ").");
    if (json::get_text(*parsed, "format") != "quillmoor-backup") return fail("That file is not a Quillmoor backup.");
    const JsonValue* items = json::get(*parsed, "items");
    if (items == nullptr || !items->is_array()) return fail("That backup has no items.");
    return parsed;
}

Result<void> delete_backup(EngineContext& context, std::string_view name) {
    if (!is_valid_backup_name(name)) return fail("That is not a backup file name.");
    for (const BackupSummary& summary : list_backups(context)) {
        if (summary.name != name) continue;
        if (Result<void> removed = os::remove_file(summary.path); !removed) {
            return fail("Could not delete " + summary.path + ": " + os::failure_reason(removed.error().message));
        }
        return {};
    }
    return fail("That backup was not found.");
}

namespace {

// The way an item had taken, as a backup or the computer says.
struct TakenWay {
    std::optional<model::ChangeAction> way;
    std::uint32_t seconds = 0;
    friend bool operator==(const TakenWay&, const TakenWay&) = default;
};

TakenWay taken_way(const JsonValue* saved) {
    if (saved == nullptr) return {};
    const std::optional<model::ChangeAction> way = model::read_change_action(json::get_text(*saved, "taken"));
    if (way != model::ChangeAction::later && way != model::ChangeAction::when_needed) return {};
    const std::uint64_t seconds = std::min<std::uint64_t>(json::get_count(*saved, "seconds"), model::longest_later_seconds);
    return TakenWay{way, static_cast<std::uint32_t>(seconds)};
}

std::string way_text(const model::StartupItem& item, const TakenWay& way) {
    if (!way.way) return "starting as before";
    return "set to \"" + model::way_label(*way.way, item.ways.later, way.seconds) + "\"";
}

// The row that brings back the way the backup had: one change, from as
// before to a way or back; from one way to another takes two restores.
RestoreRow way_row(const model::StartupItem& now, const TakenWay& had, const std::string& had_text) {
    const TakenWay has{now.ways.taken, now.ways.taken_seconds};
    std::string text = "Now " + way_text(now, has) + "; the backup had it " + way_text(now, had) + " (" + had_text + ").";
    ChangeRequest request;
    request.id = now.id();
    if (has.way && !had.way) {
        request.action = model::ChangeAction::on_time;
    } else if (!has.way && now.enabled) {
        request.action = had.way;
        request.seconds = had.seconds;
    } else {
        text += has.way ? " Choose \"Start as before\" first, then restore again."
                        : " It is switched off now; switch it on, then restore again.";
        return RestoreRow{RestoreRowKind::note, now.id(), now.name, std::move(text), false, std::nullopt};
    }
    return RestoreRow{RestoreRowKind::state, now.id(), now.name, std::move(text), true, std::move(request)};
}

}  // namespace

RestorePlan restore_plan(EngineContext& context, const JsonValue& backup) {
    RestorePlan plan;
    json::ObjectBuilder header;
    for (const char* key : {"created", "label", "host", "os", "os_version", "tool_version"}) {
        header.string(key, json::get_text(backup, key));
    }
    plan.header = header.count("count", json::get_count(backup, "count")).done();

    const std::vector<model::StartupItem> current = context.scan().items;
    std::unordered_set<std::string> backup_ids;
    const JsonValue* items = json::get(backup, "items");
    const JsonValue::Array empty;
    for (const JsonValue& entry : items && items->is_array() ? items->as_array() : empty) {
        const std::string name = json::get_text(entry, "name");
        // An entry that cannot say which item it is, or whether it was on, is
        // never turned into a change: guessing "off" would switch items off.
        const JsonValue* id_value = json::get(entry, "id");
        if (id_value == nullptr || !id_value->is_string() || id_value->as_string().empty()) {
            plan.rows.push_back(note_row("", name, "The backup does not say which item this is, so it is left out."));
            continue;
        }
        const std::string& id = id_value->as_string();
        if (!backup_ids.insert(id).second) {
            plan.rows.push_back(
                note_row(id, name, "It appears more than once in the backup; only its first entry is used."));
            continue;
        }
        const JsonValue* enabled = json::get(entry, "enabled");
        if (enabled == nullptr || !enabled->is_bool()) {
            plan.rows.push_back(
                note_row(id, name, "The backup does not say whether it was on or off, so it is left as it is."));
            continue;
        }
        const bool was_on = enabled->as_bool();
        const JsonValue* saved_way = json::get(entry, "way");
        // An own entry that started another item later comes back with that
        // item's way.
        if (saved_way != nullptr && !json::get_text(*saved_way, "delays").empty()) continue;
        auto now = std::find_if(current.begin(), current.end(),
                                [&](const model::StartupItem& item) { return item.id() == id; });
        if (now != current.end()) {
            const TakenWay had = taken_way(saved_way);
            const TakenWay has{now->ways.taken, now->ways.taken ? now->ways.taken_seconds : 0};
            if (!(had == has)) {
                if (now->toggle == model::Toggle::locked) {
                    ++plan.locked;
                } else {
                    plan.rows.push_back(way_row(*now, had, json::get_text(entry, "state_text")));
                }
                continue;
            }
            if (now->enabled == was_on) {
                ++plan.same;
                continue;
            }
            if (now->toggle == model::Toggle::locked) {
                ++plan.locked;
                continue;
            }
            ChangeRequest request;
            request.action = was_on ? model::ChangeAction::enable : model::ChangeAction::disable;
            request.id = id;
            if (const JsonValue* extra = json::get(entry, "extra")) {
                for (const char* key : {"start", "delayed"}) {
                    if (const JsonValue* value = json::get(*extra, key); value && value->is_string()) {
                        request.options.emplace_back(key, value->as_string());
                    }
                }
            }
            plan.rows.push_back(RestoreRow{RestoreRowKind::state, id, name,
                                           "Now " + on_off(now->enabled) + "; the backup had it " + on_off(was_on) +
                                               " (" + json::get_text(entry, "state_text") + ").",
                                           true, std::move(request)});
        } else if (json::get_flag(entry, "managed")) {
            const JsonValue* spec = json::get(entry, "spec");
            ChangeRequest request =
                create_request("restore|" + id, spec ? model::create_details_from_json(*spec) : model::CreateDetails{});
            // What it would run is shown in full: the backup is a file
            // anyone could have written.
            std::string text = "Quillmoor created this entry before; it no longer exists. It can be created again (" +
                               request.create.mode + ").";
            text += " It would run: " + replace_control_characters(request.create.command, false);
            if (!request.create.workdir.empty())
                text += " (in " + replace_control_characters(request.create.workdir, false) + ")";
            text += ".";
            plan.rows.push_back(
                RestoreRow{RestoreRowKind::recreate, id, name, std::move(text), true, std::move(request)});
        } else {
            plan.rows.push_back(RestoreRow{RestoreRowKind::missing, id, name,
                                           "It is in the backup but not on this computer any more (the program may "
                                           "have been uninstalled). Nothing to restore.",
                                           false, std::nullopt});
        }
    }
    for (const model::StartupItem& item : current) {
        if (backup_ids.contains(item.id())) continue;
        if (!item.managed) {
            ++plan.appeared;
            continue;
        }
        // Taken back with the way of the item it starts later.
        if (!item.ways.delays.empty()) continue;
        ChangeRequest request;
        request.action = model::ChangeAction::remove;
        request.id = item.id();
        plan.rows.push_back(RestoreRow{RestoreRowKind::remove, item.id(), item.name,
                                       "Quillmoor created this entry after the backup was taken. Ticking it removes "
                                       "it, which is what going back to the backup means.",
                                       false, std::move(request)});
    }
    const std::string host = json::get_text(backup, "host");
    const std::string os_name = json::get_text(backup, "os");
    plan.different_computer = (!host.empty() && !equal_ignoring_ascii_case(host, context.facts().host)) ||
                              (!os_name.empty() && os_name != context.facts().os);
    return plan;
}

JsonValue backup_summary_json(const BackupSummary& summary) {
    return json::ObjectBuilder()
        .string("name", summary.name)
        .string("path", summary.path)
        .string("label", summary.label)
        .string("time", summary.time)
        .string("host", summary.host)
        .count("count", summary.count)
        .count("size", summary.size)
        .flag("auto", summary.automatic)
        .done();
}

}  // namespace qm::engine
