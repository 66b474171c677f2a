#include "platforms/linux/packages.h"

#include <set>

#include "os/files.h"
#include "util/text.h"

namespace qm::linux {

namespace {

// On a merged /usr the packages record /lib/... while a folder may be read as
// /usr/lib/..., or the other way round; both spellings are asked.
std::string other_spelling(const std::string& path) {
    if (path.starts_with("/usr/lib/")) return path.substr(4);
    if (path.starts_with("/lib/")) return "/usr" + path;
    return {};
}

std::string without_architecture(std::string_view package) { return std::string(package.substr(0, package.find(':'))); }

std::map<std::string, PackageInfo> dpkg_owners(const std::vector<std::string>& paths, const LinuxRoot& root,
                                               const os::ToolRunner& runner) {
    std::map<std::string, PackageInfo> owners;
    std::vector<std::string> admin;
    if (root.is_test_root()) admin.push_back("--admindir=" + root.at("/var/lib/dpkg"));
    std::map<std::string, std::string> asked;  // spelling asked -> path given
    std::vector<std::string> arguments = admin;
    arguments.push_back("-S");
    for (const std::string& path : paths) {
        if (asked.emplace(path, path).second) arguments.push_back(path);
        const std::string other = other_spelling(path);
        if (!other.empty() && asked.emplace(other, path).second) arguments.push_back(other);
    }
    const os::RunOutput found = runner(os::ToolRun{"dpkg", arguments, {}, 30});
    std::set<std::string> packages;
    for (const std::string& line : split_lines(found.out)) {
        if (line.starts_with("diversion ")) continue;
        const std::size_t colon = line.find(": ");
        if (colon == std::string::npos) continue;
        const auto given = asked.find(trim(std::string_view(line).substr(colon + 2)));
        if (given == asked.end() || owners.contains(given->second)) continue;
        // "a, b: path" when several packages ship the file; the first is named.
        const std::string package = without_architecture(trim(line.substr(0, line.find(','))));
        owners[given->second].name = package;
        packages.insert(package);
    }
    if (packages.empty()) return owners;

    arguments = admin;
    arguments.insert(arguments.end(), {"-W", "-f=${Package}\\t${Priority}\\t${Essential}\\n"});
    arguments.insert(arguments.end(), packages.begin(), packages.end());
    const os::RunOutput ranked = runner(os::ToolRun{"dpkg-query", arguments, {}, 30});
    std::map<std::string, std::string> priorities;
    for (const std::string& line : split_lines(ranked.out)) {
        const std::size_t first = line.find('\t');
        const std::size_t second = first == std::string::npos ? first : line.find('\t', first + 1);
        if (second == std::string::npos) continue;
        const std::string essential = to_lower_ascii(trim(line.substr(second + 1)));
        priorities[without_architecture(line.substr(0, first))] =
            essential == "yes" ? "essential" : to_lower_ascii(trim(line.substr(first + 1, second - first - 1)));
    }
    for (auto& [path, info] : owners) info.priority = priorities[info.name];
    return owners;
}

std::map<std::string, PackageInfo> rpm_owners(const std::vector<std::string>& paths, const LinuxRoot& root,
                                              const os::ToolRunner& runner) {
    std::map<std::string, PackageInfo> owners;
    std::vector<std::string> arguments;
    if (root.is_test_root()) arguments.insert(arguments.end(), {"--root", root.folder});
    // One line per path, in order: the package or a sentence saying none owns it.
    arguments.insert(arguments.end(), {"-qf", "--qf", "%{NAME}\\n"});
    arguments.insert(arguments.end(), paths.begin(), paths.end());
    const os::RunOutput found = runner(os::ToolRun{"rpm", arguments, {}, 30});
    const std::vector<std::string> lines = split_lines(found.out);
    for (std::size_t i = 0; i < lines.size() && i < paths.size(); ++i) {
        const std::string name = trim(lines[i]);
        if (name.empty() || name.find(' ') != std::string::npos) continue;
        owners[paths[i]].name = name;
    }
    return owners;
}

}  // namespace

std::map<std::string, PackageInfo> package_owners(const std::vector<std::string>& paths, const LinuxRoot& root,
                                                  const os::ToolRunner& runner) {
    if (paths.empty()) return {};
    const bool has_dpkg = os::path_kind(root.at("/var/lib/dpkg/status")) == os::PathKind::file;
    if (has_dpkg) return dpkg_owners(paths, root, runner);
    if (os::path_kind(root.at("/var/lib/rpm")) == os::PathKind::folder) return rpm_owners(paths, root, runner);
    return {};
}

bool is_system_priority(const std::string& priority) { return priority == "essential" || priority == "required"; }

}  // namespace qm::linux
