#include "platforms/linux/systemd_units.h"

#include <algorithm>
#include <map>
#include <set>

#include "os/files.h"
#include "formats/unit_file.h"
#include "util/text.h"

namespace qm::linux {

namespace {

// The three sets of units the scan shows, each read from its folders in the
// order systemd gives them precedence.
enum class UnitScope { system, global, own };

std::vector<std::string> unit_folders(const LinuxContext& context, UnitScope scope) {
    switch (scope) {
        case UnitScope::system:
            return {"/etc/systemd/system", "/run/systemd/system", "/usr/local/lib/systemd/system",
                    "/lib/systemd/system", "/usr/lib/systemd/system"};
        case UnitScope::global:
            return {"/etc/systemd/user", "/usr/local/lib/systemd/user", "/usr/lib/systemd/user", "/lib/systemd/user"};
        case UnitScope::own:
            return {user_unit_folder(context), context.expand("~/.local/share/systemd/user")};
    }
    return {};
}

// Folders whose *.wants links an administrator (or the user) made: those
// units are enabled. Links in the other folders come with packages: static.
bool is_config_folder(std::string_view folder) {
    return folder.starts_with("/etc/") || folder.starts_with("/run/") ||
           folder.find("/.config/") != std::string_view::npos;
}

struct FoundUnit {
    std::string name;
    std::string file;  // the unit file on the computer; empty when only masked
    bool masked = false;
    bool wanted_by_config = false;  // linked from an administrator's or the user's *.wants
    bool wanted_by_vendor = false;  // linked from a package's *.wants
    formats::UnitFile parsed;
};

struct UnitTable {
    std::map<std::string, FoundUnit> units;  // by name
    std::vector<std::string> order;          // names in the order first seen

