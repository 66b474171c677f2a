#include "platforms/linux/packages.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cctype>
#include <cerrno>
#include <optional>
#include <set>
#include <string_view>
#include <unordered_map>

#include "formats/package_checksums.h"
#include "os/files.h"
#include "os/posix/descriptor.h"
#include "util/md5.h"
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

// What dpkg's status file says of one package that has files on the computer.
struct InstalledPackage {
    std::string name;
    std::string list_file;  // its file list, on this machine
    std::string priority;   // as dpkg_owners reports it
};

// The value of a status field line "Name: value" when the line is that field
// (field names are matched without regard to case, as dpkg does).
std::optional<std::string_view> field_value(std::string_view line, std::string_view field) {
    if (line.size() <= field.size() || line[field.size()] != ':') return std::nullopt;
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(line[i])) != field[i]) return std::nullopt;
    }
    std::string_view value = line.substr(field.size() + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r'))
        value.remove_suffix(1);
    return value;
}

// The packages dpkg keeps files for (every state but "not-installed"), in the
// order of the status file, with the path of each one's file list; nothing
// when the database cannot be read in place: unreadable, or with changes
// still in its journal (the updates folder), which only dpkg itself merges.
std::optional<std::vector<InstalledPackage>> read_installed(const std::string& admin_folder) {
    Result<std::vector<os::FolderEntry>> journal = os::list_folder(os::join_path(admin_folder, "updates"));
    if (journal) {
        for (const os::FolderEntry& entry : *journal) {
            if (!entry.name.empty() && entry.name.find_first_not_of("0123456789") == std::string::npos)
                return std::nullopt;
        }
    }
    Result<std::string> status = os::read_whole_file(os::join_path(admin_folder, "status"));
    if (!status) return std::nullopt;
    const std::string info = os::join_path(admin_folder, "info");
    std::vector<InstalledPackage> packages;
    std::string_view name, state, architecture, multi_arch, priority, essential;
    auto end_stanza = [&] {
        // The state is the last of the field's three words.
        const std::string_view last =
            state.substr(state.find_last_of(' ') == std::string_view::npos ? 0 : state.find_last_of(' ') + 1);
        // A name is a file name in the info folder, never a path out of it.
        if (!name.empty() && name.find('/') == std::string_view::npos && !state.empty() && last != "not-installed") {
            InstalledPackage package;
            package.name = std::string(name);
            // A package installed for several architectures at once keeps one
            // list per architecture, named with it.
            const bool per_architecture = to_lower_ascii(multi_arch) == "same" && !architecture.empty();
            const std::string same_named =
                os::join_path(info, std::string(name) + ":" + std::string(architecture) + ".list");
            const std::string plain = os::join_path(info, std::string(name) + ".list");
            package.list_file = per_architecture ? same_named : plain;
            if (os::path_kind(package.list_file) != os::PathKind::file)
                package.list_file = per_architecture ? plain : "";
            package.priority = to_lower_ascii(essential) == "yes" ? "essential" : to_lower_ascii(priority);
            if (!package.list_file.empty()) packages.push_back(std::move(package));
        }
        name = state = architecture = multi_arch = priority = essential = {};
    };
    const std::string_view text = *status;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (line.empty() || line == "\r") {
            end_stanza();
            continue;
        }
        if (line.front() == ' ' || line.front() == '\t') continue;  // a value's continuation
        if (auto value = field_value(line, "package")) name = *value;
        else if (auto value = field_value(line, "status")) state = *value;
        else if (auto value = field_value(line, "architecture")) architecture = *value;
        else if (auto value = field_value(line, "multi-arch")) multi_arch = *value;
        else if (auto value = field_value(line, "priority")) priority = *value;
        else if (auto value = field_value(line, "essential")) essential = *value;
    }
    end_stanza();
    return packages;
}

// Calls `line` with each line of a regular file, read a piece at a time, so
// that a package's file list of megabytes costs no more memory than a piece;
// false when the file cannot be opened as a regular file.
template <class LineFunction>
bool for_each_line(const std::string& path, LineFunction&& line) {
    os::posix::Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    char buffer[65536];
    std::string carried;  // the start of a line the last piece cut short
    while (true) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        const std::string_view piece(buffer, static_cast<std::size_t>(got));
        std::size_t start = 0;
        for (std::size_t end = piece.find('\n'); end != std::string_view::npos; end = piece.find('\n', start)) {
            if (carried.empty()) {
                line(piece.substr(start, end - start));
            } else {
                carried.append(piece.substr(start, end - start));
                line(std::string_view(carried));
                carried.clear();
            }
            start = end + 1;
        }
        carried.append(piece.substr(start));
    }
    if (!carried.empty()) line(std::string_view(carried));
    return true;
}

