// The installed programs: one candidate per program file that a Start-menu
// shortcut starts, all users' menu first, then this user's. Shortcuts to
// uninstallers, documents and web pages are left out by name or target.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "formats/shell_link.h"
#include "os/environment.h"
#include "os/files.h"
#include "platforms/windows/program_files.h"
#include "platforms/windows/program_lists.h"
#include "os/windows/wide.h"
#include "util/text.h"

namespace qm::windows {
namespace {

// Sub-folder levels walked below a Start-menu folder (the folder itself is
// level 0). Menus nest two or three levels; the bound also ends a walk that
// a folder junction pointing back up would otherwise repeat without end.
constexpr int max_folder_depth = 5;

// Shortcuts are a few kilobytes; a larger file is not read into memory.
constexpr std::uint64_t max_shortcut_bytes = 1024 * 1024;

constexpr std::string_view programs_below_root = "Microsoft\\Windows\\Start Menu\\Programs";

// Words in a shortcut's name that mark it as something other than the
// program itself.
constexpr std::string_view skipped_words[] = {"uninstall", "remove", "readme",  "release notes", "documentation",
                                              "license",   "help",   "website", "web site",      "manual"};

// A variable's value, treating an empty one as missing: an empty root would
// make the menu folder a path relative to wherever the program was started.
std::optional<std::string> folder_variable(std::string_view name) {
    std::optional<std::string> value = os::get_env(name);
    if (value && trim(*value).empty()) return std::nullopt;
    return value;
}

// The all-users menu, then this user's; a root that cannot be found is left out.
std::vector<std::string> start_menu_folders() {
    std::vector<std::string> folders;
    folders.push_back(os::join_path(folder_variable("ProgramData").value_or("C:\\ProgramData"), programs_below_root));
    std::optional<std::string> roaming = folder_variable("APPDATA");
    if (!roaming) {
        if (std::optional<std::string> profile = folder_variable("USERPROFILE")) {
            roaming = os::join_path(*profile, "AppData\\Roaming");
        }
    }
    if (roaming) {
        std::string folder = os::join_path(*roaming, programs_below_root);
        // Both variables naming the same place would only walk it twice.
        if (!equal_ignoring_ascii_case(folder, folders.front())) folders.push_back(std::move(folder));
    }
    return folders;
}

bool ends_with_ignoring_case(std::string_view text, std::string_view ending) {
    return text.size() >= ending.size() && equal_ignoring_ascii_case(text.substr(text.size() - ending.size()), ending);
}

bool is_skipped_name(std::string_view file_name) {
    const std::string lower = to_lower_ascii(file_name);
    return std::any_of(std::begin(skipped_words), std::end(skipped_words),
                       [&](std::string_view word) { return lower.find(word) != std::string::npos; });
}

// The shortcuts under `root`, shallower ones first and, within a folder, by
// name regardless of case, so that the first one naming a program is always
// the same one. Folders that cannot be listed are skipped.
std::vector<std::string> shortcuts_under(const std::string& root) {
    std::vector<std::string> found;
    std::deque<std::pair<std::string, int>> pending{{root, 0}};
    while (!pending.empty()) {
        auto [folder, depth] = std::move(pending.front());
        pending.pop_front();
        Result<std::vector<os::FolderEntry>> entries = os::list_folder(folder);
        if (!entries) continue;
        std::sort(entries->begin(), entries->end(), [](const os::FolderEntry& a, const os::FolderEntry& b) {
            const std::string left = to_lower_ascii(a.name);
            const std::string right = to_lower_ascii(b.name);
            return left != right ? left < right : a.name < b.name;
        });
        for (const os::FolderEntry& entry : *entries) {
            const std::string path = os::join_path(folder, entry.name);
            if (entry.is_folder) {
                if (depth < max_folder_depth) pending.emplace_back(path, depth + 1);
            } else if (ends_with_ignoring_case(entry.name, ".lnk")) {
                found.push_back(path);
            }
        }
    }
    return found;
}

// The target with environment references expanded, as the shell does when
// it starts the shortcut; a target without any comes back as it is.
std::string expanded_target(const std::string& target) {
    if (target.find('%') == std::string::npos) return target;
    const std::wstring wide = os::windows::to_wide(target);
    std::wstring expanded(32768, L'\0');
    const DWORD length =
        ::ExpandEnvironmentStringsW(wide.c_str(), expanded.data(), static_cast<DWORD>(expanded.size()));
    if (length == 0 || length > expanded.size()) return target;
    expanded.resize(length - 1);  // without the terminator
    return os::windows::to_utf8(expanded);
}

}  // namespace

model::ProgramList list_installed_programs(const std::vector<model::StartupItem>& items) {
    std::map<std::string, std::string> entry_by_exe;  // the first item naming a program file
    for (const model::StartupItem& item : items) {
        if (!item.exe.empty()) entry_by_exe.emplace(to_lower_ascii(item.exe), item.id());
    }

    ProgramFacts facts;
    model::ProgramList list;
    std::set<std::string> seen;  // lower-cased targets already listed
    for (const std::string& root : start_menu_folders()) {
        for (const std::string& path : shortcuts_under(root)) {
            const std::string_view name = file_name(path);
            if (is_skipped_name(name)) continue;
            Result<std::string> bytes = os::read_file(path, max_shortcut_bytes);
            if (!bytes || bytes->size() > max_shortcut_bytes) continue;
            std::optional<formats::ShellLink> link = formats::read_shell_link(*bytes);
            if (!link) continue;
            const std::string target = expanded_target(link->target);
            if (!ends_with_ignoring_case(target, ".exe")) continue;
            const std::string key = to_lower_ascii(target);
            if (!seen.insert(key).second) continue;

            model::Candidate candidate;
            candidate.id = "app|" + key;
            candidate.name = std::string(name.substr(0, name.size() - 4));  // without ".lnk"
            candidate.source = model::CandidateSource::app;
            candidate.exe = target;
            candidate.command = "\"" + target + "\"";
            if (!link->arguments.empty()) candidate.command += " " + link->arguments;
            candidate.workdir = link->working_directory;
            const VersionStrings& version = facts.version(target);
            candidate.publisher = version.publisher;
            candidate.description = version.description;
            candidate.system = facts.is_operating_system(target);
            candidate.modes = model::program_start_modes(candidate.system);
            if (auto entry = entry_by_exe.find(key); entry != entry_by_exe.end()) candidate.entry_id = entry->second;
            list.items.push_back(std::move(candidate));
        }
    }
    if (list.items.empty()) list.notes.push_back("No installed programs were found in the Start menu.");
    return list;
}

}  // namespace qm::windows
