#include "platforms/linux/cron_reboot.h"

#include <algorithm>
#include <map>
#include <cstdlib>
#include <optional>

#include "os/environment.h"
#include "os/files.h"
#include "os/new_file.h"
#include "os/random_hex.h"
#include "platforms/linux/exact_files.h"
#include "util/text.h"

namespace qm::linux {

namespace {

struct RebootLine {
    std::string entry;     // the line as cron runs it, trimmed
    std::string run_as;    // system crontabs only
    std::string command;   // without the program's own name mark
    std::string own_name;  // "Quillmoor-…" for the program's own lines
    bool off = false;      // commented out behind the program's mark
};

// A line that starts at boot, in either state; nothing for any other line.
std::optional<RebootLine> parse_reboot_line(std::string_view raw, bool system) {
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

// A line of a crontab as bytes: where its text starts and ends (before the
// line feed and any carriage return), so an edit touches nothing else.
struct LineSpan {
    std::size_t begin = 0;
    std::size_t end = 0;
};

std::vector<LineSpan> line_spans(std::string_view text) {
    std::vector<LineSpan> spans;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::size_t stop = end;
        if (stop > start && text[stop - 1] == '\r') --stop;
        spans.push_back(LineSpan{start, stop});
        start = end + 1;
    }
    return spans;
}

// The account whose crontab an item is: empty for the running account.
std::string crontab_account(const LinuxContext& context, const model::StartupItem& item) {
    const std::string account = item.spec_value("crontab_user");
    return account == context.facts.user ? std::string() : account;
}

bool is_account_name(std::string_view name) {
    if (name.empty() || name.starts_with('-') || name.starts_with('.')) return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-' ||
               c == '.';
    });
}

std::string spool_of(const LinuxContext& context, const std::string& account) {
    return std::string(crontab_spool_folder) + "/" + (account.empty() ? context.facts.user : account);
}

std::vector<std::string> system_crontabs(const LinuxContext& context) {
    std::vector<std::string> files{std::string(system_crontab_file)};
    Result<std::vector<os::FolderEntry>> listed = os::list_folder(context.root.at(system_crontab_folder));
    if (!listed) return files;
    std::vector<std::string> names;
    for (const os::FolderEntry& entry : *listed) {
        // cron skips names with dots and backup files, and so does the scan.
        if (entry.is_folder || entry.name.find('.') != std::string::npos || entry.name.ends_with("~")) continue;
        names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) files.push_back(std::string(system_crontab_folder) + "/" + name);
    return files;
}

// The other accounts that have a crontab, for a scan with root rights.
std::vector<std::string> other_accounts(const LinuxContext& context) {
    std::vector<std::string> accounts;
    if (!context.facts.admin) return accounts;
    Result<std::vector<os::FolderEntry>> listed = os::list_folder(context.root.at(crontab_spool_folder));
    if (!listed) return accounts;
    for (const os::FolderEntry& entry : *listed) {
        // A crontab being replaced by this program sits beside it under a
        // temporary name for a moment; that is no account's.
        if (entry.is_folder || entry.name == context.facts.user || !is_account_name(entry.name) ||
            os::is_own_temporary_name(entry.name)) {
            continue;
        }
        accounts.push_back(entry.name);
    }
    std::sort(accounts.begin(), accounts.end());
    return accounts;
}

struct Source {
    std::string file;     // the system crontab, or "crontab" for a user's
    std::string account;  // whose user crontab; empty: the running account's
    bool system = false;
};

std::string location_of(const Source& source) {
    if (source.system) return source.file;
    return source.account.empty() ? "crontab" : "crontab of " + source.account;
}

