#include "platforms/linux/autostart.h"

#include <algorithm>
#include <map>

#include "os/files.h"
#include "formats/desktop_file.h"
#include "util/text.h"

namespace qm::linux {

namespace {

constexpr std::uint64_t desktop_file_limit = 1 << 20;

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

std::string list_text(std::string value) {
    std::replace(value.begin(), value.end(), ';', ' ');
    std::string joined;
    for (const std::string& word : split_command_line(value, false)) joined += (joined.empty() ? "" : ", ") + word;
    return joined;
}

}  // namespace

std::string user_autostart_folder(const LinuxContext& context, const std::vector<std::string>& folders) {
    for (const std::string& folder : folders) {
        if (is_user_folder(folder)) return context.expand(folder);
    }
    return context.expand("~/.config/autostart");
}

void scan_autostart(const LinuxContext& context, const std::vector<std::string>& folders, model::ScanResult& result) {
    const AutostartFiles files = find_files(context, folders);
    for (const std::string& name : files.order) {
        const auto system = files.system.find(name);
        const auto user = files.user.find(name);
        const bool from_user = user != files.user.end();
        const FoundFile& in_force = from_user ? user->second : system->second;
        Result<std::string> text = os::read_file(context.root.at(in_force.path), desktop_file_limit);
        if (!text) {
            result.notes.push_back("The autostart file " + in_force.path + " could not be read.");
            continue;
        }
        const formats::DesktopFile file(*text);
        // The item stays the system file's while a user copy overrides it, so
        // switching it (which writes that copy) keeps its identity.
        const bool machine = system != files.system.end();
        std::string display = file.get("Name");
        if (display.empty()) display = name.substr(0, name.size() - 8);
        if (machine) {
            if (Result<std::string> original =
                    os::read_file(context.root.at(system->second.path), desktop_file_limit)) {
                const std::string original_name = formats::DesktopFile(*original).get("Name");
                if (!original_name.empty()) display = original_name;
            }
        }
        model::StartupItem item(model::ItemKind::autostart, machine ? "Autostart (all users)" : "Autostart (this user)",
                                machine ? model::Scope::machine : model::Scope::user,
                                machine ? system->second.folder : user->second.folder, display);
        const std::string exec = file.get("Exec");
        item.command = formats::desktop_exec_command(exec);
        const std::vector<std::string> words = split_command_line(exec, true);
        if (!words.empty()) item.exe = words[0];
        item.description = file.get("Comment");
        if (const std::string only = file.get("OnlyShowIn"); !only.empty()) {
            item.description +=
                (item.description.empty() ? "" : " ") + std::string("Starts only in: ") + list_text(only) + ".";
        }
        if (const std::string never = file.get("NotShowIn"); !never.empty()) {
            item.description +=
                (item.description.empty() ? "" : " ") + std::string("Does not start in: ") + list_text(never) + ".";
        }
        item.enabled = !is_off(file);
        item.state_text = item.enabled ? "Enabled" : "Disabled";
        if (from_user && machine) item.state_text += " (your own copy overrides the system file)";
        item.origin = machine ? model::Origin::installed_program : model::Origin::added_for_this_account;
        if (!machine && name.starts_with("Quillmoor-")) {
            item.origin = model::Origin::own_entry;
            item.managed = true;
            item.set_spec("mode", "login");
        }
        item.set_spec("short", name.substr(0, name.size() - 8));
        item.set_spec("fname", name);
        item.set_spec("file", machine ? system->second.path : in_force.path);
        item.set_spec("user_dir", from_user ? "1" : "0");
        result.items.push_back(std::move(item));
    }
}

Result<model::ChangeOutcome> switch_autostart(const LinuxContext& context, const std::vector<std::string>& folders,
                                              const model::StartupItem& item, bool on) {
    const std::string name = item.spec_value("fname");
    if (name.empty() || name.find('/') != std::string::npos || !name.ends_with(".desktop") || name.starts_with(".")) {
        return fail("\"" + name + "\" is not an autostart file name.");
    }
    const AutostartFiles files = find_files(context, folders);
    const auto system = files.system.find(name);
    const std::string user_folder = user_autostart_folder(context, folders);
    const std::string user_path = os::join_path(user_folder, name);
    const std::string here = context.root.at(user_path);
    const bool has_user_file = os::path_kind(here) == os::PathKind::file;
    const std::string done =
        on ? item.name + " will start when you sign in." : item.name + " will no longer start when you sign in.";

    std::string base_text;
    if (has_user_file) {
        Result<std::string> text = os::read_file(here, desktop_file_limit);
        if (!text) return fail("Could not read " + user_path + ": " + os::failure_reason(text.error().message));
        base_text = *text;
    } else if (system != files.system.end()) {
        Result<std::string> text = os::read_file(context.root.at(system->second.path), desktop_file_limit);
        if (!text)
            return fail("Could not read " + system->second.path + ": " + os::failure_reason(text.error().message));
        base_text = *text;
    } else {
        return fail("The autostart file " + name + " is no longer there.");
    }
    formats::DesktopFile file(base_text);

    if (on && has_user_file && file.flag(own_override_key) && system != files.system.end()) {
        // The program's own copy: removing it brings the system file back,
        // unless that one is switched off itself.
        Result<std::string> original = os::read_file(context.root.at(system->second.path), desktop_file_limit);
        if (original && !is_off(formats::DesktopFile(*original))) {
            if (Result<void> removed = os::remove_file(here); !removed) {
                return fail("Could not delete " + user_path + ": " + os::failure_reason(removed.error().message));
            }
            return model::ChangeOutcome{done, {}};
        }
    }
    if (on) {
        file.set("Hidden", "false");
        if (file.has("X-GNOME-Autostart-enabled")) file.set("X-GNOME-Autostart-enabled", "true");
    } else {
        file.set("Hidden", "true");
    }
    // A copy of a system file is the program's; the user's own file stays theirs.
    if (!has_user_file) file.set(own_override_key, "true");
    if (Result<void> folder = os::create_folders(context.root.at(user_folder)); !folder) {
        return fail("Could not create " + user_folder + ": " + os::failure_reason(folder.error().message));
    }
    if (Result<void> written = os::write_file_replace(here, file.text()); !written) {
        return fail("Could not write " + user_path + ": " + os::failure_reason(written.error().message));
    }
    return model::ChangeOutcome{done, {}};
}

}  // namespace qm::linux