    FoundUnit& entry(const std::string& name) {
        auto [at, added] = units.try_emplace(name);
        if (added) {
            at->second.name = name;
            order.push_back(name);
        }
        return at->second;
    }
};

bool has_wanted_type(std::string_view name, const std::vector<std::string>& types) {
    const std::string type = formats::unit_type_of(name);
    return std::find(types.begin(), types.end(), type) != types.end() && name.size() > type.size() + 1;
}

std::vector<std::string> sorted_names(const std::vector<os::FolderEntry>& entries) {
    std::vector<std::string> names;
    for (const os::FolderEntry& entry : entries) names.push_back(entry.name);
    std::sort(names.begin(), names.end());
    return names;
}

void read_folder(const LinuxContext& context, const std::string& folder, const std::vector<std::string>& types,
                 UnitTable& table, std::set<std::string>& files_taken) {
    const std::string here = context.root.at(folder);
    Result<std::vector<os::FolderEntry>> listed = os::list_folder(here);
    if (!listed) return;
    for (const std::string& name : sorted_names(*listed)) {
        const std::string path = os::join_path(here, name);
        if (name.ends_with(".wants") || name.ends_with(".requires")) {
            if (os::path_kind(path) != os::PathKind::folder) continue;
            Result<std::vector<os::FolderEntry>> wanted = os::list_folder(path);
            if (!wanted) continue;
            for (const std::string& unit : sorted_names(*wanted)) {
                if (!has_wanted_type(unit, types)) continue;
                FoundUnit& found = table.entry(unit);
                (is_config_folder(folder) ? found.wanted_by_config : found.wanted_by_vendor) = true;
            }
            continue;
        }
        if (!has_wanted_type(name, types) || files_taken.contains(name)) continue;
        if (is_link(path)) {
            const std::string target = link_target(path).value_or("");
            if (target == "/dev/null") {
                // The file further down still says what the masked unit is.
                table.entry(name).masked = true;
                continue;
            }
            // A link under another name is an alias of that unit, not a unit.
            if (file_name(target) != name) continue;
        }
        if (os::path_kind(path) != os::PathKind::file) continue;
        files_taken.insert(name);
        Result<std::string> text = os::read_file(path, 1 << 20);
        FoundUnit& found = table.units.contains(name) ? table.units[name] : table.entry(name);
        found.file = os::join_path(folder, name);
        if (text) found.parsed = formats::parse_unit_file(*text);
    }
}

UnitTable read_units(const LinuxContext& context, UnitScope scope, const std::vector<std::string>& types) {
    UnitTable table;
    std::set<std::string> files_taken;
    std::set<std::string> folders_seen;
    for (const std::string& folder : unit_folders(context, scope)) {
        // /lib is /usr/lib on a merged system: read the folder once.
        if (!folders_seen.insert(folder.starts_with("/lib/") ? "/usr" + folder : folder).second) continue;
        read_folder(context, folder, types, table, files_taken);
    }
    // An instance shown through a link takes its file from the template.
    for (auto& [name, found] : table.units) {
        if (!found.file.empty() || found.masked) continue;
        const std::string template_name = formats::template_of(name);
        if (template_name == name) continue;
        auto template_unit = table.units.find(template_name);
        if (template_unit == table.units.end()) continue;
        found.file = template_unit->second.file;
        found.parsed = template_unit->second.parsed;
    }
    return table;
}

struct LiveState {
    std::map<std::string, std::string> enablement;  // from list-unit-files
    std::map<std::string, std::string> active;      // from list-units
};

std::vector<std::string> words_of_lines(const std::string& text, std::size_t column) {
    std::vector<std::string> values;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        const std::vector<std::string> words =
            split_command_line(std::string_view(text).substr(start, end - start), false);
        if (words.size() > column) {
            values.push_back(words[0]);
            values.push_back(words[column]);
        }
        start = end + 1;
    }
    return values;
}

std::vector<std::string> scope_arguments(UnitScope scope) {
    switch (scope) {
        case UnitScope::system:
            return {};
        case UnitScope::global:
            return {"--global"};
        case UnitScope::own:
            return {"--user"};
    }
    return {};
}

LiveState read_live_state(const LinuxContext& context, UnitScope scope, const std::vector<std::string>& types) {
    LiveState live;
    if (!context.systemd_running) return live;
    std::string type_list;
    for (const std::string& type : types) type_list += (type_list.empty() ? "" : ",") + type;
    std::vector<std::string> arguments = scope_arguments(scope);
    arguments.insert(arguments.end(), {"list-unit-files", "--no-legend", "--no-pager", "--type=" + type_list});
    const os::RunOutput files = context.runner(os::ToolRun{"systemctl", arguments, {}, 30});
    const std::vector<std::string> pairs = words_of_lines(files.out, 1);
    for (std::size_t i = 0; i + 1 < pairs.size(); i += 2) live.enablement[pairs[i]] = pairs[i + 1];
    if (scope == UnitScope::global) return live;  // nothing runs in the "every user" set itself
    arguments = scope_arguments(scope);
    arguments.insert(arguments.end(),
                     {"list-units", "--all", "--plain", "--no-legend", "--no-pager", "--type=" + type_list});
    const os::RunOutput units = context.runner(os::ToolRun{"systemctl", arguments, {}, 30});
    const std::vector<std::string> active = words_of_lines(units.out, 2);
    for (std::size_t i = 0; i + 1 < active.size(); i += 2) live.active[active[i]] = active[i + 1];
    return live;
}

std::string capitalised(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = static_cast<char>(text[0] - 'a' + 'A');
    return text;
}

std::string exe_of(const std::string& command) {
    const std::vector<std::string> words = split_command_line(command, true);
    return words.empty() ? std::string() : words[0];
}

void add_units(const LinuxContext& context, UnitScope scope, const std::vector<std::string>& types,
               model::ScanResult& result) {
    const UnitTable table = read_units(context, scope, types);
    const LiveState live = read_live_state(context, scope, types);
    for (const std::string& name : table.order) {
        const FoundUnit& found = table.units.at(name);
        const bool is_template = formats::template_of(name) == name && name.find('@') != std::string::npos;
        const bool wanted = found.wanted_by_config || found.wanted_by_vendor;
        // A bare template cannot be enabled without an instance name.
        if (is_template && found.parsed.default_instance.empty() && !wanted) continue;
        if (!wanted && !found.parsed.installable()) continue;
        if (found.file.empty() && !found.masked) continue;  // a link to a unit that is not there

        std::string state;
        if (auto known = live.enablement.find(name); known != live.enablement.end()) state = known->second;
        else if (found.masked) state = "masked";
        else if (found.wanted_by_config) state = "enabled";
        else if (found.wanted_by_vendor || !found.parsed.installable()) state = "static";
        else state = "disabled";
        const bool switchable = state == "enabled" || state == "enabled-runtime" || state == "disabled" ||
                                state == "linked" || state == "linked-runtime";
        std::string active;
        if (auto known = live.active.find(name); known != live.active.end()) active = known->second;

        const bool user_scope = scope == UnitScope::own;
        model::StartupItem item(scope == UnitScope::system ? model::ItemKind::systemd : model::ItemKind::systemd_user,
                                scope == UnitScope::system   ? "Systemd unit (system)"
                                : scope == UnitScope::global ? "Systemd unit (every user)"
                                                             : "Systemd unit (this user)",
                                user_scope ? model::Scope::user : model::Scope::machine,
                                scope == UnitScope::system   ? "systemd system"
                                : scope == UnitScope::global ? "systemd user (every user)"
                                                             : "systemd user",
                                name);
        const std::string type = formats::unit_type_of(name);
        if (type == "service") item.command = found.parsed.exec_start;
        else if (type == "timer")
            item.command = "Starts " +
                           (found.parsed.timer_unit.empty() ? name.substr(0, name.size() - 5) + "service"
                                                            : found.parsed.timer_unit) +
                           " on its schedule";
        else if (type == "socket") item.command = "Listens on " + found.parsed.listen;
        if (type == "service") item.exe = exe_of(found.parsed.exec_start);
        item.description = found.parsed.description;
        item.enabled = state == "enabled" || state == "enabled-runtime" || state == "linked" ||
                       state == "linked-runtime" || state == "alias" ||
                       (!found.masked && (state == "static" || state == "indirect" || state == "generated") && wanted);
        item.running = active == "active";
        item.state_text = capitalised(state) + (active.empty() ? "" : ", " + active);
        if (found.masked) {
            item.toggle = model::Toggle::locked;
            item.toggle_note = "It is masked, so nothing can start it; unmask it with systemctl first.";
        } else if (!switchable) {
            item.toggle = model::Toggle::locked;
            item.toggle_note = "Other units start it; it has no [Install] section of its own to switch.";
        } else if (!user_scope && !context.facts.admin) {
            item.toggle = model::Toggle::admin;
            item.toggle_note = "Switching a unit for the whole computer needs root rights (sudo).";
        }
        item.origin = model::Origin::installed_program;
        if (name.starts_with(own_prefix)) {
            item.origin = model::Origin::own_entry;
            item.managed = true;
            item.set_spec("mode", scope == UnitScope::system ? "boot" : "user-service");
        }
        item.set_spec("short", name);
        item.set_spec("unit", name);
        item.set_spec("state", state);
        if (!found.file.empty()) item.set_spec("file", found.file);
        result.items.push_back(std::move(item));
    }
}

std::string when_text(const model::StartupItem& item) {
    if (item.kind == model::ItemKind::systemd) return "with the computer";
    return item.scope == model::Scope::user ? "when you sign in" : "when anyone signs in";
}

Result<std::string> unit_name_of(const model::StartupItem& item) {
    std::string unit = item.spec_value("unit");
    if (unit.empty()) unit = item.name;
    // The name goes to systemctl as one argument; it must not read as an option.
    if (unit.empty() || unit.starts_with('-') || unit.find('/') != std::string::npos) {
        return fail("\"" + unit + "\" is not a unit name.");
    }
    return unit;
}

}  // namespace

