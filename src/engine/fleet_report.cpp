#include "engine/fleet_report.h"

#include <algorithm>
#include <array>

#include "model/startup_item.h"
#include "util/text.h"

namespace qm::engine {

namespace {

enum class OsqueryTable { startup_items, services, systemd_units };

std::string_view table_name(OsqueryTable table) {
    switch (table) {
        case OsqueryTable::startup_items:
            return "startup_items";
        case OsqueryTable::services:
            return "services";
        case OsqueryTable::systemd_units:
            return "systemd_units";
    }
    return "";
}

bool has(const json::JsonValue& row, std::string_view key) { return json::get(row, key) != nullptr; }

// osquery prints every column as a string; a row with anything else is not
// one of its rows.
bool only_strings(const json::JsonValue& row) {
    if (!row.is_object()) return false;
    return std::all_of(row.as_object().begin(), row.as_object().end(),
                       [](const json::JsonValue::Member& member) { return member.second.is_string(); });
}

// The table a row comes from, told by the columns only that table has.
std::optional<OsqueryTable> osquery_table(const json::JsonValue& row) {
    if (!only_strings(row)) return std::nullopt;
    if (has(row, "start_type") && has(row, "display_name")) return OsqueryTable::services;
    if (has(row, "active_state") && has(row, "load_state")) return OsqueryTable::systemd_units;
    if (has(row, "path") && has(row, "source") && has(row, "status")) return OsqueryTable::startup_items;
    return std::nullopt;
}

// Windows compares the names of its entries without regard to case; the
// Linux kinds are files and units, whose names are exact.
bool windows_kind(model::ItemKind kind) {
    return kind == model::ItemKind::run || kind == model::ItemKind::folder || kind == model::ItemKind::service ||
           kind == model::ItemKind::task;
}

std::optional<model::ImpactLevel> read_impact(std::string_view text) {
    for (model::ImpactLevel level : {model::ImpactLevel::high, model::ImpactLevel::medium, model::ImpactLevel::low,
                                     model::ImpactLevel::not_measured}) {
        if (model::word_text(level) == text) return level;
    }
    return std::nullopt;
}

// A program under the Windows folder is taken for the system's own, as the
// Windows platform does for what it reads itself.
model::Origin windows_origin(std::string_view program) {
    const std::string lowered = to_lower_ascii(program);
    return lowered.find(":\\windows\\") != std::string::npos || lowered.starts_with("\\systemroot\\") ||
                   lowered.starts_with("%systemroot%") || lowered.starts_with("%windir%")
               ? model::Origin::operating_system
               : model::Origin::installed_program;
}

// "a, b, c and 4 more" for a note that names computers.
std::string computer_list(const std::vector<std::string>& names) {
    constexpr std::size_t shown = 8;
    std::string text;
    for (std::size_t i = 0; i < names.size() && i < shown; ++i) text += (i == 0 ? "" : ", ") + names[i];
    if (names.size() > shown) text += " and " + std::to_string(names.size() - shown) + " more";
    return text;
}

// What each osquery table cannot say, for the note about the computers read from it.
std::string cannot_say(OsqueryTable table) {
    switch (table) {
        case OsqueryTable::startup_items:
            return "osquery's startup_items table has no scheduled tasks or services and no measured cost at "
                   "sign-in, so those are missing for these computers, and its rows are judged here by name and "
                   "program only";
        case OsqueryTable::services:
            return "osquery's services table gives no measured cost at boot and not which services others depend "
                   "on; its drivers (boot and system start) are left out, as the program leaves them out";
        case OsqueryTable::systemd_units:
            return "osquery's systemd_units table says whether a unit is active now, not whether it starts at boot, "
                   "so these units are counted as unknown; it gives no measured cost either, and does not say which "
                   "package owns a unit, so units nobody knows are judged unknown";
    }
    return "";
}

// The more serious of two levels; `unknown` is last in order and counts as
// the most serious, so the report never shows a milder judgement than a
// computer gave.
model::Level more_serious(model::Level a, model::Level b) { return std::max(a, b); }

}  // namespace

std::string_view fleet_state_text(FleetState state) {
    switch (state) {
        case FleetState::on:
            return "on";
        case FleetState::off:
            return "off";
        case FleetState::unknown:
            return "unknown";
    }
    return "";
}

FleetReportBuilder::FleetReportBuilder(std::shared_ptr<const knowledge::LoadedKnowledge> knowledge)
    : knowledge_(std::move(knowledge)) {}

const knowledge::Assessor& FleetReportBuilder::assessor(std::string_view platform) {
    std::unique_ptr<knowledge::Assessor>& slot = platform == "windows" ? windows_assessor_ : linux_assessor_;
    if (!slot) {
        slot = std::make_unique<knowledge::Assessor>(*knowledge_->builtin, knowledge_->installed,
                                                     knowledge_->installed_source(), platform);
    }
    return *slot;
}

void FleetReportBuilder::note(std::string text) { notes_.push_back(std::move(text)); }

void FleetReportBuilder::add_item(std::size_t computer, model::ItemKind kind, const std::string& name, FleetState state,
                                  model::Level level, model::ImpactLevel impact) {
    const std::string key =
        std::string(model::word_text(kind)) + "|" + (windows_kind(kind) ? to_lower_ascii(name) : name);
    auto [found, added] = entry_index_.try_emplace(key, entries_.size());
    if (added) entries_.push_back(Entry{kind, name, {}});
    Entry& entry = entries_[found->second];
    // One computer can list an item twice (a Run value of the computer and
    // the same of one user): it is on there when either is, and judged by
    // the more serious of the two.
    if (!entry.sightings.empty() && entry.sightings.back().computer == computer) {
        Sighting& seen = entry.sightings.back();
        if (state == FleetState::on || seen.state == FleetState::unknown) seen.state = state;
        seen.level = more_serious(seen.level, level);
        seen.impact = std::min(seen.impact, impact);
        return;
    }
    entry.sightings.push_back(Sighting{computer, state, level, impact});
}

void FleetReportBuilder::add(const std::string& computer, const json::JsonValue& list) {
    if (!list.is_array()) {
        note(computer + ": not a list of items (an array), so it is left out.");
        return;
    }
    const json::JsonValue::Array& rows = list.as_array();
    // The form is told by the first row; an empty list is the program's own
    // list of a computer where nothing starts.
    std::optional<OsqueryTable> table;
    if (!rows.empty() && !has(rows.front(), "kind") && !has(rows.front(), "found")) {
        table = osquery_table(rows.front());
        if (!table) {
            note(computer + ": neither the program's list nor a table of osquery it knows, so it is left out.");
            return;
        }
    }
    const std::size_t index = computers_.size();
    computers_.push_back(
        FleetComputer{computer, table ? "osquery " + std::string(table_name(*table)) : "quillmoor", 0});
    if (table) osquery_computers_[std::string(table_name(*table))].push_back(computer);

    std::size_t unread = 0;
    std::size_t items = 0;
    for (const json::JsonValue& row : rows) {
        if (!table) {
            // Items that are gone since an earlier scan have no kind; they
            // no longer start and are not counted.
            if (!has(row, "kind") && has(row, "found")) continue;
            const std::optional<model::ItemKind> kind = model::read_item_kind(json::get_text(row, "kind"));
            const std::string name = json::get_text(row, "name");
            const json::JsonValue* enabled = json::get(row, "enabled");
            if (!kind || name.empty() || enabled == nullptr || !enabled->is_bool()) {
                ++unread;
                continue;
            }
            const json::JsonValue* risk = json::get(row, "risk");
            const json::JsonValue* impact = json::get(row, "impact");
            const model::Level level =
                model::parse_level(risk ? json::get_text(*risk, "level") : "").value_or(model::Level::unknown);
            const model::ImpactLevel cost =
                read_impact(impact ? json::get_text(*impact, "level") : "").value_or(model::ImpactLevel::not_measured);
            add_item(index, *kind, name, enabled->as_bool() ? FleetState::on : FleetState::off, level, cost);
            ++items;
            continue;
        }
        if (osquery_table(row) != table) {
            ++unread;
            continue;
        }
        std::optional<model::StartupItem> item;
        FleetState state = FleetState::unknown;
        std::string_view platform = "windows";
        const std::string name = json::get_text(row, "name");
        switch (*table) {
            case OsqueryTable::startup_items: {
                const std::string source = json::get_text(row, "source");
                const std::string path = json::get_text(row, "path");
                const std::string args = json::get_text(row, "args");
                const std::string lowered = to_lower_ascii(source);
                if (name.empty()) break;
                if (lowered.starts_with("hkey_")) {
                    const bool machine = lowered.starts_with("hkey_local_machine");
                    item.emplace(model::ItemKind::run,
                                 machine ? "Registry (Run, all users)" : "Registry (Run, this user)",
                                 machine ? model::Scope::machine : model::Scope::user, source, name);
                } else if (source.find('\\') != std::string::npos) {
                    // A folder's settings file, which Windows keeps there and never starts.
                    if (equal_ignoring_ascii_case(name, "desktop.ini")) continue;
                    // The program names a file of a Startup folder without its extension.
                    const std::string stem(file_stem(name));
                    const bool machine = lowered.find("\\programdata\\") != std::string::npos;
                    item.emplace(model::ItemKind::folder,
                                 machine ? "Startup folder (all users)" : "Startup folder (this user)",
                                 machine ? model::Scope::machine : model::Scope::user, source,
                                 stem.empty() ? name : stem);
                } else {
                    break;  // a place of another system, which this table also lists elsewhere
                }
                item->command = args.empty() ? path : path + " " + args;
                item->exe = path;
                item->origin = windows_origin(path);
                const std::string status = json::get_text(row, "status");
                state = status == "enabled"    ? FleetState::on
                        : status == "disabled" ? FleetState::off
                                               : FleetState::unknown;
                break;
            }
            case OsqueryTable::services: {
                const std::string start = json::get_text(row, "start_type");
                // Drivers start with the kernel and are not the user's to switch.
                if (start == "BOOT_START" || start == "SYSTEM_START" ||
                    json::get_text(row, "service_type").find("DRIVER") != std::string::npos) {
                    continue;
                }
                if (name.empty()) break;
                const std::string display = json::get_text(row, "display_name");
                item.emplace(model::ItemKind::service, "Windows service", model::Scope::machine, "Services",
                             display.empty() ? name : display);
                item->set_spec("short", name);
                const std::string path = json::get_text(row, "path");
                const std::string library = json::get_text(row, "module_path");
                const std::string program = program_of_command_line(path);
                const bool shared_host = to_lower_ascii(program).ends_with("svchost.exe") && !library.empty();
                item->command = shared_host ? path + " (library: " + library + ")" : path;
                item->exe = shared_host ? library : program;
                item->description = json::get_text(row, "description");
                item->origin = windows_origin(item->exe);
                state = start == "AUTO_START" || start == "DELAYED_AUTO_START" ? FleetState::on
                        : start == "DEMAND_START" || start == "DISABLED"       ? FleetState::off
                                                                               : FleetState::unknown;
                break;
            }
            case OsqueryTable::systemd_units: {
                const std::string unit = json::get_text(row, "id");
                // Devices, mounts, slices and scopes are not things that are
                // set to start; the program lists only these types.
                static constexpr std::array<std::string_view, 4> types = {".service", ".timer", ".socket", ".path"};
                if (std::none_of(types.begin(), types.end(),
                                 [&](std::string_view type) { return unit.ends_with(type); }))
                    continue;
                item.emplace(model::ItemKind::systemd, "Systemd unit (system)", model::Scope::machine, "systemd system",
                             unit);
                item->set_spec("short", unit);
                item->description = json::get_text(row, "description");
                item->location = json::get_text(row, "fragment_path");
                // Nothing here says who installed it; unknown units stay unknown.
                item->origin = model::Origin::operating_system;
                platform = "linux";
                break;
            }
        }
        if (!item) {
            ++unread;
            continue;
        }
        add_item(index, item->kind, item->name, state, assessor(platform).assess(*item).level,
                 model::ImpactLevel::not_measured);
        ++items;
    }
    computers_[index].items = items;
    if (unread > 0) {
        note(computer + ": " + std::to_string(unread) +
             (unread == 1 ? " row could not be read and is left out." : " rows could not be read and are left out."));
    }
}

FleetReport FleetReportBuilder::done() {
    FleetReport report;
    for (Entry& entry : entries_) {
        FleetRow row;
        row.kind = entry.kind;
        row.name = entry.name;
        row.computers = entry.sightings.size();
        std::map<model::Level, std::size_t> levels;
        std::map<model::ImpactLevel, std::size_t> impacts;
        for (const Sighting& seen : entry.sightings) {
            (seen.state == FleetState::on ? row.on : seen.state == FleetState::off ? row.off : row.unknown)++;
            ++levels[seen.level];
            if (seen.impact != model::ImpactLevel::not_measured) ++impacts[seen.impact];
        }
        if (row.on != row.off) row.majority = row.on > row.off ? FleetState::on : FleetState::off;
        if (row.majority) {
            const FleetState minority = *row.majority == FleetState::on ? FleetState::off : FleetState::on;
            for (const Sighting& seen : entry.sightings) {
                if (seen.state == minority) row.differs.push_back(computers_[seen.computer].name);
            }
        }
        row.levels.assign(levels.begin(), levels.end());
        std::stable_sort(row.levels.begin(), row.levels.end(), [](const auto& a, const auto& b) {
            if (a.second != b.second) return a.second > b.second;
            return a.first > b.first;
        });
        row.level = row.levels.front().first;
        // The costliest of the impacts most computers measured.
        std::size_t most = 0;
        for (const auto& [impact, count] : impacts) {
            if (count > most) {
                most = count;
                row.impact = impact;
            }
        }
        report.items.push_back(std::move(row));
    }
    std::stable_sort(report.items.begin(), report.items.end(), [](const FleetRow& a, const FleetRow& b) {
        if (a.computers != b.computers) return a.computers > b.computers;
        const std::string left = to_lower_ascii(a.name);
        const std::string right = to_lower_ascii(b.name);
        if (left != right) return left < right;
        return a.kind < b.kind;
    });
    for (const auto& [table, names] : osquery_computers_) {
        const OsqueryTable which = table == "services"        ? OsqueryTable::services
                                   : table == "systemd_units" ? OsqueryTable::systemd_units
                                                              : OsqueryTable::startup_items;
        notes_.push_back("Read from osquery's " + table + " (" + computer_list(names) + "): " + cannot_say(which) +
                         ".");
    }
    report.computers = std::move(computers_);
    report.notes = std::move(notes_);
    return report;
}

}  // namespace qm::engine
