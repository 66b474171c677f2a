#include "platforms/linux/linux_system.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "os/environment.h"
#include "os/files.h"

namespace qm::linux {

std::string LinuxRoot::at(std::string_view absolute) const {
    if (folder.empty()) return std::string(absolute);
    std::string path = folder;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (!absolute.starts_with('/')) path.push_back('/');
    path += absolute;
    return path;
}

std::string LinuxContext::expand(std::string_view folder) const {
    if (folder == "~") return facts.home;
    if (folder.starts_with("~/")) {
        std::string home = facts.home;
        while (home.size() > 1 && home.back() == '/') home.pop_back();
        return home + std::string(folder.substr(1));
    }
    return std::string(folder);
}

std::vector<std::string> LinuxContext::desktop_files(std::string_view folder) const {
    std::vector<std::string> names;
    Result<std::vector<os::FolderEntry>> listed = os::list_folder(root.at(expand(folder)));
    if (!listed) return names;
    for (const os::FolderEntry& entry : *listed) {
        if (!entry.is_folder && entry.name.ends_with(".desktop")) names.push_back(entry.name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool LinuxContext::program_exists(std::string_view program) const {
    if (program.empty()) return false;
    if (program.starts_with('/')) return os::path_kind(root.at(program)) == os::PathKind::file;
    if (program.find('/') != std::string_view::npos) return false;
    for (std::string_view folder : {"/usr/local/sbin", "/usr/local/bin", "/usr/sbin", "/usr/bin", "/sbin", "/bin"}) {
        if (os::path_kind(root.at(std::string(folder) + "/" + std::string(program))) == os::PathKind::file) return true;
    }
    return false;
}

LinuxRoot root_from_environment() { return LinuxRoot{os::get_env("QUILLMOOR_LINUX_ROOT").value_or("")}; }

bool is_link(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

FileTimes file_times(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) return {};
    return FileTimes{static_cast<std::int64_t>(info.st_mtime), static_cast<std::uint64_t>(info.st_size)};
}

FileTimes target_times(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return {};
    return FileTimes{static_cast<std::int64_t>(info.st_mtime), static_cast<std::uint64_t>(info.st_size)};
}

Result<std::string> link_target(const std::string& path) {
    std::vector<char> buffer(4096);
    const ssize_t length = ::readlink(path.c_str(), buffer.data(), buffer.size());
    if (length < 0) return fail("Could not read the link " + path + ": " + std::strerror(errno));
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

Result<void> make_link(const std::string& target, const std::string& path) {
    if (is_link(path)) {
        if (::unlink(path.c_str()) != 0)
            return fail("Could not replace the link " + path + ": " + std::strerror(errno));
    }
    if (::symlink(target.c_str(), path.c_str()) != 0) {
        return fail("Could not create the link " + path + ": " + std::strerror(errno));
    }
    return {};
}

Identity current_identity() {
    Identity identity;
    const uid_t uid = ::geteuid();
    identity.root = uid == 0;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr) {
        identity.user = found->pw_name != nullptr ? found->pw_name : "";
        identity.home = found->pw_dir != nullptr ? found->pw_dir : "";
    }
    if (identity.user.empty()) identity.user = os::get_env("USER").value_or(std::to_string(uid));
    // HOME wins where the user set it (sudo keeps it for the invoking user's files).
    if (std::optional<std::string> home = os::get_env("HOME"); home && !home->empty()) identity.home = *home;
    return identity;
}

std::string host_name() {
    char buffer[256] = {};
    if (::gethostname(buffer, sizeof buffer - 1) != 0) return {};
    return buffer;
}

}  // namespace qm::linux