// The owners as dpkg's database says, read in place: every package's file
// list is read once, a piece at a time, and only the lines asked for count.
// A file several packages ship is named by the first of them in the status
// file.
std::optional<std::map<std::string, PackageInfo>> dpkg_owners_in_place(const std::vector<std::string>& paths,
                                                                       const LinuxRoot& root) {
    std::optional<std::vector<InstalledPackage>> packages = read_installed(root.at("/var/lib/dpkg"));
    if (!packages) return std::nullopt;
    // Every spelling asked, and for each the first package that lists it.
    std::unordered_map<std::string_view, const InstalledPackage*> asked;
    std::vector<std::string> others;
    others.reserve(paths.size());
    std::vector<bool> asked_length;
    for (const std::string& path : paths) {
        others.push_back(other_spelling(path));
        for (const std::string* spelling : {&path, static_cast<const std::string*>(&others.back())}) {
            if (spelling->empty()) continue;
            asked.emplace(*spelling, nullptr);
            if (asked_length.size() <= spelling->size()) asked_length.resize(spelling->size() + 1);
            asked_length[spelling->size()] = true;
        }
    }
    std::size_t unanswered = asked.size();
    for (const InstalledPackage& package : *packages) {
        if (unanswered == 0) break;
        (void)for_each_line(package.list_file, [&](std::string_view line) {
            if (line.size() >= asked_length.size() || !asked_length[line.size()]) return;
            auto found = asked.find(line);
            if (found != asked.end() && found->second == nullptr) {
                found->second = &package;
                --unanswered;
            }
        });
    }
    std::map<std::string, PackageInfo> owners;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        // The path as given first, then its other spelling.
        const InstalledPackage* owner = asked.at(paths[i]);
        if (owner == nullptr && !others[i].empty()) owner = asked.at(others[i]);
        if (owner != nullptr) owners[paths[i]] = PackageInfo{owner->name, owner->priority};
    }
    return owners;
}

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
    if (has_dpkg) {
        if (std::optional<std::map<std::string, PackageInfo>> owners = dpkg_owners_in_place(paths, root))
            return std::move(*owners);
        return dpkg_owners(paths, root, runner);
    }
    if (os::path_kind(root.at("/var/lib/rpm")) == os::PathKind::folder) return rpm_owners(paths, root, runner);
    return {};
}

namespace {

// The MD5 of a regular file of at most `largest_checked` bytes, read a piece
// at a time; the sentence saying why not otherwise.
Result<std::string> file_md5(const std::string& path) {
    os::posix::Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat info {};
    if (!fd.valid() || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return fail("The program file could not be read.");
    if (static_cast<std::uint64_t>(info.st_size) > largest_checked)
        return fail("The file is larger than 256 MiB, so it was not checked.");
    Md5 md5;
    char buffer[65536];
    while (true) {
        const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return fail("The program file could not be read.");
        if (got == 0) break;
        md5.update(std::string_view(buffer, static_cast<std::size_t>(got)));
    }
    return digest_hex(md5.finish());
}

// The checksum list of a package: info/<name>.md5sums, or, for a package
// installed for several architectures, info/<name>:<architecture>.md5sums.
std::optional<std::string> checksum_list(const std::string& info_folder, const std::string& package) {
    const std::size_t limit = 64u << 20;
    if (Result<std::string> text = os::read_file(os::join_path(info_folder, package + ".md5sums"), limit)) return *text;
    Result<std::vector<os::FolderEntry>> entries = os::list_folder(info_folder);
    if (!entries) return std::nullopt;
    for (const os::FolderEntry& entry : *entries) {
        if (entry.name.starts_with(package + ":") && entry.name.ends_with(".md5sums")) {
            if (Result<std::string> text = os::read_file(os::join_path(info_folder, entry.name), limit)) return *text;
        }
    }
    return std::nullopt;
}

}  // namespace

std::map<std::string, model::Signature> program_checksums(const std::vector<std::string>& programs,
                                                          const std::map<std::string, PackageInfo>& owners,
                                                          const LinuxRoot& root) {
    using model::SignatureVerdict;
    std::map<std::string, model::Signature> verdicts;
    const bool has_dpkg = os::path_kind(root.at("/var/lib/dpkg/status")) == os::PathKind::file;
    const bool has_rpm = os::path_kind(root.at("/var/lib/rpm")) == os::PathKind::folder;
    if (!has_dpkg && !has_rpm) return verdicts;
    const std::string info_folder = root.at("/var/lib/dpkg/info");
    std::map<std::string, std::optional<std::string>> lists;  // by package, each read once
    for (const std::string& program : programs) {
        if (!program.starts_with('/') || verdicts.contains(program)) continue;
        model::Signature& signature = verdicts[program];
        const auto owner = owners.find(program);
        if (owner == owners.end()) {
            signature.verdict = SignatureVerdict::unpackaged;
            continue;
        }
        signature.note = "Compared with the package \"" + owner->second.name + "\".";
        if (!has_dpkg) {
            signature.note = "Only dpkg's checksums are compared; this computer keeps rpm's.";
            continue;
        }
        auto list = lists.find(owner->second.name);
        if (list == lists.end()) list = lists.emplace(owner->second.name, checksum_list(info_folder, owner->second.name)).first;
        std::optional<std::string> recorded;
        if (list->second) {
            recorded = formats::recorded_md5(*list->second, program);
            const std::string other = other_spelling(program);
            if (!recorded && !other.empty()) recorded = formats::recorded_md5(*list->second, other);
        }
        if (!recorded) {
            signature.note = "The package \"" + owner->second.name + "\" records no checksum for it.";
            continue;
        }
        const Result<std::string> actual = file_md5(root.at(program));
        if (!actual) {
            signature.note = actual.error().message;
            continue;
        }
        signature.verdict = *actual == *recorded ? SignatureVerdict::verified : SignatureVerdict::modified;
    }
    return verdicts;
}

bool is_system_priority(const std::string& priority) { return priority == "essential" || priority == "required"; }

}  // namespace qm::linux
