#include "platforms/windows/program_files.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <vector>

#include "os/environment.h"
#include "os/files.h"
#include "formats/version_resource.h"
#include "os/windows/handle.h"
#include "os/windows/wide.h"
#include "platforms/windows/work_pool.h"
#include "util/text.h"

namespace qm::windows {
namespace {

// Lower-cased, with forward slashes read as backslashes.
std::string normalised_path(std::string_view path) {
    std::string text = to_lower_ascii(path);
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

// The file's own translations in the order listed, then the usual fallbacks,
// each as eight lower-case hex digits (language, then code page).
std::vector<std::string> language_blocks(std::string_view resource) {
    std::vector<std::string> blocks = formats::version_translations(resource);
    for (const char* fallback : {"040904b0", "040904e4", "000004b0"}) blocks.emplace_back(fallback);
    // A block listed twice would only be asked again for the same answer.
    std::vector<std::string> unique;
    for (std::string& block : blocks) {
        if (std::find(unique.begin(), unique.end(), block) == unique.end()) unique.push_back(std::move(block));
    }
    return unique;
}

// The first non-empty value of `name` among the blocks.
std::string first_value(std::string_view resource, const std::vector<std::string>& blocks, std::string_view name) {
    for (const std::string& block : blocks) {
        std::string value = formats::version_string(resource, block, name).value_or(std::string());
        if (!value.empty()) return value;
    }
    return {};
}

}  // namespace

CommandProgram command_program(std::string_view command) {
    return formats::command_program(command,
                                    [](const std::string& path) { return os::path_kind(path) == os::PathKind::file; });
}

std::string program_file_of_command(std::string_view command) { return command_program(command).program; }

VersionStrings version_strings_of_block(std::string_view block) {
    const std::vector<std::string> blocks = language_blocks(block);
    VersionStrings strings;
    strings.publisher = first_value(block, blocks, "CompanyName");
    strings.description = first_value(block, blocks, "FileDescription");
    if (strings.description.empty()) strings.description = first_value(block, blocks, "ProductName");
    return strings;
}

namespace {

// What the system's reader finds, which maps the whole file; used where
// reading the file's own headers cannot be sure of the same answer.
VersionStrings system_version_strings(const std::wstring& path) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<char> resource(size);
    if (!::GetFileVersionInfoW(path.c_str(), 0, size, resource.data())) return {};
    return version_strings_of_block(std::string_view(resource.data(), resource.size()));
}

}  // namespace

VersionStrings read_version_strings(const std::string& path) {
    const std::wstring wide_path = os::windows::to_wide(path);
    if (wide_path.empty()) return {};
    const os::windows::Handle file(::CreateFileW(wide_path.c_str(), GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.valid() && ::GetFileType(file.get()) == FILE_TYPE_DISK) {
        // The file's own position, moved before each read: a read given its
        // offset in an OVERLAPPED also announces its completion, which under
        // Wine is one more call into the server for every read.
        const formats::ReadAt read = [&](std::uint64_t offset, std::size_t size) {
            std::string bytes(size, '\0');
            LARGE_INTEGER at{};
            at.QuadPart = static_cast<LONGLONG>(offset);
            DWORD got = 0;
            if (!::SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) ||
                !::ReadFile(file.get(), bytes.data(), static_cast<DWORD>(size), &got, nullptr))
                got = 0;
            bytes.resize(got);
            return bytes;
        };
        const formats::ProgramVersionBlock found = formats::read_program_version_block(read);
        if (found.found == formats::ProgramVersionBlock::Found::block) return version_strings_of_block(found.block);
        if (found.found == formats::ProgramVersionBlock::Found::none) return {};
    }
    return system_version_strings(wide_path);
}

std::optional<FileStamp> file_stamp(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(os::windows::to_wide(path).c_str(), GetFileExInfoStandard, &data)) return std::nullopt;
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0) return std::nullopt;
    const auto join = [](DWORD high, DWORD low) { return static_cast<std::uint64_t>(high) << 32 | low; };
    return FileStamp{join(data.nFileSizeHigh, data.nFileSizeLow),
                     join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime)};
}

