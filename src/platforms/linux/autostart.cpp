#include "platforms/linux/autostart.h"

#include <algorithm>
#include <map>

#include "formats/desktop_file.h"
#include "os/files.h"
#include "platforms/linux/exact_files.h"
#include "platforms/linux/start_later.h"
#include "util/text.h"

namespace qm::linux {

namespace {

bool is_user_folder(std::string_view folder) { return folder.starts_with("~"); }

struct FoundFile {
    std::string folder;  // as listed ("~/..." kept)
    std::string path;    // on the computer
};

// Every *.desktop name with the system file and the user file found for it.
struct AutostartFiles {
    std::map<std::string, FoundFile> system;
    std::map<std::string, FoundFile> user;
    std::vector<std::string> order;
};

AutostartFiles find_files(const LinuxContext& context, const std::vector<std::string>& folders) {
    AutostartFiles files;
    for (const std::string& folder : folders) {
        const std::string computer_folder = context.expand(folder);
        const std::vector<std::string> names = context.desktop_files(folder);
        auto& into = is_user_folder(folder) ? files.user : files.system;
        for (const std::string& name : names) {
            if (into.contains(name)) continue;  // an earlier folder of the same kind wins
            if (!files.system.contains(name) && !files.user.contains(name)) files.order.push_back(name);
            into[name] = FoundFile{folder, os::join_path(computer_folder, name)};
        }
    }
    return files;
}

bool is_off(const formats::DesktopFile& file) {
    return file.flag("Hidden") || to_lower_ascii(file.get("X-GNOME-Autostart-enabled")) == "false";
}

std::vector<std::string> list_words(std::string value) {
    std::replace(value.begin(), value.end(), ';', ' ');
    return split_command_line(value, false);
}

std::string list_text(const std::string& value) {
    std::string joined;
    for (const std::string& word : list_words(value)) joined += (joined.empty() ? "" : ", ") + word;
    return joined;
}

// The desktops XDG_CURRENT_DESKTOP names (colon-separated), as launchers match them.
std::vector<std::string> desktops_of(const std::string& current) {
    std::vector<std::string> names;
    std::size_t start = 0;
    while (start <= current.size()) {
        std::size_t end = current.find(':', start);
        if (end == std::string::npos) end = current.size();
        if (end > start) names.push_back(current.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

bool names_any(const std::string& list, const std::vector<std::string>& desktops) {
    for (const std::string& word : list_words(list)) {
        if (std::find(desktops.begin(), desktops.end(), word) != desktops.end()) return true;
    }
    return false;
}

// Why a file that is switched on still does not start for this user, or empty.
std::string why_not_started(const LinuxContext& context, const formats::DesktopFile& file) {
    if (const std::string program = file.get("TryExec"); !program.empty() && !context.program_exists(program))
        return "its program " + program + " is not installed (TryExec)";
    const std::vector<std::string> desktops = desktops_of(context.current_desktop);
    if (!desktops.empty()) {
        if (const std::string only = file.get("OnlyShowIn"); !only.empty() && !names_any(only, desktops))
            return "it starts only in " + list_text(only) + ", and this desktop is " + context.current_desktop;
        if (const std::string never = file.get("NotShowIn"); !never.empty() && names_any(never, desktops))
            return "it does not start in " + context.current_desktop;
    }
    return {};
}

// The path written for `path`: a link (a user's dotfiles) is followed to
// the file it names, which is edited in place of the link.
std::string followed(const LinuxContext& context, const std::string& path) {
    std::string here = path;
    for (int hop = 0; hop < 8 && is_link(here); ++hop) {
        const std::string target = link_target(here).value_or("");
        if (target.empty()) break;
        if (target.starts_with('/')) here = context.root.at(target);
        else here = here.substr(0, here.find_last_of('/') + 1) + target;
    }
    return here;
}

// An autostart file as listed, before its item is made.
struct Listed {
    std::string name;
    bool machine = false;
    bool from_user = false;
    std::string folder;  // the item's location
    std::string path;    // the file the item names
    std::string display;
    formats::DesktopFile file{""};
};

}  // namespace

std::string user_autostart_folder(const LinuxContext& context, const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        if (is_user_folder(folder)) return context.expand(folder);
    }
    return context.expand("~/.config/autostart");
}

std::string listed_user_autostart_folder(const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        if (is_user_folder(folder)) return folder;
    }
    return "~/.config/autostart";
}

Result<std::string> autostart_text_in_force(const LinuxContext& context, const std::vector<std::string>& folders,
                                            const model::StartupItem& item) {
    const std::string name = item.spec_value("fname");
    const AutostartFiles files = find_files(context, folders);
    auto user = files.user.find(name);
    auto system = files.system.find(name);
    const FoundFile* in_force = user != files.user.end()       ? &user->second
                                : system != files.system.end() ? &system->second
                                                               : nullptr;
    if (name.empty() || in_force == nullptr) return fail("The autostart file " + name + " is no longer there.");
    Result<std::string> text = os::read_whole_file(followed(context, context.root.at(in_force->path)));
    if (!text) return fail("Could not read " + in_force->path + ": " + os::failure_reason(text.error().message));
    return *text;
}

void scan_autostart(const LinuxContext& context, const std::vector<std::string>& folders, model::ScanResult& result) {
    const AutostartFiles files = find_files(context, folders);
    std::vector<Listed> listed;
    for (const std::string& name : files.order) {
        const auto system = files.system.find(name);
        const auto user = files.user.find(name);
        const bool from_user = user != files.user.end();
        const FoundFile& in_force = from_user ? user->second : system->second;
        // A link is read through to its file, also when it names a path of the root.
        Result<std::string> text = os::read_whole_file(followed(context, context.root.at(in_force.path)));
        if (!text) {
            result.notes.push_back("The autostart file " + in_force.path +
                                   " could not be read: " + os::failure_reason(text.error().message));
            continue;
        }
        formats::DesktopFile file(*text);
        // Launchers ignore a file without its group, so it starts nothing.
        if (!file.has_group()) continue;
        // The item stays the system file's while a user copy overrides it, so
        // switching it (which writes that copy) keeps its identity.
        const bool machine = system != files.system.end();
        std::string display = file.get("Name");
        if (display.empty()) display = name.substr(0, name.size() - 8);
        if (machine && from_user) {
            if (Result<std::string> original = os::read_whole_file(context.root.at(system->second.path))) {
                const std::string original_name = formats::DesktopFile(*original).get("Name");
                if (!original_name.empty()) display = original_name;
            }
        }
        listed.push_back(Listed{name, machine, from_user, machine ? system->second.folder : user->second.folder,
                                machine ? system->second.path : in_force.path, display, std::move(file)});
    }
    // Two files may give the same name; each is then shown with its file
    // name, so that every item is one file. A unique name is kept as it was.
    // The program's own entries that start another later keep their names,
    // so that making one never renames the item it starts.
    auto starts_later = [](const Listed& one) {
        return !one.machine && one.name.starts_with(later_prefix) && !one.file.get(delays_key).empty();
    };
    std::map<std::pair<std::string, std::string>, int> uses;
    for (const Listed& one : listed) {
        if (!starts_later(one)) ++uses[{one.folder, one.display}];
    }

    for (Listed& one : listed) {
        const formats::DesktopFile& file = one.file;
        const bool machine = one.machine;
        const std::string& name = one.name;
        const std::string display = !starts_later(one) && uses[{one.folder, one.display}] > 1 ? one.display + " (" + name + ")" : one.display;
        model::StartupItem item(model::ItemKind::autostart, machine ? "Autostart (all users)" : "Autostart (this user)",
                                machine ? model::Scope::machine : model::Scope::user, one.folder, display);
        const std::string exec = file.get("Exec");
        item.command = formats::desktop_exec_command(exec);
        const std::vector<std::string> words = split_command_line(exec, true);
        if (!words.empty()) item.exe = words[0];
        item.description = file.get("Comment");
        auto add_sentence = [&](const std::string& sentence) {
            item.description += (item.description.empty() ? "" : " ") + sentence;
        };
        if (const std::string only = file.get("OnlyShowIn"); !only.empty())
            add_sentence("Starts only in: " + list_text(only) + ".");
        if (const std::string never = file.get("NotShowIn"); !never.empty())
            add_sentence("Does not start in: " + list_text(never) + ".");
        item.enabled = !is_off(file);
        item.state_text = item.enabled ? "Enabled" : "Disabled";
        if (one.from_user && machine) item.state_text += " (your own copy overrides the system file)";
        if (item.enabled) {
            if (const std::string why = why_not_started(context, file); !why.empty()) {
                item.enabled = false;
                item.state_text = "Does not start: " + why;
            } else if (file.flag("X-GNOME-HiddenUnderSystemd")) {
                // The session starts the user unit of the same program in its place.
                item.enabled = false;
                item.state_text = "Started by its systemd user unit instead of this file";
                add_sentence("Under systemd its user unit starts it; switch that unit to change it.");
            }
        }
        item.origin = machine ? model::Origin::installed_program : model::Origin::added_for_this_account;
        if (!machine && name.starts_with("Quillmoor-")) {
            item.origin = model::Origin::own_entry;
            item.managed = true;
            item.set_spec("mode", "login");
        }
        if (starts_later(one)) {
            mark_later_entry(file.get(delays_key), whole_seconds(file.get("X-GNOME-Autostart-Delay")).value_or(0),
                             item);
        } else {
            item.ways.later = model::LaterKind::after_sign_in;
        }
        item.set_spec("short", name.substr(0, name.size() - 8));
        item.set_spec("fname", name);
        item.set_spec("file", one.path);
        item.set_spec("user_dir", one.from_user ? "1" : "0");
        // A system file is switched by a copy in the user's folder: for this account only.
        if (machine) item.set_spec("switched_for", "account");
        result.items.push_back(std::move(item));
    }
}

Result<model::ChangeOutcome> switch_autostart(const LinuxContext& context, const std::vector<std::string>& folders,
                                              const model::StartupItem& item, bool on) {
    const std::string name = item.spec_value("fname");
    if (name.empty() || name.find('/') != std::string::npos || !name.ends_with(".desktop") || name.starts_with(".")) {
        return fail("\"" + name + "\" is not an autostart file name.");
    }
    const std::string user_folder = user_autostart_folder(context, folders);
    const std::string user_path = os::join_path(user_folder, name);
    const std::string here = context.root.at(user_path);
    const std::string done =
        on ? item.name + " will start when you sign in." : item.name + " will no longer start when you sign in.";

    auto edit = [&]() -> Result<model::ChangeOutcome> {
        const AutostartFiles files = find_files(context, folders);
        const auto system = files.system.find(name);
        const std::string target = followed(context, here);
        const bool has_user_file = os::path_kind(target) == os::PathKind::file;
        std::string base_text;
        if (has_user_file) {
            Result<std::string> text = os::read_whole_file(target);
            if (!text) return fail("Could not read " + user_path + ": " + os::failure_reason(text.error().message));
            base_text = *text;
        } else if (system != files.system.end()) {
            Result<std::string> text = os::read_whole_file(context.root.at(system->second.path));
            if (!text)
                return fail("Could not read " + system->second.path + ": " + os::failure_reason(text.error().message));
            base_text = *text;
        } else {
            return fail("The autostart file " + name + " is no longer there.");
        }
        formats::DesktopFile file(base_text);
        if (!file.has_group())
            return fail(name + " is not an autostart entry: it has no [Desktop Entry] group, so nothing starts it.");

        const bool own_copy = has_user_file && file.flag(own_override_key);
        if (on && own_copy && system != files.system.end()) {
            // The program's own copy: removing it brings the system file back,
            // unless that one is switched off itself.
            Result<std::string> original = os::read_whole_file(context.root.at(system->second.path));
            if (original && !is_off(formats::DesktopFile(*original))) {
                if (Result<void> removed = os::remove_file(here); !removed) {
                    return fail("Could not delete " + user_path + ": " + os::failure_reason(removed.error().message));
                }
                return model::ChangeOutcome{done, {}};
            }
        }
        if (on) {
            // Only the keys that keep it off change; no key is added.
            if (file.flag("Hidden")) file.set("Hidden", "false");
            if (to_lower_ascii(file.get("X-GNOME-Autostart-enabled")) == "false")
                file.set("X-GNOME-Autostart-enabled", "true");
        } else if (has_user_file && !own_copy &&
                   (file.has("X-GNOME-Autostart-enabled") ||
                    names_any("GNOME", desktops_of(context.current_desktop)))) {
            // The user's own file, switched off the way their desktop does it.
            file.set("X-GNOME-Autostart-enabled", "false");
        } else {
            file.set("Hidden", "true");
        }
        if (has_user_file) {
            // Written where it is (a link's target), keeping its mode and owner.
            if (Result<void> written = os::write_file_replace(target, file.text()); !written)
                return fail("Could not write " + user_path + ": " + os::failure_reason(written.error().message));
            return model::ChangeOutcome{done, {}};
        }
        // A copy of a system file is the program's; the user's own file stays theirs.
        file.set(own_override_key, "true");
        if (Result<void> folder = create_folders_owned(context.root.at(user_folder)); !folder) {
            return fail("Could not create " + user_folder + ": " + os::failure_reason(folder.error().message));
        }
        if (Result<void> written = os::write_file_replace(here, file.text(), os::NewFile{true, false}); !written) {
            return fail("Could not write " + user_path + ": " + os::failure_reason(written.error().message));
        }
        return model::ChangeOutcome{done, {}};
    };
    auto touched = [&]() {
        // The user's folder too: a copy may be the first file in it.
        std::vector<std::string> paths{context.root.at(user_folder), here};
        if (const std::string target = followed(context, here); target != here) paths.push_back(target);
        return paths;
    };
    return switch_exactly(context, item, on, touched, edit, [&]() -> Result<model::ChangeOutcome> {
        return model::ChangeOutcome{done, {}};
    });
}

}  // namespace qm::linux
