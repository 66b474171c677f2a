// The running programs: one candidate per program file among the processes
// this account may query, plus the running services that start only on
// demand. Command lines of other processes come from the system's command-line
// query, or, where the system lacks it, from the process's own parameter block.
#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "os/console.h"
#include "os/windows/handle.h"
#include "platforms/windows/program_files.h"
#include "platforms/windows/program_lists.h"
#include "os/windows/wide.h"
#include "util/text.h"

namespace qm::windows {
namespace {

using os::windows::Handle;

// No command line is believed longer than this; a larger claim is taken as a
// damaged or hostile process rather than a reason to allocate without end.
constexpr std::size_t max_command_line_bytes = 1024 * 1024;

// Names of at most this many characters read as a program's name; longer
// descriptions are sentences, and the file name serves better.
constexpr std::size_t max_name_characters = 60;

constexpr PROCESSINFOCLASS command_line_class = static_cast<PROCESSINFOCLASS>(60);
constexpr NTSTATUS status_info_length_mismatch = static_cast<NTSTATUS>(0xC0000004L);
constexpr NTSTATUS status_buffer_too_small = static_cast<NTSTATUS>(0xC0000023L);
constexpr NTSTATUS status_buffer_overflow = static_cast<NTSTATUS>(0x80000005L);

using QueryProcess = NTSTATUS(NTAPI*)(HANDLE, PROCESSINFOCLASS, PVOID, ULONG, PULONG);

// The query lives in ntdll, which every process has loaded; it is looked up
// rather than linked so that the program needs no import library for it.
QueryProcess query_process_function() {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    if (ntdll == nullptr) return nullptr;
    return reinterpret_cast<QueryProcess>(
        reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryInformationProcess")));
}

// The command line through the system's query, with a buffer that grows as
// the system asks while it stays within the limit. Nothing when the system
// does not answer this query (older Windows, Wine) or the answer is malformed.
std::optional<std::wstring> command_line_by_query(QueryProcess query, HANDLE process) {
    std::vector<std::byte> buffer(sizeof(UNICODE_STRING) + 512);
    for (;;) {
        ULONG needed = 0;
        const NTSTATUS status =
            query(process, command_line_class, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == status_info_length_mismatch || status == status_buffer_too_small ||
            status == status_buffer_overflow) {
            const std::size_t next = std::max<std::size_t>(needed, buffer.size() * 2);
            if (next > sizeof(UNICODE_STRING) + max_command_line_bytes) return std::nullopt;
            buffer.resize(next);
            continue;
        }
        if (!NT_SUCCESS(status)) return std::nullopt;
        UNICODE_STRING text{};
        std::memcpy(&text, buffer.data(), sizeof text);
        if (text.Length == 0 || text.Buffer == nullptr) return std::wstring();
        // The text must lie inside the buffer the system filled.
        const auto* begin = reinterpret_cast<const std::byte*>(text.Buffer);
        if (begin < buffer.data() || begin > buffer.data() + buffer.size() ||
            text.Length > static_cast<std::size_t>(buffer.data() + buffer.size() - begin)) {
            return std::nullopt;
        }
        std::wstring line(text.Length / sizeof(wchar_t), L'\0');
        std::memcpy(line.data(), begin, line.size() * sizeof(wchar_t));
        return line;
    }
}

// Reads exactly `size` bytes of another process's memory.
bool read_memory(HANDLE process, const void* address, void* out, std::size_t size) {
    SIZE_T done = 0;
    return ::ReadProcessMemory(process, address, out, size, &done) && done == size;
}

// The command line from the process's parameter block, found through its
// process environment block (PEB). Needs a handle with PROCESS_VM_READ.
std::optional<std::wstring> command_line_from_parameters(QueryProcess query, HANDLE process) {
    PROCESS_BASIC_INFORMATION basic{};
    ULONG returned = 0;
    if (!NT_SUCCESS(query(process, ProcessBasicInformation, &basic, sizeof basic, &returned)) ||
        basic.PebBaseAddress == nullptr) {
        return std::nullopt;
    }
    PRTL_USER_PROCESS_PARAMETERS parameters = nullptr;
    if (!read_memory(process,
                     reinterpret_cast<const std::byte*>(basic.PebBaseAddress) + offsetof(PEB, ProcessParameters),
                     &parameters, sizeof parameters) ||
        parameters == nullptr) {
        return std::nullopt;
    }
    UNICODE_STRING text{};
    if (!read_memory(process,
                     reinterpret_cast<const std::byte*>(parameters) +
                         offsetof(RTL_USER_PROCESS_PARAMETERS, CommandLine),
                     &text, sizeof text)) {
        return std::nullopt;
    }
    if (text.Length == 0 || text.Buffer == nullptr) return std::wstring();
    if (text.Length > max_command_line_bytes) return std::nullopt;
    std::wstring line(text.Length / sizeof(wchar_t), L'\0');
    if (!read_memory(process, text.Buffer, line.data(), line.size() * sizeof(wchar_t))) return std::nullopt;
    return line;
}

std::optional<std::string> command_line_of(QueryProcess query, DWORD pid, HANDLE limited) {
    if (query == nullptr) return std::nullopt;
    std::optional<std::wstring> line = command_line_by_query(query, limited);
    if (!line) {
        Handle readable(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, pid));
        if (readable.valid()) line = command_line_from_parameters(query, readable.get());
    }
    if (!line) return std::nullopt;
    return replace_invalid_utf8(os::windows::to_utf8(*line));
}

std::optional<std::string> image_path_of(HANDLE process) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD size = static_cast<DWORD>(path.size());
        if (::QueryFullProcessImageNameW(process, 0, path.data(), &size)) {
            path.resize(size);
            return os::windows::to_utf8(path);
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || path.size() >= 32768) return std::nullopt;
        path.resize(path.size() * 2);
    }
}