std::string lower_windows_folder() {
    // An empty SystemRoot counts as missing: as a prefix it would make every
    // path that starts with a backslash part of the operating system.
    std::string folder = normalised_path(os::get_env("SystemRoot").value_or(""));
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    return folder.empty() ? std::string("c:\\windows") : folder;
}

bool is_host_program(std::string_view path) {
    static constexpr std::array<std::string_view, 10> host_programs = {"cmd.exe",      "powershell.exe", "pwsh.exe",
                                                                       "wscript.exe",  "cscript.exe",    "mshta.exe",
                                                                       "rundll32.exe", "regsvr32.exe",   "msiexec.exe",
                                                                       "conhost.exe"};
    const std::string lower = normalised_path(path);
    return std::find(host_programs.begin(), host_programs.end(), file_name(lower)) != host_programs.end();
}

bool is_operating_system(std::string_view path, std::string_view lower_windows_folder) {
    const std::string lower = normalised_path(path);
    if (is_host_program(lower)) return false;
    if (lower.find("\\windows\\installer\\") != std::string::npos) return false;
    std::string folder = normalised_path(lower_windows_folder);
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    if (!folder.empty() && lower.starts_with(folder + "\\")) return true;
    // The security parts and PowerShell's modules outside the Windows folder
    // count only where Windows keeps them, in folders only administrators can
    // write: a folder of that name in a user's own folders is anybody's.
    const std::string drive = folder.size() >= 2 && folder[1] == ':' ? folder.substr(0, 2) : std::string("c:");
    for (std::string_view root : {"\\program files\\", "\\program files (x86)\\", "\\programdata\\microsoft\\"}) {
        const std::string prefix = drive + std::string(root);
        if (!lower.starts_with(prefix)) continue;
        const std::string_view rest = std::string_view(lower).substr(prefix.size());
        for (std::string_view part : {"windows defender\\", "windowspowershell\\", "windows security\\"}) {
            if (rest.starts_with(part)) return true;
        }
    }
    return false;
}

ProgramFacts::ProgramFacts(std::string data_folder)
    : windows_folder_(lower_windows_folder()), cache_(std::move(data_folder)) {}

const VersionStrings& ProgramFacts::version(const std::string& path) {
    const std::string key = to_lower_ascii(path);
    auto found = versions_.find(key);
    if (found == versions_.end()) {
        // A missing file has no version information; asking the version API
        // about it costs several times more than asking whether it exists.
        Known known;
        known.stamp = file_stamp(path);
        if (known.stamp) {
            if (const VersionStrings* kept = cache_.find(key, *known.stamp)) {
                known.strings = *kept;
            } else {
                known.strings = read_version_strings(path);
                cache_.store(key, *known.stamp, known.strings);
            }
        }
        found = versions_.emplace(key, std::move(known)).first;
    }
    return found->second.strings;
}

void ProgramFacts::file_facts(model::StartupItem& item) {
    if (item.exe.empty()) return;
    (void)version(item.exe);
    const Known& known = versions_.at(to_lower_ascii(item.exe));
    if (!known.stamp) return;
    item.exe_size = known.stamp->size;
    item.exe_time = formats::unix_seconds_of_file_time(known.stamp->written);
}

std::string ProgramFacts::known_publisher(const std::string& path) const {
    const auto found = versions_.find(to_lower_ascii(path));
    return found == versions_.end() ? std::string() : found->second.strings.publisher;
}

std::optional<FileStamp> ProgramFacts::known_stamp(const std::string& path) const {
    const auto found = versions_.find(to_lower_ascii(path));
    return found == versions_.end() ? std::nullopt : found->second.stamp;
}

