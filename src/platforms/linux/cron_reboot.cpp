#include "platforms/linux/cron_reboot.h"

#include <algorithm>
#include <optional>

#include "os/environment.h"
#include "os/files.h"
#include "os/random_hex.h"
#include "util/text.h"

namespace qm::linux {

namespace {

constexpr std::uint64_t crontab_limit = 1 << 20;

std::string join_lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

struct RebootLine {
    std::string entry;     // the line as cron runs it, trimmed
    std::string run_as;    // system crontabs only
    std::string command;   // without the program's own name mark
    std::string own_name;  // "Quillmoor-…" for the program's own lines
    bool off = false;      // commented out behind the program's mark
};

// A line that starts at boot, in either state; nothing for any other line.
std::optional<RebootLine> parse_reboot_line(const std::string& raw, bool system) {
    RebootLine line;
    std::string text = trim(raw);
    if (text.starts_with(cron_off_mark)) {
        line.off = true;
        text = trim(std::string_view(text).substr(cron_off_mark.size()));
    }
    if (!text.starts_with("@reboot") || text.size() < 9 || (text[7] != ' ' && text[7] != '\t')) return std::nullopt;
    line.entry = text;
    std::string rest = trim(std::string_view(text).substr(7));
    if (system) {
        const std::size_t space = rest.find_first_of(" \t");
        if (space == std::string::npos) return std::nullopt;
        line.run_as = rest.substr(0, space);
        rest = trim(std::string_view(rest).substr(space));
    }
    line.command = rest;
    if (const std::size_t mark = rest.rfind(cron_own_mark); mark != std::string::npos) {
        line.own_name = trim(std::string_view(rest).substr(mark + 3));
        line.command = trim(std::string_view(rest).substr(0, mark));
    }
    if (line.command.empty()) return std::nullopt;
    return line;
}

std::string user_spool(const LinuxContext& context) { return "/var/spool/cron/crontabs/" + context.facts.user; }

std::vector<std::string> system_crontabs(const LinuxContext& context) {
    std::vector<std::string> files{"/etc/crontab"};
    Result<std::vector<os::FolderEntry>> listed = os::list_folder(context.root.at("/etc/cron.d"));
    if (!listed) return files;
    std::vector<std::string> names;
    for (const os::FolderEntry& entry : *listed) {
        // cron skips names with dots and backup files, and so does the scan.
        if (entry.is_folder || entry.name.find('.') != std::string::npos || entry.name.ends_with("~")) continue;
        names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) files.push_back("/etc/cron.d/" + name);
    return files;
}

void add_lines(const LinuxContext& context, const std::string& text, const std::string& file, bool system,
               model::ScanResult& result) {
    for (const std::string& raw : split_lines(text)) {
        std::optional<RebootLine> line = parse_reboot_line(raw, system);
        if (!line) continue;
        const std::string name = line->own_name.empty() ? shorten(line->command, 80) : line->own_name;
        model::StartupItem item(model::ItemKind::cron, system ? "Cron @reboot (system)" : "Cron @reboot (this user)",
                                system ? model::Scope::machine : model::Scope::user, system ? file : "crontab", name);
        item.command = line->command;
        const std::vector<std::string> words = split_command_line(line->command, true);
        if (!words.empty()) item.exe = words[0];
        item.enabled = !line->off;
        item.state_text = line->off ? "Disabled (commented out by Quillmoor)" : "Enabled (runs at boot)";
        if (!line->run_as.empty()) item.description = "Runs as " + line->run_as + ".";
        item.origin = system ? model::Origin::installed_program : model::Origin::added_for_this_account;
        if (system && !context.facts.admin) {
            item.toggle = model::Toggle::admin;
            item.toggle_note = "Switching a line of the system's crontab needs root rights (sudo).";
        }
        if (!line->own_name.empty() && line->own_name.starts_with("Quillmoor-")) {
            item.origin = model::Origin::own_entry;
            item.managed = true;
            item.set_spec("mode", "cron");
        }
        item.set_spec("short", line->own_name.empty() ? std::string(file_name(item.exe)) : line->own_name);
        item.set_spec("entry", line->entry);
        if (system) item.set_spec("file", file);
        if (!line->run_as.empty()) item.set_spec("run_as", line->run_as);
        result.items.push_back(std::move(item));
    }
}

bool crontab_missing(const os::RunOutput& output) {
    const std::string err = to_lower_ascii(output.err);
    return !output.exit_code &&
           (err.find("cannot find") != std::string::npos || err.find("program not found") != std::string::npos);
}

}  // namespace

Result<std::string> read_user_crontab(const LinuxContext& context) {
    if (!context.root.is_test_root()) {
        const os::RunOutput listed = context.runner(os::ToolRun{"crontab", {"-l"}, {}, 20});
        if (listed.succeeded()) return listed.out;
        if (!crontab_missing(listed)) {
            // "no crontab for {user}" is an empty crontab, not a failure.
            if (listed.exit_code && to_lower_ascii(listed.err).find("no crontab") != std::string::npos)
                return std::string();
            return fail("crontab -l failed. " + os::tool_output_text(listed));
        }
    }
    const std::string path = context.root.at(user_spool(context));
    if (os::path_kind(path) == os::PathKind::missing) return std::string();
    return os::read_file(path, crontab_limit);
}

Result<void> write_user_crontab(const LinuxContext& context, const std::string& text) {
    if (context.root.is_test_root()) {
        const std::string path = context.root.at(user_spool(context));
        QM_TRY_VOID(os::create_folders(context.root.at("/var/spool/cron/crontabs")));
        return os::write_file_replace(path, text);
    }
    // The crontab tool checks the text and tells cron; it reads a file.
    const std::optional<std::string> token = os::random_hex(8);
    if (!token) return fail("The system could not provide random numbers.");
    const std::string file = os::join_path(os::temp_folder(), "quillmoor-crontab-" + *token);
    QM_TRY_VOID(os::write_file_replace(file, text));
    const os::RunOutput installed = context.runner(os::ToolRun{"crontab", {file}, {}, 20});
    (void)os::remove_file(file);
    if (crontab_missing(installed)) return fail("The crontab tool is not installed, so the crontab cannot be changed.");
    if (!installed.succeeded()) return fail("crontab refused the change. " + os::tool_output_text(installed));
    return {};
}

void scan_cron(const LinuxContext& context, model::ScanResult& result) {
    Result<std::string> own = read_user_crontab(context);
    if (own) add_lines(context, *own, "crontab", false, result);
    else result.notes.push_back("Your crontab could not be read: " + own.error().message);
    for (const std::string& file : system_crontabs(context)) {
        const std::string path = context.root.at(file);
        if (os::path_kind(path) != os::PathKind::file) continue;
        Result<std::string> text = os::read_file(path, crontab_limit);
        if (!text) {
            result.notes.push_back("The crontab " + file + " could not be read.");
            continue;
        }
        add_lines(context, *text, file, true, result);
    }
}

Result<model::ChangeOutcome> switch_cron(const LinuxContext& context, const model::StartupItem& item, bool on) {
    const std::string entry = item.spec_value("entry");
    const bool system = item.scope == model::Scope::machine;
    const std::string file = item.spec_value("file");
    if (entry.empty()) return fail("This cron entry does not say which line it is.");
    if (system) {
        const std::vector<std::string> known = system_crontabs(context);
        if (std::find(known.begin(), known.end(), file) == known.end())
            return fail("\"" + file + "\" is not a crontab of the system.");
        if (!context.facts.admin)
            return fail(ErrorKind::needs_admin, "Changing the system's crontab needs root rights.");
    }
    Result<std::string> text =
        system ? os::read_file(context.root.at(file), crontab_limit) : read_user_crontab(context);
    if (!text) return fail(text.error());
    std::vector<std::string> lines = split_lines(*text);
    bool changed = false;
    for (std::string& line : lines) {
        std::optional<RebootLine> parsed = parse_reboot_line(line, system);
        if (!parsed || parsed->entry != entry || parsed->off == !on) continue;
        line = on ? parsed->entry : std::string(cron_off_mark) + parsed->entry;
        changed = true;
        break;
    }
    const std::string where = system ? file : "your crontab";
    if (!changed) return fail("That @reboot line is no longer in " + where + " in the state it was listed.");
    Result<void> written = system ? os::write_file_replace(context.root.at(file), join_lines(lines))
                                  : write_user_crontab(context, join_lines(lines));
    if (!written) return fail("Could not change " + where + ": " + os::failure_reason(written.error().message));
    return model::ChangeOutcome{on ? item.name + " will run again when the computer starts."
                                   : item.name + " will no longer run when the computer starts.",
                                {}};
}

}  // namespace qm::linux
