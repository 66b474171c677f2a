#include "platforms/windows/program_files.h"

#include <windows.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "os/environment.h"
#include "os/files.h"
#include "os/windows/wide.h"
#include "util/text.h"

namespace qm::windows {
namespace {

// Lower-cased, with forward slashes read as backslashes.
std::string normalised_path(std::string_view path) {
    std::string text = to_lower_ascii(path);
    std::replace(text.begin(), text.end(), '/', '\\');
    return text;
}

// One string value of a version resource under "\StringFileInfo\{block}\{name}",
// empty when the block lacks it. The value is kept inside the resource buffer
// whatever length a malformed resource claims.
std::wstring version_value(const std::vector<unsigned char>& resource, const std::wstring& block, const wchar_t* name) {
    std::wstring query = L"\\StringFileInfo\\" + block + L"\\" + name;
    void* value = nullptr;
    UINT length = 0;
    if (!::VerQueryValueW(resource.data(), query.c_str(), &value, &length) || value == nullptr) return {};
    const auto* begin = static_cast<const unsigned char*>(value);
    const unsigned char* end = resource.data() + resource.size();
    if (begin < resource.data() || begin >= end) return {};
    const std::size_t room = static_cast<std::size_t>(end - begin) / sizeof(wchar_t);
    std::wstring text(static_cast<const wchar_t*>(value), std::min<std::size_t>(length, room));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return text;
}

// The file's own translations in the order listed, then the usual fallbacks,
// each as eight lower-case hex digits (language, then code page).
std::vector<std::wstring> language_blocks(const std::vector<unsigned char>& resource) {
    std::vector<std::wstring> blocks;
    void* value = nullptr;
    UINT length = 0;
    if (::VerQueryValueW(resource.data(), L"\\VarFileInfo\\Translation", &value, &length) && value != nullptr) {
        const auto* begin = static_cast<const unsigned char*>(value);
        const unsigned char* end = resource.data() + resource.size();
        if (begin >= resource.data() && begin < end) {
            const std::size_t pairs = std::min<std::size_t>(length, static_cast<std::size_t>(end - begin)) / 4;
            for (std::size_t i = 0; i < pairs; ++i) {
                WORD language = 0;
                WORD code_page = 0;
                std::memcpy(&language, begin + i * 4, 2);
                std::memcpy(&code_page, begin + i * 4 + 2, 2);
                wchar_t block[9];
                std::swprintf(block, 9, L"%04x%04x", language, code_page);
                blocks.emplace_back(block);
            }
        }
    }
    for (const wchar_t* fallback : {L"040904b0", L"040904e4", L"000004b0"}) blocks.emplace_back(fallback);
    // A block listed twice would only be asked again for the same answer.
    std::vector<std::wstring> unique;
    for (std::wstring& block : blocks) {
        if (std::find(unique.begin(), unique.end(), block) == unique.end()) unique.push_back(std::move(block));
    }
    return unique;
}

// The first non-empty value of `name` among the blocks, as valid UTF-8.
std::string first_value(const std::vector<unsigned char>& resource, const std::vector<std::wstring>& blocks,
                        const wchar_t* name) {
    for (const std::wstring& block : blocks) {
        std::wstring value = version_value(resource, block, name);
        if (!value.empty()) return replace_invalid_utf8(os::windows::to_utf8(value));
    }
    return {};
}

}  // namespace

CommandProgram command_program(std::string_view command) {
    return formats::command_program(command,
                                    [](const std::string& path) { return os::path_kind(path) == os::PathKind::file; });
}

std::string program_file_of_command(std::string_view command) { return command_program(command).program; }

VersionStrings read_version_strings(const std::string& path) {
    const std::wstring wide_path = os::windows::to_wide(path);
    if (wide_path.empty()) return {};
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(wide_path.c_str(), &ignored);
    if (size == 0) return {};
    std::vector<unsigned char> resource(size);
    if (!::GetFileVersionInfoW(wide_path.c_str(), 0, size, resource.data())) return {};

    const std::vector<std::wstring> blocks = language_blocks(resource);
    VersionStrings strings;
    strings.publisher = first_value(resource, blocks, L"CompanyName");
    strings.description = first_value(resource, blocks, L"FileDescription");
    if (strings.description.empty()) strings.description = first_value(resource, blocks, L"ProductName");
    return strings;
}

std::string lower_windows_folder() {
    // An empty SystemRoot counts as missing: as a prefix it would make every
    // path that starts with a backslash part of the operating system.
    std::string folder = normalised_path(os::get_env("SystemRoot").value_or(""));
    while (!folder.empty() && folder.back() == '\\') folder.pop_back();
    return folder.empty() ? std::string("c:\\windows") : folder;
}

bool is_operating_system(std::string_view path, std::string_view lower_windows_folder) {
    static constexpr std::array<std::string_view, 10> host_programs = {"cmd.exe",      "powershell.exe", "pwsh.exe",
                                                                       "wscript.exe",  "cscript.exe",    "mshta.exe",
                                                                       "rundll32.exe", "regsvr32.exe",   "msiexec.exe",
                                                                       "conhost.exe"};
    const std::string lower = normalised_path(path);
    const std::string_view name = file_name(lower);
    if (std::find(host_programs.begin(), host_programs.end(), name) != host_programs.end()) return false;
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

ProgramFacts::ProgramFacts() : windows_folder_(lower_windows_folder()) {}

const VersionStrings& ProgramFacts::version(const std::string& path) {
    const std::string key = to_lower_ascii(path);
    auto found = versions_.find(key);
    if (found == versions_.end()) {
        // A missing file has no version information; asking the version API
        // about it costs several times more than asking whether it exists.
        VersionStrings strings;
        if (os::path_kind(path) == os::PathKind::file) strings = read_version_strings(path);
        found = versions_.emplace(key, std::move(strings)).first;
    }
    return found->second;
}

bool ProgramFacts::is_operating_system(std::string_view path) const {
    return windows::is_operating_system(path, windows_folder_);
}

void ProgramFacts::fill(model::StartupItem& item) {
    CommandProgram program = command_program(item.command);
    item.exe = std::move(program.program);
    if (!program.unquoted_warning.empty()) item.warnings.push_back(std::move(program.unquoted_warning));
    if (!item.exe.empty() && (item.publisher.empty() || item.description.empty())) {
        const VersionStrings& strings = version(item.exe);
        if (item.publisher.empty()) item.publisher = strings.publisher;
        if (item.description.empty()) item.description = strings.description;
    }
    item.origin = is_operating_system(item.exe) ? model::Origin::operating_system : model::Origin::installed_program;
}

}  // namespace qm::windows