std::string user_unit_folder(const LinuxContext& context) { return context.expand("~/.config/systemd/user"); }

void scan_units(const LinuxContext& context, const std::vector<std::string>& unit_types, model::ScanResult& result) {
    add_units(context, UnitScope::system, unit_types, result);
    add_units(context, UnitScope::global, unit_types, result);
    add_units(context, UnitScope::own, unit_types, result);
}

Result<void> remove_unit_links(const std::string& folder, const std::string& unit) {
    Result<std::vector<os::FolderEntry>> listed = os::list_folder(folder);
    if (!listed) return {};
    for (const os::FolderEntry& entry : *listed) {
        if (!entry.name.ends_with(".wants") && !entry.name.ends_with(".requires")) continue;
        const std::string link = os::join_path(os::join_path(folder, entry.name), unit);
        if (!is_link(link)) continue;
        QM_TRY_VOID(os::remove_file(link));
    }
    return {};
}

Result<void> add_unit_links(const std::string& folder, const std::string& unit, const std::string& unit_path,
                            const std::string& unit_text) {
    const formats::UnitFile parsed = formats::parse_unit_file(unit_text);
    if (!parsed.installable())
        return fail(unit + " has no [Install] section naming a target, so it cannot be switched on.");
    auto link_into = [&](const std::string& target, std::string_view suffix) -> Result<void> {
        const std::string wants = os::join_path(folder, target + std::string(suffix));
        QM_TRY_VOID(os::create_folders(wants));
        return make_link(unit_path, os::join_path(wants, unit));
    };
    for (const std::string& target : parsed.wanted_by) QM_TRY_VOID(link_into(target, ".wants"));
    for (const std::string& target : parsed.required_by) QM_TRY_VOID(link_into(target, ".requires"));
    return {};
}

