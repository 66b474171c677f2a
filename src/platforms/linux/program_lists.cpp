#include "platforms/linux/program_lists.h"

#include <algorithm>
#include <map>
#include <pwd.h>

#include "os/files.h"
#include "formats/desktop_file.h"
#include "platforms/linux/own_entries.h"
#include "util/text.h"

namespace qm::linux {

namespace {

// Programs of the system itself: their own login entry is not recommended.
bool is_system_program(std::string_view exe) {
    return exe.starts_with("/usr/sbin/") || exe.starts_with("/sbin/") || exe.starts_with("/usr/lib/systemd/") ||
           exe.starts_with("/lib/systemd/") || exe.starts_with("/usr/libexec/");
}

std::string entry_for(const std::vector<model::StartupItem>& items, const std::string& exe) {
    if (exe.empty()) return {};
    for (const model::StartupItem& item : items) {
        if (item.exe == exe) return item.id();
    }
    for (const model::StartupItem& item : items) {
        if (!item.exe.empty() && item.exe.find('/') == std::string::npos && item.exe == file_name(exe))
            return item.id();
    }
    return {};
}

std::string account_name(const std::string& uid_text, std::map<std::string, std::string>& known) {
    if (auto found = known.find(uid_text); found != known.end()) return found->second;
    std::string name = uid_text;
    char* end = nullptr;
    const unsigned long uid = std::strtoul(uid_text.c_str(), &end, 10);
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (end != uid_text.c_str() &&
        ::getpwuid_r(static_cast<uid_t>(uid), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
        found->pw_name != nullptr) {
        name = found->pw_name;
    }
    known[uid_text] = name;
    return name;
}

std::string read_small(const std::string& path) { return os::read_file(path, 65536).value_or(""); }

}  // namespace

model::ProgramList list_running(const LinuxContext& context, const std::vector<model::StartupItem>& items,
                                ProcessCount* count) {
    model::ProgramList list;
    const std::string proc = context.root.at("/proc");
    Result<std::vector<os::FolderEntry>> listed = os::list_folder(proc);
    if (!listed) {
        list.notes.push_back("The running programs could not be read from /proc.");
        return list;
    }
    std::map<std::string, std::size_t> by_exe;
    std::map<std::string, std::string> accounts;
    std::vector<std::uint32_t> pids;
    for (const os::FolderEntry& entry : *listed) {
        if (entry.name.empty() ||
            !std::all_of(entry.name.begin(), entry.name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        if (entry.name.size() > 9) continue;
        pids.push_back(static_cast<std::uint32_t>(std::stoul(entry.name)));
    }
    std::sort(pids.begin(), pids.end());
    for (std::uint32_t pid : pids) {
        const std::string folder = os::join_path(proc, std::to_string(pid));
        std::string raw = read_small(os::join_path(folder, "cmdline"));
        if (raw.empty()) continue;  // kernel threads and processes that just ended
        if (count) ++count->inspected;
        std::vector<std::string> words;
        std::size_t start = 0;
        while (start < raw.size()) {
            std::size_t end = raw.find('\0', start);
            if (end == std::string::npos) end = raw.size();
            words.push_back(replace_control_characters(raw.substr(start, end - start), false));
            start = end + 1;
        }
        if (words.empty()) continue;
        if (count) ++count->with_command_line;
        std::string exe = link_target(os::join_path(folder, "exe")).value_or("");
        if (exe.ends_with(" (deleted)")) exe.resize(exe.size() - 10);
        if (exe.empty()) exe = words[0];
        std::string command;
        for (const std::string& word : words) {
            if (!command.empty()) command.push_back(' ');
            command += word.find(' ') != std::string::npos ? "\"" + word + "\"" : word;
        }
        std::string uid;
        const std::string status = read_small(os::join_path(folder, "status"));
        if (const std::size_t at = status.find("\nUid:"); at != std::string::npos) {
            const std::vector<std::string> fields =
                split_command_line(status.substr(at + 5, status.find('\n', at + 5) - at - 5), false);
            if (!fields.empty()) uid = fields[0];
        }
        if (auto known = by_exe.find(exe); known != by_exe.end()) {
            list.items[known->second].pids.push_back(pid);
            continue;
        }
        model::Candidate candidate;
        candidate.id = "proc|" + exe;
        candidate.name = std::string(file_name(exe));
        candidate.source = model::CandidateSource::process;
        candidate.exe = exe;
        candidate.command = command;
        candidate.workdir = link_target(os::join_path(folder, "cwd")).value_or("");
        candidate.user = uid.empty() ? std::string() : account_name(uid, accounts);
        candidate.pids.push_back(pid);
        candidate.system = is_system_program(exe) || uid == "0";
        candidate.modes = linux_start_modes(candidate.system);
        candidate.entry_id = entry_for(items, exe);
        by_exe[exe] = list.items.size();
        list.items.push_back(std::move(candidate));
    }
    return list;
}

model::ProgramList list_installed(const LinuxContext& context, const std::vector<std::string>& app_folders,
                                  const std::vector<model::StartupItem>& items) {
    model::ProgramList list;
    std::map<std::string, bool> seen;
    for (const std::string& folder : app_folders) {
        const std::string computer_folder = context.expand(folder);
        const std::vector<std::string> names = context.desktop_files(folder);
        for (const std::string& name : names) {
            if (seen.contains(name)) continue;
            seen[name] = true;
            Result<std::string> text = os::read_file(context.root.at(os::join_path(computer_folder, name)), 1 << 20);
            if (!text) continue;
            const formats::DesktopFile file(*text);
            if (file.get("Type") != "Application" || file.flag("NoDisplay") || file.flag("Hidden")) continue;
            const std::string exec = file.get("Exec");
            if (exec.empty()) continue;
            model::Candidate candidate;
            candidate.id = "app|" + name;
            candidate.name = file.get("Name").empty() ? name.substr(0, name.size() - 8) : file.get("Name");
            candidate.source = model::CandidateSource::app;
            candidate.command = formats::desktop_exec_command(exec);
            const std::vector<std::string> words = split_command_line(exec, true);
            candidate.exe = words.empty() ? std::string() : words[0];
            candidate.workdir = file.get("Path");
            candidate.description = file.get("Comment");
            candidate.system = is_system_program(candidate.exe);
            candidate.modes = linux_start_modes(candidate.system);
            candidate.entry_id = entry_for(items, candidate.exe);
            list.items.push_back(std::move(candidate));
        }
    }
    std::sort(list.items.begin(), list.items.end(), [](const model::Candidate& a, const model::Candidate& b) {
        return to_lower_ascii(a.name) < to_lower_ascii(b.name);
    });
    return list;
}

}  // namespace qm::linux