// The user SID of a token, as its bytes; nothing when it cannot be read.
std::optional<std::string> token_user_sid(HANDLE process) {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(process, TOKEN_QUERY, &raw)) return std::nullopt;
    Handle token(raw);
    DWORD size = 0;
    ::GetTokenInformation(token.get(), TokenUser, nullptr, 0, &size);
    if (size == 0 || size > 4096) return std::nullopt;
    std::vector<std::byte> buffer(size);
    if (!::GetTokenInformation(token.get(), TokenUser, buffer.data(), size, &size)) return std::nullopt;
    PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
    if (sid == nullptr || !::IsValidSid(sid)) return std::nullopt;
    const DWORD length = ::GetLengthSid(sid);
    return std::string(static_cast<const char*>(sid), length);
}

// "DOMAIN\user", or the user alone when the account has no domain; empty
// when the system cannot name the SID. Looked up once per SID per call,
// since a lookup may have to ask a domain controller.
class AccountNames {
public:
    const std::string& name(const std::string& sid) {
        auto found = names_.find(sid);
        if (found != names_.end()) return found->second;
        return names_.emplace(sid, look_up(sid)).first->second;
    }

private:
    static std::string look_up(std::string sid) {
        wchar_t user[256];
        wchar_t domain[256];
        DWORD user_size = 256;
        DWORD domain_size = 256;
        SID_NAME_USE use{};
        if (!::LookupAccountSidW(nullptr, reinterpret_cast<PSID>(sid.data()), user, &user_size, domain, &domain_size,
                                 &use)) {
            return {};
        }
        std::string text = os::windows::to_utf8(std::wstring_view(user, user_size));
        if (domain_size > 0) text = os::windows::to_utf8(std::wstring_view(domain, domain_size)) + "\\" + text;
        return replace_control_characters(text, false);
    }

    std::map<std::string, std::string> names_;
};

struct ProcessFacts {
    DWORD pid = 0;
    std::string path;
    std::optional<std::string> command;
    std::optional<std::string> sid;
};

// Every process this account may query, in the snapshot's order. Nothing
// when the snapshot itself cannot be taken.
std::optional<std::vector<ProcessFacts>> read_processes() {
    Handle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) return std::nullopt;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    if (!::Process32FirstW(snapshot.get(), &entry)) return std::nullopt;
    const QueryProcess query = query_process_function();
    std::vector<ProcessFacts> processes;
    do {
        // 0 is the idle process and 4 the kernel's; neither is a program.
        if (entry.th32ProcessID <= 4) continue;
        Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (!process.valid()) continue;
        std::optional<std::string> path = image_path_of(process.get());
        if (!path || path->empty()) continue;
        processes.push_back(ProcessFacts{entry.th32ProcessID, std::move(*path),
                                         command_line_of(query, entry.th32ProcessID, process.get()),
                                         token_user_sid(process.get())});
    } while (::Process32NextW(snapshot.get(), &entry));
    return processes;
}