void add_lines(const LinuxContext& context, const std::string& text, const Source& source,
               std::vector<model::StartupItem>& items) {
    const bool system = source.system;
    std::vector<RebootLine> lines;
    for (const LineSpan& span : line_spans(text)) {
        std::optional<RebootLine> line =
            parse_reboot_line(std::string_view(text).substr(span.begin, span.end - span.begin), system);
        if (line) lines.push_back(std::move(*line));
    }
    // Each line is its own item: a name shared by two lines (the first 80
    // characters alike) becomes the whole command, and a line that appears
    // twice word for word is told apart by its count. A unique name stays.
    // Names are shown and kept in the history, so they are valid UTF-8; the
    // line's own bytes stay in `entry`.
    auto short_name = [](const RebootLine& line) {
        return replace_invalid_utf8(line.own_name.empty() ? shorten(line.command, 80) : line.own_name);
    };
    std::map<std::string, int> uses;
    for (const RebootLine& line : lines) ++uses[short_name(line)];
    std::map<std::string, int> seen;  // occurrences of each line so far, by its entry
    for (const RebootLine& line : lines) {
        std::string name = short_name(line);
        if (uses[name] > 1) name = replace_invalid_utf8(line.own_name.empty() ? line.command : line.entry);
        const int occurrence = ++seen[line.entry];
        if (occurrence > 1) name += " (copy " + std::to_string(occurrence) + ")";
        const bool other = !source.account.empty();
        model::StartupItem item(model::ItemKind::cron,
                                system  ? "Cron @reboot (system)"
                                : other ? "Cron @reboot (user " + source.account + ")"
                                        : "Cron @reboot (this user)",
                                system ? model::Scope::machine : model::Scope::user, location_of(source), name);
        item.command = replace_invalid_utf8(line.command);
        const std::vector<std::string> words = split_command_line(line.command, true);
        if (!words.empty()) item.exe = words[0];
        item.enabled = !line.off;
        item.state_text = line.off ? "Disabled (commented out by Quillmoor)" : "Enabled (runs at boot)";
        if (!line.run_as.empty()) item.description = "Runs as " + line.run_as + ".";
        if (other) item.description = "Runs as " + source.account + " (from their crontab).";
        item.origin = system ? model::Origin::installed_program : model::Origin::added_for_this_account;
        if (system && !context.facts.admin) {
            item.toggle = model::Toggle::admin;
            item.toggle_note = "Switching a line of the system's crontab needs root rights (sudo).";
        }
        if (!other && !line.own_name.empty() && line.own_name.starts_with("Quillmoor-")) {
            item.origin = model::Origin::own_entry;
            item.managed = true;
            item.set_spec("mode", "cron");
        }
        item.set_spec("short", line.own_name.empty() ? std::string(file_name(item.exe)) : line.own_name);
        item.set_spec("entry", line.entry);
        if (occurrence > 1) item.set_spec("occurrence", std::to_string(occurrence));
        if (system) item.set_spec("file", source.file);
        if (!line.run_as.empty()) item.set_spec("run_as", line.run_as);
        if (other) item.set_spec("crontab_user", source.account);
        items.push_back(std::move(item));
    }
}

bool crontab_missing(const os::RunOutput& output) {
    const std::string err = to_lower_ascii(output.err);
    return !output.exit_code &&
           (err.find("cannot find") != std::string::npos || err.find("program not found") != std::string::npos);
}

std::vector<std::string> account_arguments(const std::string& account) {
    if (account.empty()) return {};
    return {"-u", account};
}

Result<std::string> read_crontab_of(const LinuxContext& context, const std::string& account) {
    if (!context.root.is_test_root()) {
        std::vector<std::string> arguments = account_arguments(account);
        arguments.push_back("-l");
        os::ToolRun run{"crontab", arguments, {}, 20};
        run.raw_output = true;  // written back as it was, whatever its encoding
        const os::RunOutput listed = context.runner(run);
        if (listed.succeeded()) return listed.out;
        if (!crontab_missing(listed)) {
            // "no crontab for {user}" is an empty crontab, not a failure.
            if (listed.exit_code && to_lower_ascii(listed.err).find("no crontab") != std::string::npos)
                return std::string();
            return fail("crontab -l failed. " + os::tool_output_text(listed));
        }
    }
    const std::string path = context.root.at(spool_of(context, account));
    if (os::path_kind(path) == os::PathKind::missing) return std::string();
    return os::read_whole_file(path);
}

Result<void> write_crontab_of(const LinuxContext& context, const std::string& account, const std::string& text) {
    if (context.root.is_test_root()) {
        const std::string path = context.root.at(spool_of(context, account));
        QM_TRY_VOID(os::create_folders(context.root.at(crontab_spool_folder)));
        return os::write_file_replace(path, text, os::NewFile{false, true});
    }
    // The crontab tool checks the text and tells cron; it reads a file, which
    // holds the crontab and so is the owner's alone.
    const std::optional<std::string> token = os::random_hex(8);
    if (!token) return fail("The system could not provide random numbers.");
    const std::string file = os::join_path(os::temp_folder(), "quillmoor-crontab-" + *token);
    QM_TRY_VOID(os::write_file_replace(file, text, os::NewFile{false, true}));
    std::vector<std::string> arguments = account_arguments(account);
    arguments.push_back(file);
    const os::RunOutput installed = context.runner(os::ToolRun{"crontab", arguments, {}, 20});
    (void)os::remove_file(file);
    if (crontab_missing(installed)) return fail("The crontab tool is not installed, so the crontab cannot be changed.");
    if (!installed.succeeded()) return fail("crontab refused the change. " + os::tool_output_text(installed));
    return {};
}

}  // namespace