Result<model::ChangeOutcome> switch_unit(const LinuxContext& context, const model::StartupItem& item, bool on,
                                         bool stop_now) {
    const std::string unit = QM_TRY(unit_name_of(item));
    const std::string verb = on ? "enable" : "disable";
    const bool own_user_unit = item.kind == model::ItemKind::systemd_user && item.scope == model::Scope::user;
    if (!own_user_unit && !context.facts.admin) {
        return fail(ErrorKind::needs_admin, "Switching " + unit + " for the whole computer needs root rights.");
    }
    const std::string done =
        on ? unit + " will start " + when_text(item) + "." : unit + " will no longer start " + when_text(item) + ".";
    if (own_user_unit && context.root.is_test_root()) {
        // systemctl refuses --user together with --root; these are the links it would make.
        const std::string folder = context.root.at(user_unit_folder(context));
        if (!on) {
            if (Result<void> removed = remove_unit_links(folder, unit); !removed) {
                return fail("Could not switch off " + unit + ": " + os::failure_reason(removed.error().message));
            }
            return model::ChangeOutcome{done, {}};
        }
        const std::string file = item.spec_value("file");
        Result<std::string> text = os::read_file(context.root.at(file), 1 << 20);
        if (file.empty() || !text) return fail("The unit file of " + unit + " could not be read.");
        if (Result<void> added = add_unit_links(folder, unit, file, *text); !added) {
            return fail("Could not switch on " + unit + ": " + os::failure_reason(added.error().message));
        }
        return model::ChangeOutcome{done, {}};
    }

    std::vector<std::string> arguments;
    if (context.root.is_test_root()) arguments.push_back("--root=" + context.root.folder);
    if (item.kind == model::ItemKind::systemd_user) arguments.push_back(own_user_unit ? "--user" : "--global");
    arguments.push_back(verb);
    // Starting or stopping needs a running manager; a test root has none.
    const bool now = stop_now && !on && context.systemd_running && item.kind == model::ItemKind::systemd;
    if (now) arguments.push_back("--now");
    arguments.push_back(unit);
    const os::RunOutput output = context.runner(os::ToolRun{"systemctl", arguments, {}, 60});
    if (!output.succeeded()) {
        const std::string said = os::tool_output_text(output);
        const std::string lower = to_lower_ascii(said);
        const bool rights = lower.find("access denied") != std::string::npos ||
                            lower.find("permission denied") != std::string::npos ||
                            lower.find("authentication required") != std::string::npos;
        return fail(rights ? ErrorKind::needs_admin : ErrorKind::failed,
                    "systemctl could not " + verb + " " + unit + ". " + said);
    }
    model::ChangeOutcome outcome{done, {}};
    if (now) outcome.notes.push_back("It was stopped now as well.");
    return outcome;
}

}  // namespace qm::linux
