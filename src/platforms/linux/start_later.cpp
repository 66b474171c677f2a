#include "platforms/linux/start_later.h"

#include <algorithm>
#include <map>
#include <set>

#include "formats/desktop_file.h"
#include "model/start_ways.h"
#include "os/files.h"
#include "os/new_file.h"
#include "platforms/linux/autostart.h"
#include "platforms/linux/exact_files.h"
#include "platforms/linux/own_entries.h"
#include "platforms/linux/systemd_units.h"
#include "util/text.h"

namespace qm::linux {

namespace {

PathState missing_path(const std::string& path) {
    PathState state;
    state.path = path;
    return state;
}

bool is_boot_trigger(std::string_view key) { return key == "OnBootSec" || key == "OnStartupSec"; }

Result<void> check_seconds(std::uint32_t seconds) {
    if (seconds == 0) return fail("Say how long after the start it should wait.");
    if (seconds > model::longest_later_seconds) return fail("A start more than 24 hours later is not offered.");
    return {};
}

// The same error with a sentence of its own in front, its kind kept (a
// switch that needs root rights still asks for them).
Error prefixed(std::string_view sentence, Error error) {
    error.message = std::string(sentence) + " " + error.message;
    return error;
}

// The folders on this machine that making `paths` (folders) would create,
// outermost first.
std::vector<std::string> missing_folders(const std::vector<std::string>& paths) {
    std::vector<std::string> missing;
    for (const std::string& path : paths) {
        std::vector<std::string> chain;
        for (std::string here = path; here.size() > 1 && os::path_kind(here) == os::PathKind::missing;
             here = here.substr(0, here.find_last_of('/'))) {
            chain.push_back(here);
        }
        for (auto folder = chain.rbegin(); folder != chain.rend(); ++folder) {
            if (std::find(missing.begin(), missing.end(), *folder) == missing.end()) missing.push_back(*folder);
        }
    }
    return missing;
}

void drop_folders(std::vector<std::string> folders) {
    // Innermost first; a folder with anything in it stays.
    std::sort(folders.begin(), folders.end(),
              [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
    for (const std::string& folder : folders) (void)put_back(missing_path(folder));
}

// The folders later starts made are kept with the records of exact switching,
// as one list for the root: taking back any later start removes every one of
// them that is empty then, so they go with whichever is taken back last and
// the files are as they were before the first.
constexpr std::string_view made_folders_key = "folders made for later starts";

void remember_made_folders(const LinuxContext& context, const std::vector<std::string>& folders) {
    if (context.memory_folder.empty() || folders.empty()) return;
    RememberedChange made = recall_change(context.memory_folder, context.root.folder, std::string(made_folders_key))
                                .value_or(RememberedChange{true, {}, {}});
    for (const std::string& folder : folders) {
        const bool known = std::any_of(made.before.begin(), made.before.end(),
                                       [&](const PathState& state) { return state.path == folder; });
        if (known) continue;
        made.before.push_back(missing_path(folder));
        made.after.push_back(read_path_state(folder));
    }
    (void)remember_change(context.memory_folder, context.root.folder, std::string(made_folders_key), made);
}

void drop_made_folders(const LinuxContext& context) {
    const std::optional<RememberedChange> made =
        recall_change(context.memory_folder, context.root.folder, std::string(made_folders_key));
    if (!made) return;
    std::vector<std::string> folders;
    for (const PathState& state : made->before) folders.push_back(state.path);
    drop_folders(folders);
    RememberedChange left{true, {}, {}};
    for (std::size_t i = 0; i < made->before.size(); ++i) {
        if (os::path_kind(made->before[i].path) == os::PathKind::missing) continue;
        left.before.push_back(made->before[i]);
        left.after.push_back(made->after[i]);
    }
    (void)remember_change(context.memory_folder, context.root.folder, std::string(made_folders_key), left);
}

// A name for the own entry's files, of the letters systemd allows.
std::string later_slug(const model::StartupItem& item) {
    std::string slug = unit_slug(item.name);
    if (slug.empty()) slug = unit_slug(item.spec_value("short"));
    return slug.empty() ? "program" : to_lower_ascii(slug);
}

// An Exec line as systemd's ExecStart= wants it: the launcher's field codes
// left out, "%%" the launcher's "%", then "%" and "$" escaped for systemd.
std::string service_command(std::string_view exec) {
    std::string command;
    for (const std::string& word : split_command_line(exec, true)) {
        if (word.size() == 2 && word[0] == '%' && word[1] != '%') continue;
        std::string out;
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (word[i] == '%' && i + 1 < word.size() && word[i + 1] == '%') ++i;
            if (word[i] == '%' || word[i] == '$') out.push_back(word[i]);
            out.push_back(word[i]);
        }
        if (!command.empty()) command.push_back(' ');
        if (out.find_first_of(" \t\"'\\") == std::string::npos) {
            command += out;
            continue;
        }
        command.push_back('"');
        for (const char c : out) {
            if (c == '"' || c == '\\') command.push_back('\\');
            command.push_back(c);
        }
        command.push_back('"');
    }
    return command;
}

std::string doubled_percent(std::string_view text) {
    std::string out;
    for (const char c : text) {
        out.push_back(c);
        if (c == '%') out.push_back('%');
    }
    return out;
}

// What the original runs, read from its file in force.
struct LaterCommand {
    std::string exec;  // as the Exec= line has it
    std::string path;  // Path=, the working folder, or empty
};

// The own later entry as the scan lists it.
struct LaterEntry {
    model::StartupItem item;
    std::vector<std::string> files;  // on this machine
};

Result<LaterEntry> make_later_desktop(const LinuxContext& context, const std::vector<std::string>& folders,
                                      const model::StartupItem& item, const LaterCommand& command,
                                      std::uint32_t seconds) {
    const std::string folder = user_autostart_folder(context, folders);
    const std::vector<std::string> made = missing_folders({context.root.at(folder)});
    if (Result<void> created = create_folders_owned(context.root.at(folder)); !created)
        return fail("Could not create " + folder + ": " + os::failure_reason(created.error().message));
    const std::string display = item.name + " (started later)";
    std::string text = "[Desktop Entry]\nType=Application\nName=" + display + "\nComment=Starts " + item.name + " " +
                       model::seconds_text(seconds) + " after sign-in; made by Quillmoor\nExec=" + command.exec + "\n";
    if (!command.path.empty()) text += "Path=" + command.path + "\n";
    text += "X-GNOME-Autostart-Delay=" + std::to_string(seconds) + "\n" + std::string(delays_key) + "=" + item.id() +
            "\n";
    const std::string base = std::string(later_prefix) + later_slug(item);
    for (int n = 1; n <= 99; ++n) {
        const std::string name = (n == 1 ? base : base + "-" + std::to_string(n)) + ".desktop";
        const std::string path = os::join_path(folder, name);
        Result<bool> written = os::write_file_new(context.root.at(path), text);
        if (!written) {
            drop_folders(made);
            return fail("The autostart file that starts " + item.name +
                        " later could not be written: " + os::failure_reason(written.error().message));
        }
        if (!*written) continue;  // a file of that name is there
        give_to_folder_owner(context.root.at(path));
        model::StartupItem own(model::ItemKind::autostart, "Autostart (this user)", model::Scope::user,
                               listed_user_autostart_folder(folders), display);
        own.set_spec("fname", name);
        own.set_spec("file", path);
        own.set_spec("user_dir", "1");
        remember_made_folders(context, made);
        return LaterEntry{std::move(own), {context.root.at(path)}};
    }
    drop_folders(made);
    return fail("No free name was found for the autostart file that starts " + item.name + " later.");
}

Result<LaterEntry> make_later_units(const LinuxContext& context, const std::vector<std::string>& folders,
                                    const model::StartupItem& item, const LaterCommand& command,
                                    std::uint32_t seconds) {
    const std::string folder = user_unit_folder(context);
    const std::string here = context.root.at(folder);
    // Enabling the timer links it into timers.target.wants, and switching the
    // program off writes into the user's autostart folder: made here, both
    // are taken back with the rest.
    const std::string autostart = context.root.at(user_autostart_folder(context, folders));
    const std::vector<std::string> made = missing_folders({os::join_path(here, "timers.target.wants"), autostart});
    for (const std::string& needed : {here, autostart}) {
        if (Result<void> created = create_folders_owned(needed); !created) {
            drop_folders(made);
            return fail("Could not create " + needed + ": " + os::failure_reason(created.error().message));
        }
    }
    const std::string head = "[Unit]\nDescription=Starts " + doubled_percent(item.name) + " " +
                             model::seconds_text(seconds) + " after sign-in (made by Quillmoor)\n" +
                             std::string(delays_key) + "=" + item.id() + "\n";
    std::string service = head + "\n[Service]\nType=simple\nExecStart=" + service_command(command.exec) + "\n";
    if (!command.path.empty()) service += "WorkingDirectory=" + doubled_percent(command.path) + "\n";
    const std::string timer = head + "\n[Timer]\nOnStartupSec=" + std::to_string(seconds) +
                              "s\n\n[Install]\nWantedBy=timers.target\n";
    const std::string base = std::string(later_prefix) + later_slug(item);
    for (int n = 1; n <= 99; ++n) {
        const std::string name = n == 1 ? base : base + "-" + std::to_string(n);
        const std::string service_path = os::join_path(folder, name + ".service");
        const std::string timer_path = os::join_path(folder, name + ".timer");
        if (os::path_kind(context.root.at(timer_path)) != os::PathKind::missing) continue;
        Result<bool> written = os::write_file_new(context.root.at(service_path), service);
        if (written && !*written) continue;
        Result<bool> timer_written = written ? os::write_file_new(context.root.at(timer_path), timer) : written;
        if (!written || !timer_written || !*timer_written) {
            if (written) (void)os::remove_file(context.root.at(service_path));
            if (timer_written && !*timer_written) continue;
            drop_folders(made);
            const std::string reason = !written ? written.error().message : timer_written.error().message;
            return fail("The user units that start " + item.name + " later could not be written: " +
                        os::failure_reason(reason));
        }
        give_to_folder_owner(context.root.at(service_path));
        give_to_folder_owner(context.root.at(timer_path));
        model::StartupItem own(model::ItemKind::systemd_user, "Systemd unit (this user)", model::Scope::user,
                               "systemd user", name + ".timer");
        own.set_spec("unit", name + ".timer");
        own.set_spec("file", timer_path);
        own.set_spec("state", "disabled");
        remember_made_folders(context, made);
        LaterEntry entry{std::move(own), {context.root.at(timer_path), context.root.at(service_path)}};
        if (Result<model::ChangeOutcome> enabled = switch_unit(context, entry.item, true, false); !enabled) {
            for (const std::string& file : entry.files) (void)os::remove_file(file);
            drop_made_folders(context);
            return fail(prefixed("The timer that starts " + item.name + " later could not be enabled.",
                                 enabled.error()));
        }
        return entry;
    }
    drop_folders(made);
    return fail("No free name was found for the user units that start " + item.name + " later.");
}

// Removes an own later entry with what enables it, and the folders made for it.
Result<void> remove_later_entry(const LinuxContext& context, const std::vector<std::string>& folders,
                                const model::StartupItem& own) {
    auto refused = [] { return fail("That entry is not one Quillmoor makes to start a program later."); };
    if (own.kind == model::ItemKind::autostart) {
        const std::string name = own.spec_value("fname");
        if (own.scope != model::Scope::user || !name.starts_with(later_prefix) || !name.ends_with(".desktop") ||
            name.find('/') != std::string::npos)
            return refused();
        const std::string path = os::join_path(user_autostart_folder(context, folders), name);
        if (Result<void> removed = os::remove_file(context.root.at(path)); !removed)
            return fail("Could not delete " + path + ": " + os::failure_reason(removed.error().message));
    } else if (own.kind == model::ItemKind::systemd_user && own.scope == model::Scope::user) {
        const std::string unit = own.spec_value("unit");
        if (!unit.starts_with(later_prefix) || !unit.ends_with(".timer") || unit.find('/') != std::string::npos)
            return refused();
        const std::string folder = user_unit_folder(context);
        const std::string base = unit.substr(0, unit.size() - 6);
        const std::string timer_path = os::join_path(folder, unit);
        if (os::path_kind(context.root.at(timer_path)) == os::PathKind::file) {
            if (Result<model::ChangeOutcome> off = switch_unit(context, own, false, false); !off)
                return fail(off.error());
            // A timer already waiting in the running manager would still fire.
            if (context.systemd_running)
                (void)context.runner(os::ToolRun{"systemctl", {"--user", "stop", unit}, {}, 60});
        }
        for (const std::string& path : {timer_path, os::join_path(folder, base + ".service")}) {
            if (Result<void> removed = os::remove_file(context.root.at(path)); !removed)
                return fail("Could not delete " + path + ": " + os::failure_reason(removed.error().message));
        }
    } else {
        return refused();
    }
    drop_made_folders(context);
    return {};
}

// The folder of the unit files where a drop-in for `item` is written.
std::string dropin_base_folder(const LinuxContext& context, const model::StartupItem& item) {
    if (item.kind == model::ItemKind::systemd) return std::string(system_unit_folder);
    return item.scope == model::Scope::user ? user_unit_folder(context) : "/etc/systemd/user";
}

// A running manager reads the unit again; a test root has none, and the
// manager of every user's units is each user's own.
std::vector<std::string> reload_manager(const LinuxContext& context, const model::StartupItem& item) {
    const bool own_user_unit = item.kind == model::ItemKind::systemd_user && item.scope == model::Scope::user;
    if (!context.systemd_running || (item.kind == model::ItemKind::systemd_user && !own_user_unit)) return {};
    std::vector<std::string> arguments;
    if (own_user_unit) arguments.push_back("--user");
    arguments.push_back("daemon-reload");
    const os::RunOutput output = context.runner(os::ToolRun{"systemctl", arguments, {}, 60});
    if (output.succeeded()) return {};
    return {"systemd could not be told to read the unit again (" + os::tool_output_text(output) +
            "); it takes the change at the next start."};
}

}  // namespace

std::optional<std::uint32_t> whole_seconds(std::string_view value) {
    if (value.ends_with('s')) value.remove_suffix(1);
    if (value.empty() || value.size() > 9) return std::nullopt;
    std::uint32_t seconds = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') return std::nullopt;
        seconds = seconds * 10 + static_cast<std::uint32_t>(c - '0');
    }
    return seconds;
}

void mark_later_entry(std::string delays, std::uint32_t seconds, model::StartupItem& item) {
    item.origin = model::Origin::own_entry;
    item.managed = true;
    item.ways = model::StartWays{};
    item.ways.delays = std::move(delays);
    item.ways.taken_seconds = seconds;
}

void offer_timer_ways(const formats::UnitFile& unit, const std::vector<std::string>& dropins,
                      model::StartupItem& item) {
    const std::string delays = formats::unit_extension(unit, delays_key);
    if (item.name.starts_with(later_prefix) && !delays.empty() && item.kind == model::ItemKind::systemd_user &&
        item.scope == model::Scope::user) {
        std::uint32_t seconds = 0;
        for (const auto& [key, value] : unit.triggers) {
            if (key == "OnStartupSec") seconds = whole_seconds(value).value_or(0);
        }
        mark_later_entry(delays, seconds, item);
        return;
    }
    const auto boot = std::find_if(unit.triggers.begin(), unit.triggers.end(),
                                   [](const auto& trigger) { return is_boot_trigger(trigger.first); });
    const bool moved = std::any_of(dropins.begin(), dropins.end(), [](const std::string& path) {
        return path.ends_with("/" + std::string(later_dropin_name));
    });
    if (moved) {
        item.ways.later = model::LaterKind::after_boot;
        item.ways.taken = model::ChangeAction::later;
        item.ways.taken_seconds = boot == unit.triggers.end() ? 0 : whole_seconds(boot->second).value_or(0);
        const std::string taken = model::taken_text(item.ways);
        item.state_text += "; " + to_lower_ascii(taken.substr(0, 1)) + taken.substr(1);
    } else if (boot != unit.triggers.end() && item.toggle != model::Toggle::locked &&
               item.origin != model::Origin::own_entry) {
        item.ways.later = model::LaterKind::after_boot;
    }
}

void describe_later_entries(std::vector<model::StartupItem>& items) {
    std::map<std::string, std::string> names;
    for (const model::StartupItem& item : items) names.emplace(item.id(), item.name);
    for (model::StartupItem& item : items) {
        if (item.ways.delays.empty()) continue;
        const auto started = names.find(item.ways.delays);
        const std::string when = model::seconds_text(item.ways.taken_seconds) + " after sign-in";
        item.state_text = started != names.end() ? "Starts " + started->second + " " + when
                                                 : "Starts a program that is no longer listed " + when;
    }
}

Result<model::WayOutcome> set_autostart_way(const LinuxContext& context, const std::vector<std::string>& folders,
                                            const model::StartupItem& item, const model::WayRequest& request) {
    if (request.way == model::ChangeAction::on_time) {
        const model::StartupItem* own = request.own_entry;
        if (own != nullptr && own->ways.delays != item.id())
            return fail("The entry " + own->name + " does not start " + item.name + ".");
        Result<model::ChangeOutcome> on = switch_autostart(context, folders, item, true);
        if (!on) return fail(prefixed(item.name + " could not be switched on again.", on.error()));
        if (own != nullptr) {
            if (Result<void> removed = remove_later_entry(context, folders, *own); !removed) {
                // Both would start it: the original goes off again, as it was.
                (void)switch_autostart(context, folders, item, false);
                return fail(prefixed("The entry that starts " + item.name + " later could not be removed.",
                                     removed.error()));
            }
        }
        return model::WayOutcome{{item.name + " will start when you sign in, as before.", on->notes}, {}};
    }
    if (request.way != model::ChangeAction::later || item.ways.later != model::LaterKind::after_sign_in)
        return fail("\"Start only when needed\" is not a way an autostart file can take.");
    QM_TRY_VOID(check_seconds(request.seconds));
    const formats::DesktopFile file(QM_TRY(autostart_text_in_force(context, folders, item)));
    const LaterCommand command{file.get("Exec"), file.get("Path")};
    if (trim(command.exec).empty()) return fail(item.name + " has no command (Exec=) that could start later.");
    // GNOME's session waits the delay itself; other sessions get a user timer.
    const bool gnome = context.current_desktop.find("GNOME") != std::string::npos;
    LaterEntry made = QM_TRY(gnome ? make_later_desktop(context, folders, item, command, request.seconds)
                                   : make_later_units(context, folders, item, command, request.seconds));
    Result<model::ChangeOutcome> off = switch_autostart(context, folders, item, false);
    if (!off) {
        (void)remove_later_entry(context, folders, made.item);
        return fail(prefixed(item.name + " could not be switched off, so nothing was changed.", off.error()));
    }
    return model::WayOutcome{
        {item.name + " will start " + model::seconds_text(request.seconds) + " after you sign in.", off->notes},
        made.item.id()};
}

Result<model::WayOutcome> set_timer_way(const LinuxContext& context, const model::StartupItem& item,
                                        const model::WayRequest& request) {
    const std::string unit = item.spec_value("unit");
    if (!unit.ends_with(".timer") || unit.starts_with('-') || unit.find('/') != std::string::npos)
        return fail("\"" + unit + "\" is not a timer, so it cannot fire later.");
    const bool own_user_unit = item.kind == model::ItemKind::systemd_user && item.scope == model::Scope::user;
    if (!own_user_unit && !context.facts.admin)
        return fail(ErrorKind::needs_admin, "Changing when " + unit + " fires needs root rights.");
    const std::string folder = os::join_path(dropin_base_folder(context, item), unit + ".d");
    const std::string path = os::join_path(folder, later_dropin_name);

    if (request.way == model::ChangeAction::on_time) {
        if (Result<void> removed = os::remove_file(context.root.at(path)); !removed)
            return fail("Could not delete " + path + ": " + os::failure_reason(removed.error().message));
        drop_made_folders(context);
        return model::WayOutcome{{unit + " will fire as it did before.", reload_manager(context, item)}, {}};
    }
    if (request.way != model::ChangeAction::later || item.ways.later != model::LaterKind::after_boot)
        return fail("\"Start only when needed\" is not a way a timer can take.");
    QM_TRY_VOID(check_seconds(request.seconds));
    const formats::UnitFile parsed = formats::parse_unit_file(QM_TRY(unit_text_in_force(context, item)));
    // An empty assignment clears every trigger, so all of them are said
    // again, each boot-relative one (kept relative to what it was: a user
    // manager starts at sign-in, not at boot) once with the new delay.
    std::string text = "# Made by Quillmoor: " + unit + " fires " + model::seconds_text(request.seconds) +
                       " after the start. Delete this file to undo.\n[Timer]\nOnBootSec=\n";
    std::set<std::string> restated;
    for (const auto& [trigger, value] : parsed.triggers) {
        if (!is_boot_trigger(trigger)) text += trigger + "=" + value + "\n";
        else if (restated.insert(trigger).second) text += trigger + "=" + std::to_string(request.seconds) + "s\n";
    }
    if (restated.empty()) return fail(unit + " does not fire at boot, so it cannot fire later after boot.");
    const std::vector<std::string> made = missing_folders({context.root.at(folder)});
    if (Result<void> created = create_folders_owned(context.root.at(folder)); !created)
        return fail("Could not create " + folder + ": " + os::failure_reason(created.error().message));
    Result<bool> written = os::write_file_new(context.root.at(path), text);
    if (!written || !*written) {
        drop_folders(made);
        return fail(written ? path + " is there already; " + unit + " was moved later before."
                            : "Could not write " + path + ": " + os::failure_reason(written.error().message));
    }
    give_to_folder_owner(context.root.at(path));
    remember_made_folders(context, made);
    const bool after_sign_in = own_user_unit && !restated.contains("OnBootSec");
    return model::WayOutcome{{unit + " will fire " + model::seconds_text(request.seconds) +
                                  (after_sign_in ? " after you sign in." : " after boot."),
                              reload_manager(context, item)},
                             {}};
}

}  // namespace qm::linux
