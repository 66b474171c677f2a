#include "platforms/linux/systemd_units.h"

#include <climits>
#include <cstdlib>
#include <sys/stat.h>

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "os/files.h"
#include "formats/unit_file.h"
#include "platforms/linux/exact_files.h"
#include "platforms/linux/start_later.h"
#include "util/text.h"

namespace qm::linux {

namespace {

// The three sets of units the scan shows, each read from its folders in the
// order systemd gives them precedence.
enum class UnitScope { system, global, own };

std::vector<std::string> unit_folders(const LinuxContext& context, UnitScope scope) {
    switch (scope) {
        case UnitScope::system:
            // The generators' folders hold what a running systemd made at boot
            // (init scripts, rc.local, fstab); they are empty in a test root.
            return {"/run/systemd/generator.early", "/etc/systemd/system",           "/run/systemd/system",
                    "/run/systemd/generator",       "/usr/local/lib/systemd/system", "/lib/systemd/system",
                    "/usr/lib/systemd/system",      "/run/systemd/generator.late"};
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
    bool wanted_by_config = false;      // linked from an administrator's or the user's *.wants
    bool wanted_by_vendor = false;      // linked from a package's *.wants
    bool generated = false;             // made by a generator from another file (an init script)
    std::set<std::string> wanted_from;  // the targets whose *.wants or *.requires link it
    std::int64_t linked_at = 0;         // when the newest administrator's or user's link to it was made
    std::vector<std::string> dropins;   // the drop-in files applied, on the computer
    std::string text;                   // the unit file's own text
    formats::UnitFile parsed;
};

// The entries named "*.d" of each unit folder (by its path on the computer),
// listed once per scan: a unit's drop-ins are looked for only where its
// folder of them is, not by opening every folder's "{name}.d" for every unit.
using DropinFolders = std::map<std::string, std::set<std::string>>;

DropinFolders find_dropin_folders(const LinuxContext& context, const std::vector<std::string>& folders) {
    DropinFolders found;
    for (const std::string& folder : folders) {
        std::set<std::string>& names = found[folder];
        for (const os::FolderEntry& entry :
             os::list_folder(context.root.at(folder)).value_or(std::vector<os::FolderEntry>{})) {
            if (entry.name.ends_with(".d")) names.insert(entry.name);
        }
    }
    return found;
}

struct UnitTable {
    std::map<std::string, FoundUnit> units;  // by name
    std::vector<std::string> order;          // names in the order first seen
    std::vector<std::string> notes;          // unit files that could not be read
    DropinFolders dropin_folders;            // of the scope's unit folders

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

// The unit a link names, through links of the vendor's own aliases
// (display-manager.service -> gdm3.service -> gdm.service).
std::string final_unit_name(const LinuxContext& context, const std::string& folder, std::string target) {
    std::string at = folder;  // the folder `target` is relative to, on the computer
    for (int hop = 0; hop < 8; ++hop) {
        const std::string path = target.starts_with('/') ? target : os::join_path(at, target);
        const std::string here = context.root.at(path);
        if (!is_link(here)) return std::string(file_name(path));
        const std::string next = link_target(here).value_or("");
        if (next.empty() || next == "/dev/null") return std::string(file_name(path));
        at = path.substr(0, path.find_last_of('/'));
        target = next;
    }
    return std::string(file_name(target));
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
            const std::string target = name.substr(0, name.rfind('.'));
            for (const std::string& unit : sorted_names(*wanted)) {
                if (!has_wanted_type(unit, types)) continue;
                FoundUnit& found = table.entry(unit);
                (is_config_folder(folder) ? found.wanted_by_config : found.wanted_by_vendor) = true;
                // Enabling makes the link; its time is when the unit was enabled.
                if (is_config_folder(folder))
                    found.linked_at = std::max(found.linked_at, file_times(os::join_path(path, unit)).modified);
                found.wanted_from.insert(target);
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
            // A link under another name is an alias of that unit, not a unit;
            // one an administrator made (display-manager.service) enables it.
            if (file_name(target) != name) {
                const std::string aliased = final_unit_name(context, folder, target);
                if (is_config_folder(folder) && has_wanted_type(aliased, types) &&
                    formats::unit_type_of(aliased) == formats::unit_type_of(name))
                    table.entry(aliased).wanted_by_config = true;
                continue;
            }
        }
        const os::PathKind kind = os::path_kind(path);
        if (kind == os::PathKind::folder || kind == os::PathKind::missing) continue;
        Result<std::string> text = os::read_whole_file(path);
        if (!text) {
            table.notes.push_back("The unit file " + os::join_path(folder, name) +
                                  " could not be read: " + os::failure_reason(text.error().message));
            continue;
        }
        files_taken.insert(name);
        FoundUnit& found = table.units.contains(name) ? table.units[name] : table.entry(name);
        found.file = os::join_path(folder, name);
        found.text = std::move(*text);
        found.parsed = formats::parse_unit_file(found.text);
        found.generated = folder.starts_with("/run/systemd/generator");
    }
}

// The real folder a unit folder is on this machine, so that /lib and
// /usr/lib count once where one is a link to the other, and twice where
// they are separate folders (a system without the merged /usr).
std::string real_folder(const std::string& path) {
    char resolved[PATH_MAX];
    if (::realpath(path.c_str(), resolved) == nullptr) return path;
    return resolved;
}

// The drop-ins of `name` ({name}.d/*.conf, and the template's for an
// instance) in every folder; a file name in an earlier folder hides the same
// name further down; applied in the order of their names, as systemd does.
std::vector<std::string> dropins_of(const LinuxContext& context, const std::vector<std::string>& folders,
                                    const DropinFolders& dropin_folders, const std::string& name) {
    std::map<std::string, std::string> by_name;
    // An instance's own drop-ins first: they win over the template's of the same name.
    std::vector<std::string> owners{name};
    if (formats::template_of(name) != name) owners.push_back(formats::template_of(name));
    for (const std::string& owner : owners) {
        for (const std::string& folder : folders) {
            if (auto known = dropin_folders.find(folder);
                known != dropin_folders.end() && !known->second.contains(owner + ".d"))
                continue;
            const std::string dropin_folder = os::join_path(folder, owner + ".d");
            Result<std::vector<os::FolderEntry>> listed = os::list_folder(context.root.at(dropin_folder));
            if (!listed) continue;
            for (const os::FolderEntry& entry : *listed) {
                if (entry.is_folder || !entry.name.ends_with(".conf")) continue;
                if (!by_name.contains(entry.name)) by_name[entry.name] = os::join_path(dropin_folder, entry.name);
            }
        }
    }
    std::vector<std::string> paths;
    for (const auto& [file, path] : by_name) paths.push_back(path);
    return paths;
}

// The first word of an init script's "Short-Description:" header, if any.
std::string init_script_description(const std::string& text) {
    for (const std::string& line : split_lines(text)) {
        const std::size_t at = line.find("Short-Description:");
        if (line.starts_with("#") && at != std::string::npos) return trim(std::string_view(line).substr(at + 18));
    }
    return {};
}

bool is_executable(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && (info.st_mode & 0111) != 0;
}

// What systemd's generators make at boot, for a computer that systemd does
// not run now (a test root, a container): a service for every init script
// with a start link in a multi-user runlevel and no unit of its own name, and
// rc-local.service when /etc/rc.local can be run.
void add_generated(const LinuxContext& context, UnitTable& table) {
    Result<std::vector<os::FolderEntry>> scripts = os::list_folder(context.root.at("/etc/init.d"));
    std::set<std::string> started;
    for (const char* level : {"/etc/rc2.d", "/etc/rc3.d", "/etc/rc4.d", "/etc/rc5.d"}) {
        for (const os::FolderEntry& entry :
             os::list_folder(context.root.at(level)).value_or(std::vector<os::FolderEntry>{})) {
            if (entry.name.size() > 3 && entry.name[0] == 'S') started.insert(entry.name.substr(3));
        }
    }
    for (const std::string& script : scripts ? sorted_names(*scripts) : std::vector<std::string>{}) {
        const std::string unit = script + ".service";
        const std::string path = "/etc/init.d/" + script;
        if (!started.contains(script) || !is_executable(context.root.at(path))) continue;
        if (auto known = table.units.find(unit); known != table.units.end() && !known->second.file.empty()) continue;
        const std::string text = os::read_whole_file(context.root.at(path)).value_or("");
        FoundUnit& found = table.entry(unit);
        found.file = path;
        found.generated = true;
        found.wanted_by_config = true;
        found.wanted_from.insert("multi-user.target");
        found.parsed.description = init_script_description(text);
        if (found.parsed.description.empty()) found.parsed.description = "Init script " + script;
        found.parsed.exec_start = path + " start";
    }
    if (is_executable(context.root.at("/etc/rc.local"))) {
        FoundUnit& found = table.entry("rc-local.service");
        if (found.file.empty()) {
            found.file = "/etc/rc.local";
            found.parsed.description = "/etc/rc.local Compatibility";
            found.parsed.exec_start = "/etc/rc.local start";
        }
        found.generated = true;
        found.wanted_by_config = true;
        found.wanted_from.insert("multi-user.target");
    }
}

// Drop-ins change what the unit runs and says, as `systemctl cat` shows:
// the unit's own text read again with each drop-in after it.
void apply_dropins(const LinuxContext& context, const std::vector<std::string>& folders,
                   const DropinFolders& dropin_folders, const std::string& name, FoundUnit& found) {
    std::string text = found.text;
    found.dropins.clear();
    for (const std::string& dropin : dropins_of(context, folders, dropin_folders, name)) {
        Result<std::string> extra = os::read_whole_file(context.root.at(dropin));
        if (!extra) continue;
        text += "\n" + *extra;
        found.dropins.push_back(dropin);
    }
    if (!found.dropins.empty()) found.parsed = formats::parse_unit_file(text);
}

UnitTable read_units(const LinuxContext& context, UnitScope scope, const std::vector<std::string>& types) {
    UnitTable table;
    std::set<std::string> files_taken;
    std::set<std::string> folders_seen;
    const std::vector<std::string> folders = unit_folders(context, scope);
    for (const std::string& folder : folders) {
        // /lib is /usr/lib on a merged system: read the folder once.
        if (!folders_seen.insert(real_folder(context.root.at(folder))).second) continue;
        read_folder(context, folder, types, table, files_taken);
    }
    const bool services = std::find(types.begin(), types.end(), "service") != types.end();
    if (scope == UnitScope::system && services && !context.systemd_running) add_generated(context, table);
    table.dropin_folders = find_dropin_folders(context, folders);
    for (auto& [name, found] : table.units) {
        if (found.file.empty() || found.generated) continue;
        apply_dropins(context, folders, table.dropin_folders, name, found);
    }
    // An instance shown through a link takes its file from the template.
    for (auto& [name, found] : table.units) {
        if (!found.file.empty() || found.masked) continue;
        const std::string template_name = formats::template_of(name);
        if (template_name == name) continue;
        auto template_unit = table.units.find(template_name);
        if (template_unit == table.units.end()) continue;
        found.file = template_unit->second.file;
        found.text = template_unit->second.text;
        found.parsed = template_unit->second.parsed;
        apply_dropins(context, folders, table.dropin_folders, name, found);
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

std::string joined(const std::vector<std::string>& words, std::string_view between) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : std::string(between)) + word;
    return text;
}

// The units of the SSH server, which carry a session over SSH.
bool is_ssh_server(const std::string& unit) {
    return unit == "ssh.service" || unit == "sshd.service" || unit == "ssh.socket" || unit == "sshd.socket" ||
           unit.starts_with("sshd@") || unit.starts_with("ssh@");
}

constexpr std::string_view ssh_session_note =
    "You are connected over SSH, and switching off the SSH server would cut this session and lock you out of a "
    "remote computer; switch it off from a local console instead.";

// Units that are harmful to switch on, with why: the plan asks first.
std::string enable_risk(const std::string& unit) {
    if (unit == "debug-shell.service")
        return "It opens a root shell without any password on the ninth text console (Ctrl+Alt+F9): anyone at the "
               "keyboard gets full control of the computer. It is meant only for finding a boot problem.";
    if (unit.starts_with("systemd-networkd-wait-online") || unit == "NetworkManager-wait-online.service")
        return "Start-up then waits until the network is up, for up to two minutes on a computer that is offline "
               "or whose network comes up late.";
    if (unit == "systemd-nspawn@.service" || unit == "rescue.service" || unit == "emergency.service")
        return "It starts a root shell or a whole other system at boot; only switch it on if you know why.";
    return {};
}

// Targets that a normal start never reaches: the initial RAM disk's and
// the offline update's.
bool is_special_target(const std::string& target) {
    return target.starts_with("initrd") || target == "system-update.target" || target == "system-update-pre.target";
}

// The path a condition names, with "!" and "|" taken off.
struct ConditionValue {
    bool negated = false;
    std::string value;
};
ConditionValue condition_value(std::string value) {
    ConditionValue out;
    if (value.starts_with('|')) value.erase(0, 1);
    if (value.starts_with('!')) {
        out.negated = true;
        value.erase(0, 1);
    }
    out.value = trim(value);
    return out;
}

// Whether a Condition…= holds on the computer: true or false where the files
// under the root decide it, nothing where only the running system can tell
// (the machine's virtualisation, the kernel's command line, ...).
std::optional<bool> condition_holds(const LinuxContext& context, const std::string& key, const std::string& raw) {
    const ConditionValue c = condition_value(raw);
    auto result = [&](bool holds) { return std::optional<bool>(holds != c.negated); };
    const std::string key_name = key.starts_with("Assert") ? "Condition" + key.substr(6) : key;
    // A specifier (%v, the running kernel's version; %i, the instance) is
    // the running system's to fill in.
    if (c.value.find('%') != std::string::npos) return std::nullopt;
    const std::string path = context.root.at(c.value);
    // What is under these only a running system has; a test root cannot say.
    const bool runtime = context.root.is_test_root() && (c.value.starts_with("/dev/") || c.value.starts_with("/sys/") ||
                                                         c.value.starts_with("/proc/") || c.value.starts_with("/run/"));
    if (runtime && key_name.starts_with("ConditionPath")) return std::nullopt;
    if (runtime && (key_name.starts_with("ConditionDirectory") || key_name.starts_with("ConditionFile")))
        return std::nullopt;
    if (key_name == "ConditionPathExists") return result(os::path_kind(path) != os::PathKind::missing || is_link(path));
    if (key_name == "ConditionPathIsDirectory") return result(os::path_kind(path) == os::PathKind::folder);
    if (key_name == "ConditionPathIsSymbolicLink") return result(is_link(path));
    if (key_name == "ConditionFileIsExecutable") return result(is_executable(path));
    if (key_name == "ConditionFileNotEmpty") {
        struct stat info {};
        return result(::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0);
    }
    if (key_name == "ConditionDirectoryNotEmpty") {
        Result<std::vector<os::FolderEntry>> listed = os::list_folder(path);
        return result(listed && !listed->empty());
    }
    if (key_name == "ConditionFirstBoot") {
        // The first boot is the one without a machine id; `value` is yes or no.
        const std::string id = trim(os::read_file(context.root.at("/etc/machine-id"), 64).value_or(""));
        const bool first = id.empty() || id == "uninitialized";
        const std::string wanted = to_lower_ascii(c.value);
        return std::optional<bool>(first == (wanted == "yes" || wanted == "true" || wanted == "1"));
    }
    return std::nullopt;
}

// The conditions that keep a unit from starting here, and those that only
// the running system can judge.
struct ConditionCheck {
    std::vector<std::string> failed;
    std::vector<std::string> unknown;
};
ConditionCheck check_conditions(const LinuxContext& context, const formats::UnitFile& unit) {
    ConditionCheck check;
    // Conditions with "|" hold when any of them holds; the others each must.
    std::vector<std::string> triggers;
    bool trigger_held = false;
    bool trigger_unknown = false;
    for (const auto& [key, value] : unit.conditions) {
        const std::string line = key + "=" + value;
        const std::optional<bool> holds = condition_holds(context, key, value);
        if (value.starts_with('|')) {
            triggers.push_back(line);
            trigger_held = trigger_held || (holds && *holds);
            trigger_unknown = trigger_unknown || !holds;
        } else if (!holds) {
            check.unknown.push_back(line);
        } else if (!*holds) {
            check.failed.push_back(line);
        }
    }
    if (!triggers.empty() && !trigger_held)
        (trigger_unknown ? check.unknown : check.failed).push_back(joined(triggers, " or "));
    return check;
}


// What each listed unit needs and what starts it, by the item's index.
using UnitRelations = std::map<std::size_t, formats::UnitFile>;

void add_units(const LinuxContext& context, UnitScope scope, const std::vector<std::string>& types,
               model::ScanResult& result, UnitRelations& relations) {
    UnitTable table = read_units(context, scope, types);
    result.notes.insert(result.notes.end(), table.notes.begin(), table.notes.end());
    const model::ItemKind kind = scope == UnitScope::system ? model::ItemKind::systemd : model::ItemKind::systemd_user;
    const model::Scope item_scope = scope == UnitScope::own ? model::Scope::user : model::Scope::machine;
    const std::string location = scope == UnitScope::system   ? "systemd system"
                                 : scope == UnitScope::global ? "systemd user (every user)"
                                                              : "systemd user";
    // Instances this program switched off: nothing else names them any more.
    const std::string prefix = model::StartupItem(kind, "", item_scope, location, "").id();
    for (const std::string& id : items_switched_off(context.memory_folder, context.root.folder)) {
        if (!id.starts_with(prefix)) continue;
        const std::string name = id.substr(prefix.size());
        const std::string template_name = formats::template_of(name);
        auto template_unit = table.units.find(template_name);
        if (template_name == name || table.units.contains(name) || template_unit == table.units.end() ||
            template_unit->second.file.empty() || !has_wanted_type(name, types))
            continue;
        const FoundUnit from = template_unit->second;
        FoundUnit& found = table.entry(name);
        found.file = from.file;
        found.text = from.text;
        found.parsed = from.parsed;
        apply_dropins(context, unit_folders(context, scope), table.dropin_folders, name, found);
    }
    const LiveState live = read_live_state(context, scope, types);
    // Units of every user that this account masked for itself.
    std::set<std::string> masked_for_me;
    if (scope == UnitScope::global) {
        for (const std::string& folder : unit_folders(context, UnitScope::own)) {
            const std::string here = context.root.at(folder);
            for (const os::FolderEntry& entry : os::list_folder(here).value_or(std::vector<os::FolderEntry>{})) {
                if (link_target(os::join_path(here, entry.name)).value_or("") == "/dev/null")
                    masked_for_me.insert(entry.name);
            }
        }
    }
    for (const std::string& name : table.order) {
        const FoundUnit& found = table.units.at(name);
        const bool is_template = formats::template_of(name) == name && name.find('@') != std::string::npos;
        const bool wanted = found.wanted_by_config || found.wanted_by_vendor;
        // A bare template cannot be enabled without an instance name; one with
        // a default instance is that instance, listed as itself when it is there.
        if (is_template && found.parsed.default_instance.empty() && !wanted) continue;
        if (is_template && !found.parsed.default_instance.empty()) {
            const std::string instance =
                name.substr(0, name.find('@') + 1) + found.parsed.default_instance + name.substr(name.rfind('.'));
            if (table.units.contains(instance)) continue;
        }
        if (!wanted && !found.parsed.installable()) continue;
        if (found.file.empty() && !found.masked) continue;  // a link to a unit that is not there
        // A target shipped wanted by another is part of how systemd boots;
        // one that can be enabled, or was, starts what it pulls in.
        if (formats::unit_type_of(name) == "target" && !found.wanted_by_config && !found.parsed.installable()) continue;

        std::string state;
        if (auto known = live.enablement.find(name); known != live.enablement.end()) state = known->second;
        else if (found.masked) state = "masked";
        else if (found.generated) state = "generated";
        else if (found.wanted_by_config) state = "enabled";
        else if (found.wanted_by_vendor || !found.parsed.installable()) state = "static";
        else state = "disabled";
        const bool switchable = state == "enabled" || state == "enabled-runtime" || state == "disabled" ||
                                state == "linked" || state == "linked-runtime";
        std::string active;
        if (auto known = live.active.find(name); known != live.active.end()) active = known->second;

        const bool user_scope = scope == UnitScope::own;
        model::StartupItem item(kind,
                                scope == UnitScope::system   ? "Systemd unit (system)"
                                : scope == UnitScope::global ? "Systemd unit (every user)"
                                                             : "Systemd unit (this user)",
                                item_scope, location, name);
        const std::string type = formats::unit_type_of(name);
        const std::string base = name.substr(0, name.size() - type.size());
        if (type == "service") item.command = found.parsed.exec_start;
        else if (type == "timer")
            item.command = "Starts " + (found.parsed.timer_unit.empty() ? base + "service" : found.parsed.timer_unit) +
                           " on its schedule";
        else if (type == "socket") item.command = "Listens on " + found.parsed.listen;
        else if (type == "path")
            item.command = "Starts " + (found.parsed.path_unit.empty() ? base + "service" : found.parsed.path_unit) +
                           (found.parsed.watched.empty() ? " when a path changes" : " on " + found.parsed.watched);
        else if (type == "target") item.command = "Starts the units it pulls in";
        if (type == "service") item.exe = exe_of(found.parsed.exec_start);
        item.description = found.parsed.description;
        item.enabled = state == "enabled" || state == "enabled-runtime" || state == "linked" ||
                       state == "linked-runtime" || state == "alias" ||
                       (!found.masked && (state == "static" || state == "indirect" || state == "generated") && wanted);
        item.running = active == "active";
        item.state_text = capitalised(state) + (active.empty() ? "" : ", " + active);

        // Pulled in only where a normal start never goes.
        const bool special_only = !found.wanted_from.empty() && !found.wanted_by_config &&
                                  std::all_of(found.wanted_from.begin(), found.wanted_from.end(), is_special_target);
        if (item.enabled && special_only) {
            item.enabled = false;
            item.state_text += " (only in " + joined({found.wanted_from.begin(), found.wanted_from.end()}, ", ") +
                               ", not in a normal start)";
        }
        const ConditionCheck conditions = check_conditions(context, found.parsed);
        if (item.enabled && !conditions.failed.empty()) {
            item.enabled = false;
            item.state_text += " (does not start here: " + joined(conditions.failed, ", ") + " is not met)";
        } else if (item.enabled && !conditions.unknown.empty()) {
            item.state_text += " (starts only if " + joined(conditions.unknown, ", ") + ")";
        }
        const bool mine_masked = masked_for_me.contains(name);
        if (mine_masked) {
            item.enabled = false;
            item.state_text += " (masked for this account)";
        }
        if (!found.dropins.empty()) {
            std::string files;
            for (const std::string& dropin : found.dropins) files += (files.empty() ? "" : ", ") + dropin;
            item.description += (item.description.empty() ? "" : " ") + std::string("Changed by ") + files + ".";
        }

        if (context.over_ssh && scope == UnitScope::system && item.enabled && is_ssh_server(name)) {
            item.toggle = model::Toggle::locked;
            item.toggle_note = std::string(ssh_session_note);
        } else if (found.masked) {
            item.toggle = model::Toggle::locked;
            item.toggle_note = "It is masked, so nothing can start it; unmask it with systemctl first (systemctl " +
                               std::string(user_scope                   ? "--user "
                                           : scope == UnitScope::global ? "--global "
                                                                        : "") +
                               "unmask " + name + ").";
        } else if (mine_masked) {
            item.toggle = model::Toggle::locked;
            item.toggle_note =
                "You masked it for this account, so it does not start for you; unmask it with "
                "systemctl --user unmask " +
                name + ".";
        } else if (found.generated) {
            item.toggle = model::Toggle::locked;
            item.toggle_note =
                "systemd makes it at boot from " + found.file +
                (found.file.starts_with("/etc/init.d/")
                     ? "; switch the init script with update-rc.d " + found.file.substr(12) + " disable (or enable)."
                     : "; make that file not executable to stop it.");
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
        if (type == "timer") offer_timer_ways(found.parsed, found.dropins, item);
        item.set_spec("short", name);
        item.set_spec("unit", name);
        item.set_spec("state", state);
        if (!found.file.empty()) item.set_spec("file", found.file);
        if (found.linked_at != 0) item.changed = {found.linked_at, "the unit was enabled"};
        if (!found.parsed.also.empty()) {
            item.set_spec("also", joined(found.parsed.also, " "));
            item.description += (item.description.empty() ? "" : " ") + std::string("Switching it also switches ") +
                                joined(found.parsed.also, ", ") + ".";
        }
        if (const std::string why = enable_risk(name); !why.empty() && !item.enabled) item.set_spec("enable_risk", why);
        relations[result.items.size()] = found.parsed;
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

std::vector<std::string> all_unit_folders(const LinuxContext& context) {
    std::vector<std::string> folders;
    for (const UnitScope scope : {UnitScope::system, UnitScope::global, UnitScope::own}) {
        for (std::string& folder : unit_folders(context, scope)) folders.push_back(std::move(folder));
    }
    return folders;
}

void scan_units(const LinuxContext& context, const std::vector<std::string>& unit_types, model::ScanResult& result) {
    const std::size_t first = result.items.size();
    UnitRelations relations;
    add_units(context, UnitScope::system, unit_types, result, relations);
    const std::size_t system_end = result.items.size();
    add_units(context, UnitScope::global, unit_types, result, relations);
    add_units(context, UnitScope::own, unit_types, result, relations);
    // Within each set: the units that need it (Requires=, BindsTo=, Wants=
    // of a unit that starts, targets aside), and the sockets, paths and
    // timers that start it.
    auto link_dependents = [&](std::size_t begin, std::size_t end) {
        std::map<std::string, std::size_t> by_name;
        for (std::size_t i = begin; i < end; ++i) by_name[result.items[i].name] = i;
        for (std::size_t i = begin; i < end; ++i) {
            const model::StartupItem& user = result.items[i];
            if (!user.enabled || formats::unit_type_of(user.name) == "target") continue;
            const formats::UnitFile& parsed = relations[i];
            std::vector<std::string> needed = parsed.needs;
            needed.insert(needed.end(), parsed.wants.begin(), parsed.wants.end());
            const std::string type = formats::unit_type_of(user.name);
            if (type == "socket" || type == "path" || type == "timer") {
                const std::string named = type == "path" ? parsed.path_unit : type == "timer" ? parsed.timer_unit : "";
                needed.push_back(named.empty() ? user.name.substr(0, user.name.size() - type.size()) + "service"
                                               : named);
            }
            for (const std::string& name : needed) {
                auto target = by_name.find(name);
                if (target == by_name.end() || target->second == i) continue;
                std::vector<std::string>& dependents = result.items[target->second].dependents;
                if (std::find(dependents.begin(), dependents.end(), user.name) == dependents.end())
                    dependents.push_back(user.name);
            }
        }
    };
    link_dependents(first, system_end);
    link_dependents(system_end, result.items.size());
}

Result<std::string> unit_text_in_force(const LinuxContext& context, const model::StartupItem& item) {
    const std::string unit = QM_TRY(unit_name_of(item));
    const UnitScope scope = item.kind == model::ItemKind::systemd ? UnitScope::system
                            : item.scope == model::Scope::user    ? UnitScope::own
                                                                  : UnitScope::global;
    const std::string file = item.spec_value("file");
    Result<std::string> text = os::read_whole_file(context.root.at(file));
    if (file.empty() || !text) return fail("The unit file of " + unit + " could not be read.");
    const std::vector<std::string> folders = unit_folders(context, scope);
    std::string joined_text = *text;
    for (const std::string& dropin : dropins_of(context, folders, find_dropin_folders(context, folders), unit)) {
        Result<std::string> extra = os::read_whole_file(context.root.at(dropin));
        if (!extra) return fail("The drop-in " + dropin + " of " + unit + " could not be read.");
        joined_text += "\n" + *extra;
    }
    return joined_text;
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
        QM_TRY_VOID(create_folders_owned(wants));
        const std::string link = os::join_path(wants, unit);
        QM_TRY_VOID(make_link(unit_path, link));
        give_to_folder_owner(link);
        return {};
    };
    for (const std::string& target : parsed.wanted_by) QM_TRY_VOID(link_into(target, ".wants"));
    for (const std::string& target : parsed.required_by) QM_TRY_VOID(link_into(target, ".requires"));
    return {};
}

namespace {

// Every link in the folder where enabling a unit of this scope writes: the
// aliases at its top and the links of its *.wants, *.requires and *.upholds
// folders, as paths on this machine.
std::vector<std::string> config_links(const std::string& folder) {
    std::vector<std::string> links;
    Result<std::vector<os::FolderEntry>> listed = os::list_folder(folder);
    if (!listed) return links;
    for (const os::FolderEntry& entry : *listed) {
        const std::string path = os::join_path(folder, entry.name);
        if (is_link(path)) {
            links.push_back(path);
            continue;
        }
        if (!entry.is_folder ||
            !(entry.name.ends_with(".wants") || entry.name.ends_with(".requires") || entry.name.ends_with(".upholds")))
            continue;
        Result<std::vector<os::FolderEntry>> inner = os::list_folder(path);
        if (!inner) continue;
        for (const os::FolderEntry& link : *inner) {
            const std::string inside = os::join_path(path, link.name);
            if (is_link(inside)) links.push_back(inside);
        }
    }
    std::sort(links.begin(), links.end());
    return links;
}

std::string config_folder_of(const LinuxContext& context, const model::StartupItem& item, bool own_user_unit) {
    if (own_user_unit) return context.root.at(user_unit_folder(context));
    if (item.kind == model::ItemKind::systemd_user) return context.root.at("/etc/systemd/user");
    return context.root.at(system_unit_folder);
}

Result<model::ChangeOutcome> switch_unit_by_rules(const LinuxContext& context, const model::StartupItem& item, bool on,
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
        Result<std::string> text = os::read_whole_file(context.root.at(file));
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
    if (const std::string also = item.spec_value("also"); !also.empty())
        outcome.notes.push_back("systemctl switched " + also + " with it, as its [Install] section asks (Also=).");
    return outcome;
}

}  // namespace

Result<model::ChangeOutcome> switch_unit(const LinuxContext& context, const model::StartupItem& item, bool on,
                                         bool stop_now) {
    const std::string unit = QM_TRY(unit_name_of(item));
    const bool own_user_unit = item.kind == model::ItemKind::systemd_user && item.scope == model::Scope::user;
    if (!own_user_unit && !context.facts.admin) {
        return fail(ErrorKind::needs_admin, "Switching " + unit + " for the whole computer needs root rights.");
    }
    if (!on && context.over_ssh && item.kind == model::ItemKind::systemd && is_ssh_server(unit))
        return fail("Refused: " + unit + " is critical for this session. " + std::string(ssh_session_note));
    const std::string done =
        on ? unit + " will start " + when_text(item) + "." : unit + " will no longer start " + when_text(item) + ".";
    const std::string folder = config_folder_of(context, item, own_user_unit);
    auto by_rules = [&]() { return switch_unit_by_rules(context, item, on, stop_now); };
    // The links put back by hand: a running manager reads them again, and a
    // unit switched off with "stop now" is stopped as systemctl would.
    auto after_put_back = [&]() -> Result<model::ChangeOutcome> {
        model::ChangeOutcome outcome{done, {}};
        if (!context.systemd_running || (item.kind == model::ItemKind::systemd_user && !own_user_unit)) return outcome;
        const std::vector<std::string> scope = item.kind == model::ItemKind::systemd_user
                                                   ? std::vector<std::string>{"--user"}
                                                   : std::vector<std::string>{};
        std::vector<std::string> reload = scope;
        reload.push_back("daemon-reload");
        (void)context.runner(os::ToolRun{"systemctl", reload, {}, 60});
        if (!on && stop_now && item.kind == model::ItemKind::systemd) {
            if (context.runner(os::ToolRun{"systemctl", {"stop", unit}, {}, 60}).succeeded())
                outcome.notes.push_back("It was stopped now as well.");
        }
        return outcome;
    };
    return switch_exactly(
        context, item, on, [&] { return config_links(folder); }, by_rules, after_put_back);
}

}  // namespace qm::linux