Result<std::string> read_user_crontab(const LinuxContext& context) { return read_crontab_of(context, ""); }

Result<void> write_user_crontab(const LinuxContext& context, const std::string& text) {
    return write_crontab_of(context, "", text);
}

void scan_cron(const LinuxContext& context, model::ScanResult& result) {
    Result<std::string> own = read_user_crontab(context);
    if (own) add_lines(context, *own, Source{"crontab", "", false}, result.items);
    else result.notes.push_back("Your crontab could not be read: " + own.error().message);
    for (const std::string& account : other_accounts(context)) {
        Result<std::string> theirs = read_crontab_of(context, account);
        if (theirs) add_lines(context, *theirs, Source{"crontab", account, false}, result.items);
        else result.notes.push_back("The crontab of " + account + " could not be read: " + theirs.error().message);
    }
    for (const std::string& file : system_crontabs(context)) {
        const std::string path = context.root.at(file);
        if (os::path_kind(path) == os::PathKind::missing) continue;
        Result<std::string> text = os::read_whole_file(path);
        if (!text) {
            result.notes.push_back("The crontab " + file +
                                   " could not be read: " + os::failure_reason(text.error().message));
            continue;
        }
        add_lines(context, *text, Source{file, "", true}, result.items);
    }
}

Result<model::ChangeOutcome> switch_cron(const LinuxContext& context, const model::StartupItem& item, bool on) {
    const std::string entry = item.spec_value("entry");
    const bool system = item.scope == model::Scope::machine;
    const std::string file = item.spec_value("file");
    const std::string account = system ? std::string() : crontab_account(context, item);
    if (entry.empty()) return fail("This cron entry does not say which line it is.");
    if (system) {
        const std::vector<std::string> known = system_crontabs(context);
        if (std::find(known.begin(), known.end(), file) == known.end())
            return fail("\"" + file + "\" is not a crontab of the system.");
        if (!context.facts.admin)
            return fail(ErrorKind::needs_admin, "Changing the system's crontab needs root rights.");
    } else if (!account.empty()) {
        if (!is_account_name(account)) return fail("\"" + account + "\" is not an account name.");
        if (!context.facts.admin)
            return fail(ErrorKind::needs_admin, "Changing the crontab of " + account + " needs root rights.");
    }
    const std::string where = system ? file : account.empty() ? "your crontab" : "the crontab of " + account;
    const std::string done = on ? item.name + " will run again when the computer starts."
                                : item.name + " will no longer run when the computer starts.";
    int occurrence = 1;
    if (const std::string given = item.spec_value("occurrence"); !given.empty())
        occurrence = std::max(1, std::atoi(given.c_str()));

    auto edit = [&]() -> Result<model::ChangeOutcome> {
        std::string text =
            QM_TRY(system ? os::read_whole_file(context.root.at(file)) : read_crontab_of(context, account));
        bool changed = false;
        int seen = 0;
        for (const LineSpan& span : line_spans(text)) {
            const std::string_view raw = std::string_view(text).substr(span.begin, span.end - span.begin);
            std::optional<RebootLine> parsed = parse_reboot_line(raw, system);
            if (!parsed || parsed->entry != entry || ++seen != occurrence) continue;
            if (parsed->off == !on) break;
            // Only the mark goes in or out, before the line's first character;
            // every other byte of the file stays as it was.
            const std::size_t lead = raw.find_first_not_of(" \t");
            const std::size_t first = span.begin + (lead == std::string_view::npos ? 0 : lead);
            if (on) text.erase(first, cron_off_mark.size());
            else text.insert(first, cron_off_mark);
            changed = true;
            break;
        }
        if (!changed) return fail("That @reboot line is no longer in " + where + " in the state it was listed.");
        Result<void> written =
            system ? os::write_file_replace(context.root.at(file), text) : write_crontab_of(context, account, text);
        if (!written) return fail("Could not change " + where + ": " + os::failure_reason(written.error().message));
        return model::ChangeOutcome{done, {}};
    };
    // The files this program writes itself; the crontab tool keeps the
    // spool of a running system, whose lines are edited byte for byte anyway.
    auto touched = [&]() -> std::vector<std::string> {
        if (system) return {context.root.at(file)};
        if (context.root.is_test_root()) return {context.root.at(spool_of(context, account))};
        return {};
    };
    return switch_exactly(context, item, on, touched, edit, [&]() -> Result<model::ChangeOutcome> {
        return model::ChangeOutcome{done, {}};
    });
}

}  // namespace qm::linux