void ProgramFacts::read_versions(const std::vector<std::string>& paths) {
    // The paths not read yet, each once, spelled as first given.
    std::vector<std::string> wanted;
    std::vector<std::string> keys;
    std::set<std::string> listed;
    for (const std::string& path : paths) {
        std::string key = to_lower_ascii(path);
        if (versions_.contains(key) || !listed.insert(key).second) continue;
        wanted.push_back(path);
        keys.push_back(std::move(key));
    }
    std::vector<std::optional<FileStamp>> stamps(wanted.size());
    run_on_workers(wanted.size(), [&](std::size_t i) { stamps[i] = file_stamp(wanted[i]); });
    // As version() does: a missing file has no version information, and one
    // the record has as it is now is not opened.
    std::vector<VersionStrings> strings(wanted.size());
    std::vector<std::size_t> to_read;
    for (std::size_t i = 0; i < wanted.size(); ++i) {
        if (!stamps[i]) continue;
        if (const VersionStrings* kept = cache_.find(keys[i], *stamps[i])) {
            strings[i] = *kept;
        } else {
            to_read.push_back(i);
        }
    }
    run_on_workers(to_read.size(),
                   [&](std::size_t j) { strings[to_read[j]] = read_version_strings(wanted[to_read[j]]); });
    for (std::size_t i : to_read) cache_.store(keys[i], *stamps[i], strings[i]);
    for (std::size_t i = 0; i < wanted.size(); ++i) versions_.emplace(keys[i], Known{std::move(strings[i]), stamps[i]});
}

bool ProgramFacts::is_operating_system(std::string_view path) const {
    return windows::is_operating_system(path, windows_folder_);
}

namespace {

// The folders that hold a plain path ("c:\a\b\file.exe" gives "c:\a\b" and
// then "c:\a"), innermost first; none for any other path, whose folders
// Windows may spell otherwise once it has resolved "." and "..", mixed
// separators, prefixes or trailing dots and spaces.
std::vector<std::string_view> plain_folders(std::string_view lower_path) {
    const bool drive = lower_path.size() > 3 && lower_path[0] >= 'a' && lower_path[0] <= 'z' && lower_path[1] == ':' &&
                       lower_path[2] == '\\';
    if (!drive || lower_path.find('/') != std::string_view::npos) return {};
    std::vector<std::string_view> folders;
    for (std::size_t begin = 3; begin < lower_path.size();) {
        std::size_t end = lower_path.find('\\', begin);
        if (end == std::string_view::npos) end = lower_path.size();
        const std::string_view part = lower_path.substr(begin, end - begin);
        if (part.empty() || part.back() == '.' || part.back() == ' ') return {};
        if (end < lower_path.size()) folders.push_back(lower_path.substr(0, end));
        begin = end + 1;
    }
    std::reverse(folders.begin(), folders.end());
    return folders;
}

}  // namespace

bool ProgramFacts::is_file(const std::string& path) {
    const std::string lower = to_lower_ascii(path);
    const auto [found, added] = probed_.try_emplace(lower, false);
    if (!added) return found->second;
    const std::vector<std::string_view> folders = plain_folders(lower);
    for (std::string_view folder : folders) {
        if (missing_folders_.contains(std::string(folder))) return false;
    }
    const DWORD attributes = ::GetFileAttributesW(os::windows::to_wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        // Windows tells a missing folder on the way from a missing file.
        if (::GetLastError() == ERROR_PATH_NOT_FOUND && !folders.empty()) {
            missing_folders_.emplace(folders.front());
        }
        return false;
    }
    found->second = (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
    return found->second;
}

CommandProgram ProgramFacts::command(std::string_view command) {
    return formats::command_program(command, [this](const std::string& path) { return is_file(path); });
}

void ProgramFacts::fill(model::StartupItem& item) {
    CommandProgram program = command(item.command);
    item.exe = std::move(program.program);
    if (!program.unquoted_warning.empty()) item.warnings.push_back(std::move(program.unquoted_warning));
    if (!item.exe.empty()) {
        const VersionStrings& strings = version(item.exe);
        if (item.publisher.empty()) item.publisher = strings.publisher;
        if (item.description.empty()) item.description = strings.description;
        file_facts(item);
    }
    item.origin = is_operating_system(item.exe) ? model::Origin::operating_system : model::Origin::installed_program;
}

}  // namespace qm::windows
