#include "platforms/windows/startup_folders.h"

#include <algorithm>
#include <map>
#include <optional>

#include "formats/shell_link.h"
#include "os/environment.h"
#include "os/files.h"
#include "platforms/windows/approval_flag.h"
#include "platforms/windows/folder_entries.h"
#include "platforms/windows/registry.h"
#include "platforms/windows/sign_in_later.h"
#include "platforms/windows/work_pool.h"
#include "util/text.h"

namespace qm::windows {

namespace {

constexpr std::string_view own_name_prefix = "Quillmoor-";
// Real shortcuts are a few kilobytes; a larger file in a Startup folder is
// listed by its own path rather than read whole.
constexpr std::uint64_t largest_link = 4u << 20;

// The command a file in a Startup folder runs: a shortcut's quoted target and
// its arguments, or the file itself (any other file, or a shortcut that names
// no program or cannot be read).
struct FileCommand {
    std::string command;
    std::string working_directory;
    bool unreadable_link = false;  // a shortcut that could not be read
};

// `path` is the file as shown; `read_path` the same file as it is read.
FileCommand command_of_file(const std::string& path, const std::string& read_path, std::string_view file_name) {
    if (!to_lower_ascii(file_name).ends_with(".lnk")) return {path, {}};
    if (Result<std::string> bytes = os::read_file(read_path, largest_link); bytes && bytes->size() <= largest_link) {
        if (std::optional<formats::ShellLink> link = formats::read_shell_link(*bytes)) {
            if (!link->target.empty()) {
                std::string command = "\"" + link->target + "\"";
                if (!link->arguments.empty()) command += " " + link->arguments;
                return {std::move(command), link->working_directory};
            }
            return {path, link->working_directory};
        }
    }
    return {path, {}, true};
}

// What a scan of the folders could not read, by reason.
struct Unread {
    std::size_t links = 0;        // shortcuts that could not be read
    std::size_t not_regular = 0;  // links or devices, never opened
};

void scan_folder(const knowledge::StartupFolderLocation& location, bool admin, ProgramFacts& programs,
                 std::vector<model::StartupItem>& items, Unread& unread) {
    const std::optional<std::string> found = startup_folder_path(location);
    if (!found) return;
    const std::string& folder = *found;
    // Items show the folder as its location names it; its files are reached
    // through the folder as the file system spells it, since under Wine every
    // use of a path whose case differs from the disk's ("Startup" for
    // "StartUp") reads the folders along it again.
    const std::string read_folder = final_folder_path(folder).value_or(folder);
    Result<std::vector<os::FolderEntry>> entries = os::list_folder(read_folder);
    if (!entries) return;
    // Folders list in no particular order; items keep the order of names.
    std::sort(entries->begin(), entries->end(),
              [](const os::FolderEntry& a, const os::FolderEntry& b) { return a.name < b.name; });

    // Two files of one stem ("notes.lnk", "notes.url") keep their whole
    // names, so that no two items share an id.
    std::map<std::string, std::size_t> stems;
    for (const os::FolderEntry& entry : *entries) ++stems[to_lower_ascii(file_stem(entry.name))];

    RegistryResult<RegistryKey> approval_key =
        open_key(registry_root(location.hive),
                 std::string(startup_approved_path) + "\\" + std::string(startup_folder_approval),
                 KEY_READ | KEY_WOW64_64KEY);
    // The flags are read with one enumeration rather than one call per file.
    std::optional<ValueTable> approval_flags;
    std::int64_t approval_written = 0;
    if (approval_key) {
        approval_flags.emplace(approval_key->get());
        approval_written = formats::unix_seconds_of_file_time(key_last_write(approval_key->get()));
    }

    // The files are looked at and their shortcuts read on a few threads at
    // once (work_pool.h); items are made from them in the order of names.
    const auto listed = [&](const os::FolderEntry& entry) {
        return !entry.is_folder && !equal_ignoring_ascii_case(entry.name, "desktop.ini");
    };
    // What each file is, with its last-write time, asked in the one call.
    std::vector<EntryInfo> infos(entries->size());
    std::vector<FileCommand> files(entries->size());
    run_on_workers(entries->size(), [&](std::size_t i) {
        const os::FolderEntry& entry = (*entries)[i];
        if (!listed(entry)) return;
        const std::string path = os::join_path(folder, entry.name);
        const std::string read_path = os::join_path(read_folder, entry.name);
        infos[i] = entry_info(read_path);
        files[i] = infos[i].kind == EntryKind::regular ? command_of_file(path, read_path, entry.name)
                                                       : FileCommand{path, {}, false};
    });

    for (std::size_t i = 0; i < entries->size(); ++i) {
        const os::FolderEntry& entry = (*entries)[i];
        if (!listed(entry)) continue;
        const std::string path = os::join_path(folder, entry.name);
        const std::string read_path = os::join_path(read_folder, entry.name);
        // "notes.url" is listed as "notes"; a name that is all extension keeps it.
        std::string name(file_stem(entry.name));
        if (name.empty() || stems[to_lower_ascii(name)] > 1) name = entry.name;

        FileCommand& file = files[i];
        model::StartupItem item(model::ItemKind::folder, location.label, location.scope, folder, name);
        item.command = std::move(file.command);
        programs.fill(item);
        if (item.command == path) {
            // Windows opens the file itself; its path is no command line to split.
            item.exe = path;
            item.warnings.clear();
            item.origin =
                programs.is_operating_system(path) ? model::Origin::operating_system : model::Origin::installed_program;
            item.exe_size = 0;
            item.exe_time = 0;
            if (infos[i].kind == EntryKind::regular) {
                item.exe_size = infos[i].size;
                item.exe_time = formats::unix_seconds_of_file_time(infos[i].written);
            }
        }
        const bool shortcut = to_lower_ascii(entry.name).ends_with(".lnk");
        item.changed = model::ChangeTime{formats::unix_seconds_of_file_time(infos[i].written),
                                         shortcut ? "the shortcut was written" : "the file was written"};
        if (infos[i].kind != EntryKind::regular) {
            ++unread.not_regular;
            item.unreadable = true;
            item.warnings.emplace_back("It is a link or device rather than a file, so it was not opened.");
        } else if (file.unreadable_link) {
            ++unread.links;
            item.unreadable = true;
            item.warnings.emplace_back("The shortcut could not be read, so what it starts is not known.");
        }
        item.set_spec("short", name);
        item.set_spec("hive", location.hive);
        item.set_spec("approved", std::string(startup_folder_approval));
        item.set_spec("file", path);
        item.set_spec("workdir", std::move(file.working_directory));

        const ApprovalFlag flag =
            approval_flags ? approval_flag_of(approval_flags->find(entry.name)) : ApprovalFlag::none;
        item.enabled = flag != ApprovalFlag::off;
        item.state_text = item.enabled ? "Enabled" : "Disabled";
        // The approval key's time counts only for a file with a flag in it.
        if (flag != ApprovalFlag::none && approval_written > item.changed.time) {
            item.changed = model::ChangeTime{approval_written, "its switch under StartupApproved was written"};
        }
        if (location.hive == "HKLM" && !admin) item.toggle = model::Toggle::admin;
        // A name shown with U+FFFD that names no file lost an unpaired
        // surrogate on the way: written back it would name another file.
        if (entry.name.find("\xEF\xBF\xBD") != std::string::npos && os::path_kind(read_path) == os::PathKind::missing) {
            item.toggle = model::Toggle::locked;
            item.toggle_note = std::string(inexact_name_note);
        }
        if (entry.name.starts_with(own_name_prefix)) {
            item.managed = true;
            item.origin = model::Origin::own_entry;
        }
        if (can_start_later(item)) item.ways.later = model::LaterKind::after_sign_in;
        items.push_back(std::move(item));
    }
}

}  // namespace

std::optional<std::string> startup_folder_path(const knowledge::StartupFolderLocation& location) {
    const std::optional<std::string> base = os::get_env(location.env);
    if (!base || base->empty()) return std::nullopt;
    return os::join_path(*base, location.sub);
}

void scan_startup_folders(const std::vector<knowledge::StartupFolderLocation>& locations, bool admin,
                          ProgramFacts& programs, model::ScanResult& result) {
    Unread unread;
    for (const knowledge::StartupFolderLocation& location : locations) {
        scan_folder(location, admin, programs, result.items, unread);
    }
    if (unread.links > 0) {
        result.notes.push_back(std::to_string(unread.links) +
                               " shortcut(s) in the Startup folders could not be read; they are listed by their own "
                               "path.");
    }
    if (unread.not_regular > 0) {
        result.notes.push_back(std::to_string(unread.not_regular) +
                               " entries of the Startup folders are links or devices rather than files and were not "
                               "opened; they are listed by their own path.");
    }
}

}  // namespace qm::windows