std::string folder_of(const std::string& path) {
    const std::size_t separator = path.find_last_of("\\/");
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

std::string program_name(const std::string& description, const std::string& path) {
    if (!description.empty() && count_characters(description) <= max_name_characters) return description;
    return std::string(file_stem(path));
}

// Starting modes are offered for a running service only when it would
// otherwise start on demand; the service's own process id when it has one.
void add_services(const std::vector<model::StartupItem>& items, ProgramFacts& facts,
                  std::vector<model::Candidate>& out) {
    for (const model::StartupItem& item : items) {
        if (item.kind != model::ItemKind::service || !item.running || !item.state_text.starts_with("Manual")) continue;
        const std::string& service = item.spec_value("short");
        if (service.empty()) continue;  // without its name there is nothing to switch
        model::Candidate candidate;
        candidate.id = "svc|" + service;
        candidate.name = item.name;
        candidate.source = model::CandidateSource::service;
        candidate.exe = item.exe;
        candidate.command = item.command;
        candidate.publisher = item.publisher;
        candidate.description = item.description;
        const std::string& pid_text = item.spec_value("pid");
        std::uint32_t pid = 0;
        const auto [end, error] = std::from_chars(pid_text.data(), pid_text.data() + pid_text.size(), pid);
        if (error == std::errc() && end == pid_text.data() + pid_text.size() && pid != 0) candidate.pids = {pid};
        candidate.modes = {model::service_auto_mode()};
        candidate.notes = {"A Windows service that is running now but only starts when something asks for it."};
        candidate.entry_id = item.id();
        candidate.system = facts.is_operating_system(item.exe);
        out.push_back(std::move(candidate));
    }
}

}  // namespace

ProcessCensus count_processes() {
    ProcessCensus census;
    for (const ProcessFacts& process : read_processes().value_or(std::vector<ProcessFacts>{})) {
        ++census.inspected;
        if (process.command) ++census.with_command_line;
    }
    return census;
}

model::ProgramList list_running_programs(const std::vector<model::StartupItem>& items) {
    std::optional<std::vector<ProcessFacts>> processes = read_processes();
    if (!processes) return model::ProgramList{{}, {"The list of running programs could not be read."}};

    std::map<std::string, std::string> entry_by_exe;
    for (const model::StartupItem& item : items) {
        if (!item.exe.empty()) entry_by_exe.emplace(to_lower_ascii(item.exe), item.id());
    }
    const std::optional<std::string> own_sid = token_user_sid(::GetCurrentProcess());
    // This program's file as the loader names it and as the process query
    // names it, in case the two spell the same file differently.
    const std::string own_program = to_lower_ascii(os::own_program_path());
    const std::string own_image = to_lower_ascii(image_path_of(::GetCurrentProcess()).value_or(own_program));

    // Processes grouped by lower-cased program file, in order of first sight.
    struct Group {
        std::vector<const ProcessFacts*> members;
    };
    std::vector<std::string> order;
    std::map<std::string, Group> groups;
    for (const ProcessFacts& process : *processes) {
        std::string key = to_lower_ascii(process.path);
        if (key == own_program || key == own_image) continue;
        auto [found, added] = groups.try_emplace(key);
        if (added) order.push_back(key);
        found->second.members.push_back(&process);
    }

    ProgramFacts facts;
    AccountNames accounts;
    model::ProgramList list;
    for (const std::string& key : order) {
        const std::vector<const ProcessFacts*>& members = groups[key].members;
        const ProcessFacts& first = *members.front();
        model::Candidate candidate;
        candidate.id = "proc|" + key;
        candidate.source = model::CandidateSource::process;
        candidate.exe = first.path;
        candidate.command = first.command ? *first.command : "\"" + first.path + "\"";
        candidate.workdir = folder_of(first.path);
        for (const ProcessFacts* member : members) candidate.pids.push_back(member->pid);
        // The account shown is this user's when any copy runs as this user;
        // otherwise the first account that could be named.
        const ProcessFacts* own_copy = nullptr;
        const ProcessFacts* other_copy = nullptr;
        for (const ProcessFacts* member : members) {
            if (!member->sid) continue;
            if (own_sid && *member->sid == *own_sid) {
                if (own_copy == nullptr) own_copy = member;
            } else if (other_copy == nullptr) {
                other_copy = member;
            }
        }
        if (own_copy != nullptr) {
            candidate.user = accounts.name(*own_copy->sid);
        } else if (other_copy != nullptr) {
            candidate.user = accounts.name(*other_copy->sid);
            if (own_sid) candidate.notes.push_back("It runs under another account.");
        }
        const VersionStrings& version = facts.version(first.path);
        candidate.name = program_name(version.description, first.path);
        candidate.publisher = version.publisher;
        candidate.description = version.description;
        candidate.system = facts.is_operating_system(first.path);
        candidate.modes = model::program_start_modes(candidate.system);
        if (auto entry = entry_by_exe.find(key); entry != entry_by_exe.end()) candidate.entry_id = entry->second;
        list.items.push_back(std::move(candidate));
    }
    add_services(items, facts, list.items);

    // By name regardless of case, then by id, so equal names keep one order.
    std::stable_sort(list.items.begin(), list.items.end(), [](const model::Candidate& a, const model::Candidate& b) {
        const std::string left = to_lower_ascii(a.name);
        const std::string right = to_lower_ascii(b.name);
        return left != right ? left < right : a.id < b.id;
    });
    return list;
}

}  // namespace qm::windows
