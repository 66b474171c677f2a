#include "platforms/windows/startup_folders.h"

#include <algorithm>
#include <optional>

#include "formats/shell_link.h"
#include "os/environment.h"
#include "os/files.h"
#include "platforms/windows/approval_flag.h"
#include "platforms/windows/registry.h"
#include "util/text.h"

namespace qm::windows {

namespace {

constexpr std::string_view own_name_prefix = "Quillmoor-";
constexpr std::string_view approval_key_name = "StartupFolder";
// Real shortcuts are a few kilobytes; a larger file in a Startup folder is
// listed by its own path rather than read whole.
constexpr std::uint64_t largest_link = 4u << 20;

// The command a file in a Startup folder runs: a shortcut's quoted target and
// its arguments, or the file itself (any other file, or a shortcut that names
// no program or cannot be read).
struct FileCommand {
    std::string command;
    std::string working_directory;
};

FileCommand command_of_file(const std::string& path, std::string_view file_name) {
    if (to_lower_ascii(file_name).ends_with(".lnk")) {
        if (Result<std::string> bytes = os::read_file(path, largest_link)) {
            if (std::optional<formats::ShellLink> link = formats::read_shell_link(*bytes)) {
                if (!link->target.empty()) {
                    std::string command = "\"" + link->target + "\"";
                    if (!link->arguments.empty()) command += " " + link->arguments;
                    return {std::move(command), link->working_directory};
                }
                return {path, link->working_directory};
            }
        }
    }
    return {path, {}};
}

void scan_folder(const knowledge::StartupFolderLocation& location, bool admin, ProgramFacts& programs,
                 std::vector<model::StartupItem>& items) {
    const std::optional<std::string> base = os::get_env(location.env);
    if (!base || base->empty()) return;
    const std::string folder = os::join_path(*base, location.sub);
    Result<std::vector<os::FolderEntry>> entries = os::list_folder(folder);
    if (!entries) return;
    // Folders list in no particular order; items keep the order of names.
    std::sort(entries->begin(), entries->end(),
              [](const os::FolderEntry& a, const os::FolderEntry& b) { return a.name < b.name; });

    RegistryResult<RegistryKey> approval_key =
        open_key(registry_root(location.hive),
                 std::string(startup_approved_path) + "\\" + std::string(approval_key_name),
                 KEY_READ | KEY_WOW64_64KEY);

    for (const os::FolderEntry& entry : *entries) {
        if (entry.is_folder || equal_ignoring_ascii_case(entry.name, "desktop.ini")) continue;
        const std::string path = os::join_path(folder, entry.name);
        // "notes.url" is listed as "notes"; a name that is all extension keeps it.
        std::string name(file_stem(entry.name));
        if (name.empty()) name = entry.name;

        FileCommand file = command_of_file(path, entry.name);
        model::StartupItem item(model::ItemKind::folder, location.label, location.scope, folder, name);
        item.command = std::move(file.command);
        programs.fill(item);
        item.set_spec("short", name);
        item.set_spec("hive", location.hive);
        item.set_spec("approved", std::string(approval_key_name));
        item.set_spec("file", path);
        item.set_spec("workdir", std::move(file.working_directory));

        const ApprovalFlag flag =
            approval_key ? approval_flag_of(try_read_raw(approval_key->get(), entry.name).value_or(std::nullopt))
                         : ApprovalFlag::none;
        item.enabled = flag != ApprovalFlag::off;
        item.state_text = item.enabled ? "Enabled" : "Disabled";
        if (location.hive == "HKLM" && !admin) item.toggle = model::Toggle::admin;
        if (entry.name.starts_with(own_name_prefix)) {
            item.managed = true;
            item.origin = model::Origin::own_entry;
        }
        items.push_back(std::move(item));
    }
}

}  // namespace

void scan_startup_folders(const std::vector<knowledge::StartupFolderLocation>& locations, bool admin,
                          ProgramFacts& programs, std::vector<model::StartupItem>& items) {
    for (const knowledge::StartupFolderLocation& location : locations) scan_folder(location, admin, programs, items);
}

}  // namespace qm::windows
