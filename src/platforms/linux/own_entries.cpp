#include "platforms/linux/own_entries.h"

#include <ctime>
#include <functional>

#include "os/files.h"
#include "platforms/linux/autostart.h"
#include "platforms/linux/cron_reboot.h"
#include "platforms/linux/exact_files.h"
#include "platforms/linux/systemd_units.h"
#include "os/new_file.h"
#include "util/text.h"

namespace qm::linux {

namespace {

// "base", "base 2" … "base 99", then the time: the first that is free.
std::string free_name(const std::string& base, std::string_view joiner,
                      const std::function<bool(const std::string&)>& taken) {
    if (!taken(base)) return base;
    for (int n = 2; n <= 99; ++n) {
        std::string candidate = base + std::string(joiner) + std::to_string(n);
        if (!taken(candidate)) return candidate;
    }
    return base + std::string(joiner) + std::to_string(static_cast<long long>(std::time(nullptr)));
}

// Launchers and systemd both give "%" a meaning of their own.
std::string doubled_percent(std::string_view text) {
    std::string out;
    for (char c : text) {
        out.push_back(c);
        if (c == '%') out.push_back('%');
    }
    return out;
}

std::string unit_text(const model::CreateDetails& details, std::string_view target, bool system) {
    std::string text = "[Unit]\nDescription=" + details.name + " (created by Quillmoor)\n\n[Service]\nType=simple\n";
    text += "ExecStart=" + doubled_percent(details.command) + "\n";
    if (!details.workdir.empty()) text += "WorkingDirectory=" + doubled_percent(details.workdir) + "\n";
    if (system && !details.user.empty() && details.user != "root") text += "User=" + details.user + "\n";
    text += "\n[Install]\nWantedBy=" + std::string(target) + "\n";
    return text;
}

Result<model::CreatedEntry> create_autostart(const LinuxContext& context, const std::vector<std::string>& folders,
                                             const std::string& slug, const model::CreateDetails& details) {
    const std::string folder = user_autostart_folder(context, folders);
    QM_TRY_VOID(create_folders_owned(context.root.at(folder)));
    std::string listed_folder = "~/.config/autostart";
    for (const std::string& candidate : folders) {
        if (candidate.starts_with("~")) {
            listed_folder = candidate;
            break;
        }
    }
    std::string text =
        "[Desktop Entry]\nType=Application\nName=" + details.name + "\nExec=" + doubled_percent(details.command) + "\n";
    if (!details.workdir.empty()) text += "Path=" + details.workdir + "\n";
    text += "Comment=Created by Quillmoor\n";
    for (int attempt = 0; attempt < 3; ++attempt) {
        const std::string base = free_name(std::string(own_prefix) + slug, " ", [&](const std::string& candidate) {
            return os::path_kind(context.root.at(os::join_path(folder, candidate + ".desktop"))) !=
                   os::PathKind::missing;
        });
        const std::string path = os::join_path(folder, base + ".desktop");
        Result<bool> written = os::write_file_new(context.root.at(path), text);
        if (!written)
            return fail("The autostart file could not be created: " + os::failure_reason(written.error().message));
        if (!*written) continue;  // taken in the meantime
        give_to_folder_owner(context.root.at(path));
        model::StartupItem item(model::ItemKind::autostart, "Autostart (this user)", model::Scope::user, listed_folder,
                                details.name);
        item.command = details.command;
        item.exe = details.exe;
        item.description = "Created by Quillmoor";
        item.origin = model::Origin::own_entry;
        item.managed = true;
        item.enabled = true;
        item.state_text = "Enabled";
        item.set_spec("short", base);
        item.set_spec("fname", base + ".desktop");
        item.set_spec("file", path);
        item.set_spec("user_dir", "1");
        item.set_spec("mode", "login");
        return model::CreatedEntry{std::move(item), model::ChangeOutcome{"Created " + path + "; " + details.name +
                                                                             " starts when you sign in.",
                                                                         {}}};
    }
    return fail("No free name was found for the autostart file.");
}

Result<model::CreatedEntry> create_unit(const LinuxContext& context, const std::string& slug,
                                        const model::CreateDetails& details, bool system) {
    const std::string folder = system ? std::string(system_unit_folder) : user_unit_folder(context);
    QM_TRY_VOID(create_folders_owned(context.root.at(folder)));
    const std::string text = unit_text(details, system ? "multi-user.target" : "default.target", system);
    const std::string base = free_name(std::string(own_prefix) + slug, "-", [&](const std::string& candidate) {
        return os::path_kind(context.root.at(os::join_path(folder, candidate + ".service"))) != os::PathKind::missing;
    });
    const std::string unit = base + ".service";
    const std::string path = os::join_path(folder, unit);
    Result<bool> written = os::write_file_new(context.root.at(path), text);
    if (!written) return fail("The unit file could not be created: " + os::failure_reason(written.error().message));
    if (!*written) return fail("The unit " + unit + " appeared while it was being created; try again.");
    give_to_folder_owner(context.root.at(path));

    model::StartupItem item(system ? model::ItemKind::systemd : model::ItemKind::systemd_user,
                            system ? "Systemd unit (system)" : "Systemd unit (this user)",
                            system ? model::Scope::machine : model::Scope::user,
                            system ? "systemd system" : "systemd user", unit);
    item.command = details.command;
    item.exe = details.exe;
    item.description = details.name + " (created by Quillmoor)";
    item.origin = model::Origin::own_entry;
    item.managed = true;
    item.set_spec("short", unit);
    item.set_spec("unit", unit);
    item.set_spec("state", "enabled");
    item.set_spec("file", path);
    item.set_spec("mode", system ? "boot" : "user-service");
    Result<model::ChangeOutcome> enabled = switch_unit(context, item, true, false);
    if (!enabled) {
        // A unit that cannot be enabled is not left behind half-made.
        (void)os::remove_file(context.root.at(path));
        return fail(enabled.error());
    }
    item.enabled = true;
    item.state_text = "Enabled";
    const std::string when = system ? "when the computer starts" : "when you sign in";
    return model::CreatedEntry{std::move(item),
                               model::ChangeOutcome{"Created the unit " + unit + "; it starts " + when + ".",
                                                    enabled->notes}};
}

Result<model::CreatedEntry> create_cron(const LinuxContext& context, const std::string& slug,
                                        const model::CreateDetails& details) {
    Result<std::string> text = read_user_crontab(context);
    if (!text) return fail(text.error());
    const std::string name = free_name(std::string(own_prefix) + slug, " ", [&](const std::string& candidate) {
        return text->find(std::string(cron_own_mark.substr(0, 3)) + candidate + "\n") != std::string::npos;
    });
    // cron turns an unescaped "%" into a line break of the command's input.
    std::string command;
    for (char c : details.command) {
        if (c == '%') command.push_back('\\');
        command.push_back(c);
    }
    std::string changed = *text;
    if (!changed.empty() && changed.back() != '\n') changed.push_back('\n');
    const std::string line = "@reboot " + (details.workdir.empty() ? "" : "cd '" + details.workdir + "' && ") +
                             command + std::string(cron_own_mark.substr(0, 3)) + name;
    changed += line + "\n";
    if (Result<void> written = write_user_crontab(context, changed); !written) {
        return fail("The crontab could not be changed: " + os::failure_reason(written.error().message));
    }
    model::StartupItem item(model::ItemKind::cron, "Cron @reboot (this user)", model::Scope::user, "crontab", name);
    item.command = details.command;
    item.exe = details.exe;
    item.origin = model::Origin::own_entry;
    item.managed = true;
    item.enabled = true;
    item.state_text = "Enabled (runs at boot)";
    item.set_spec("short", name);
    item.set_spec("entry", line);
    item.set_spec("mode", "cron");
    return model::CreatedEntry{
        std::move(item),
        model::ChangeOutcome{"Added " + name + " to your crontab; it runs when the computer starts.", {}}};
}

}  // namespace

std::vector<model::StartMode> linux_start_modes(bool system) {
    return {
        model::StartMode{
            "login", "Start when I sign in",
            "Adds an autostart entry for your account only. No root rights are needed. The program opens its "
            "window as usual.",
            false, !system},
        model::StartMode{
            "user-service", "Start as a background service of my account",
            "Creates a systemd user unit that starts when you sign in. No root rights are needed. It has no "
            "window, so this suits background tools.",
            false, false},
        model::StartMode{
            "boot", "Start when the computer starts, before anyone signs in",
            "Creates a systemd unit for the whole computer that runs as root at start-up. Needs root rights "
            "(sudo). The program has no desktop, so this suits background tools and servers, not programs "
            "with windows.",
            true, false, true},
        model::StartMode{"cron", "Run once at start-up from my crontab",
                         "Adds an @reboot line to your crontab. No root rights are needed; cron must be installed.",
                         false, false},
    };
}

std::string unit_slug(std::string_view name) {
    std::string slug;
    for (char c : make_slug(name)) {
        const bool allowed =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '.';
        if (allowed) slug.push_back(c);
        else if (!slug.empty() && slug.back() != '-') slug.push_back('-');
    }
    while (!slug.empty() && (slug.back() == '-' || slug.back() == '.')) slug.pop_back();
    return slug;
}

Result<model::CreatedEntry> create_linux_entry(const LinuxContext& context,
                                               const std::vector<std::string>& autostart_folders,
                                               const model::CreateDetails& details, bool admin) {
    const std::pair<const std::string*, const char*> fields[] = {{&details.name, "name"},
                                                                 {&details.command, "command"},
                                                                 {&details.workdir, "working folder"},
                                                                 {&details.user, "user name"}};
    for (const auto& [value, what] : fields) {
        if (has_control_character(*value)) {
            return fail(std::string("The ") + what +
                        " contains a line break or control character, which is not allowed.");
        }
    }
    if (details.workdir.find('\'') != std::string::npos && details.mode == "cron") {
        return fail("The working folder of a cron entry cannot contain an apostrophe.");
    }
    const std::string slug = make_slug(details.name);
    if (slug.empty()) return fail("A name is required.");
    if (trim(details.command).empty()) return fail("A command is required.");
    if (details.mode == "login") return create_autostart(context, autostart_folders, slug, details);
    if (details.mode == "cron") return create_cron(context, slug, details);
    if (details.mode == "user-service" || details.mode == "boot") {
        const std::string name = unit_slug(details.name);
        if (name.empty()) return fail("The name needs at least one Latin letter or digit to name a unit.");
        if (details.mode == "boot" && !admin)
            return fail(ErrorKind::needs_admin, "Creating a unit for the whole computer needs root rights.");
        return create_unit(context, name, details, details.mode == "boot");
    }
    return fail("\"" + details.mode + "\" is not a way to start a program on this computer.");
}

Result<model::ChangeOutcome> remove_linux_entry(const LinuxContext& context,
                                                const std::vector<std::string>& autostart_folders,
                                                const model::StartupItem& item) {
    if (item.kind == model::ItemKind::autostart) {
        const std::string name = item.spec_value("fname");
        if (item.scope != model::Scope::user || item.spec_value("user_dir") != "1" || !name.starts_with(own_prefix) ||
            name.find('/') != std::string::npos) {
            return fail(
                "That autostart file is not one Quillmoor creates in your own folder, so it will not be deleted.");
        }
        const std::string path = os::join_path(user_autostart_folder(context, autostart_folders), name);
        if (Result<void> removed = os::remove_file(context.root.at(path)); !removed) {
            return fail("Could not delete " + path + ": " + os::failure_reason(removed.error().message));
        }
        return model::ChangeOutcome{"Deleted the autostart file " + path + ".", {}};
    }
    if (item.kind == model::ItemKind::systemd || item.kind == model::ItemKind::systemd_user) {
        const std::string unit = item.spec_value("unit");
        const bool system = item.kind == model::ItemKind::systemd;
        if (!unit.starts_with(own_prefix) || unit.find('/') != std::string::npos ||
            (!system && item.scope != model::Scope::user)) {
            return fail("That unit is not one Quillmoor creates, so it will not be deleted.");
        }
        if (system && !context.facts.admin)
            return fail(ErrorKind::needs_admin, "Deleting a unit of the whole computer needs root rights.");
        const std::string path =
            os::join_path(system ? std::string(system_unit_folder) : user_unit_folder(context), unit);
        if (os::path_kind(context.root.at(path)) == os::PathKind::file) {
            Result<model::ChangeOutcome> off = switch_unit(context, item, false, true);
            if (!off) return fail(off.error());
        }
        if (Result<void> removed = os::remove_file(context.root.at(path)); !removed) {
            return fail("Could not delete " + path + ": " + os::failure_reason(removed.error().message));
        }
        return model::ChangeOutcome{"Deleted the unit " + unit + ".", {}};
    }
    if (item.kind == model::ItemKind::cron) {
        const std::string name = item.spec_value("short");
        if (item.scope != model::Scope::user || !name.starts_with(own_prefix)) {
            return fail("That line is not one Quillmoor adds to your own crontab, so it will not be deleted.");
        }
        Result<std::string> text = read_user_crontab(context);
        if (!text) return fail(text.error());
        const std::string ending = std::string(cron_own_mark.substr(0, 3)) + name;
        std::string kept;
        bool found = false;
        std::size_t start = 0;
        while (start < text->size()) {
            std::size_t end = text->find('\n', start);
            if (end == std::string::npos) end = text->size();
            const std::string line = text->substr(start, end - start);
            start = end + 1;
            const std::string trimmed = trim(line);
            if (trimmed.ends_with(ending) && (trimmed.starts_with("@reboot") || trimmed.starts_with(cron_off_mark))) {
                found = true;
                continue;
            }
            kept += line + "\n";
        }
        if (!found) return model::ChangeOutcome{name + " was no longer in your crontab.", {}};
        if (Result<void> written = write_user_crontab(context, kept); !written) {
            return fail("Could not change your crontab: " + os::failure_reason(written.error().message));
        }
        return model::ChangeOutcome{"Removed " + name + " from your crontab.", {}};
    }
    return fail("Only entries created by Quillmoor can be removed.");
}

}  // namespace qm::linux
