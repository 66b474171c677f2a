#include "platforms/windows/services.h"

#include <algorithm>
#include <array>
#include <cwchar>
#include <optional>
#include <utility>

#include <windows.h>
#include <winsvc.h>

#include "os/windows/handle.h"
#include "model/start_ways.h"
#include "platforms/windows/registry.h"
#include "platforms/windows/work_pool.h"
#include "os/windows/wide.h"
#include "util/text.h"

namespace qm::windows {

namespace {


// Win32 services in a process of their own or shared with others; a type
// with the per-user bits is a template (or a copy of one), and drivers have
// neither of the first two bits.
constexpr std::uint32_t own_process = 0x10;
constexpr std::uint32_t share_process = 0x20;
constexpr std::uint32_t user_service = 0x40;
constexpr std::uint32_t user_service_instance = 0x80;
constexpr std::uint32_t automatic_start = 2;
constexpr std::uint32_t disabled_start = 4;
constexpr std::uint32_t running_state = 4;

constexpr DWORD first_enumeration_bytes = 64 * 1024;
constexpr DWORD most_service_keys = 100000;
constexpr UINT indirect_text_units = 1024;

bool is_listed_type(std::uint32_t type) {
    return (type & (own_process | share_process)) != 0 && (type & (user_service | user_service_instance)) == 0;
}

// A text value, expanded when it is REG_EXPAND_SZ; absent when missing or
// of another type.
std::optional<std::string> expanded_text(const std::optional<RawValue>& raw) {
    std::optional<std::string> text = text_of(raw);
    if (text && raw->type == REG_EXPAND_SZ) text = expand_references(*text);
    return text;
}

// A text shown to people: indirect texts resolved, missing ones empty.
std::string shown_text(const std::optional<RawValue>& raw) {
    return resolve_indirect_text(expanded_text(raw).value_or(std::string()));
}

std::string read_service_dll(HKEY service_key) {
    RegistryResult<RegistryKey> parameters = open_key(service_key, "Parameters", KEY_READ);
    if (!parameters) return {};
    return expanded_text(try_read_raw(parameters->get(), "ServiceDll").value_or(std::nullopt)).value_or(std::string());
}

std::vector<std::string> dependencies(const std::optional<RawValue>& raw) {
    if (!raw || (raw->type != REG_MULTI_SZ && raw->type != REG_SZ)) return {};
    return decode_registry_list(raw->bytes);
}

struct ServiceEntry {
    model::StartupItem item;
    std::uint32_t start = 0;
    std::vector<std::string> depends_on;  // as written in the registry
    std::string key_name;
    std::uint32_t pid = 0;  // of its process while it runs
};

// The values of a service key the scan reads.
constexpr std::array<std::string_view, 7> service_value_names = {"Type",           "Start",
                                                                 "DisplayName",    "DelayedAutostart",
                                                                 "ImagePath",      "Description",
                                                                 "DependOnService"};

std::optional<RawValue> value_of(const KeptValues& values, std::string_view name) {
    const auto found = values.find(name);
    if (found == values.end()) return std::nullopt;
    return found->second;
}

// The service keys in the order the registry lists them, asked for by index
// on a few threads at once; indexes past the count the key gave first are
// asked for one by one until the list ends.
std::vector<Subkey> service_keys(HKEY services) {
    DWORD count = 0;
    if (::RegQueryInfoKeyW(services, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, nullptr) != ERROR_SUCCESS)
        return enumerate_subkeys_with_times(services);
    std::vector<std::optional<Subkey>> listed(count);
    run_on_workers(count, [&](std::size_t i) { listed[i] = subkey_at(services, static_cast<DWORD>(i)); });
    std::vector<Subkey> subkeys;
    for (std::optional<Subkey>& subkey : listed) {
        if (subkey) subkeys.push_back(std::move(*subkey));
    }
    // Keys made since the count was given; no real Services key holds so
    // many that a key changing under the scan could hold it here forever.
    for (DWORD index = count; index <= most_service_keys; ++index) {
        std::optional<Subkey> subkey = subkey_at(services, index);
        if (!subkey) break;
        subkeys.push_back(std::move(*subkey));
    }
    return subkeys;
}

// What reading one service key gave.
struct KeyRead {
    const KeptValues* kept = nullptr;  // the values recorded for the key as it is, if any
    bool opened = false;
    KeptValues values;        // read from the key when none were recorded
    bool complete = false;    // every value of the key was read
    std::string service_dll;  // see read_key
};

bool is_listed(const KeptValues& values) {
    const std::optional<std::uint32_t> type = number_of(value_of(values, "Type"));
    const std::optional<std::uint32_t> start = number_of(value_of(values, "Start"));
    return type && is_listed_type(*type) && start && *start <= disabled_start;
}

// Opens the key even when its values are recorded, so that a key that can
// no longer be read is counted as such; reads its values, when none are
// recorded, with one enumeration (a service key holds a handful of values:
// fewer calls than asking for each of the seven by name); and, while the key
// is open, the library under Parameters of a listed service whose image path
// names svchost.exe (used only when that is the program it starts). Safe to
// run for several keys at once.
void read_key(HKEY services, const Subkey& listed, KeyRead& read) {
    RegistryResult<RegistryKey> key = open_key(services, listed.name, KEY_READ);
    if (!key) return;
    read.opened = true;
    if (read.kept == nullptr) {
        const ValueTable table(key->get());
        for (std::string_view name : service_value_names) {
            if (std::optional<RawValue> value = table.find(name)) read.values.emplace(name, std::move(*value));
        }
        read.complete = table.complete();
    }
    const KeptValues& values = read.kept != nullptr ? *read.kept : read.values;
    if (!is_listed(values)) return;
    const std::string image_path = expanded_text(value_of(values, "ImagePath")).value_or(std::string());
    if (to_lower_ascii(image_path).find("svchost.exe") != std::string::npos) {
        read.service_dll = read_service_dll(key->get());
    }
}

std::optional<ServiceEntry> service_entry(const Subkey& key, const KeptValues& values, const std::string& read_dll,
                                          bool admin, const ServiceStates& states, ProgramFacts& programs) {
    const std::string& key_name = key.name;
    if (!is_listed(values)) return std::nullopt;
    const std::uint32_t start = *number_of(value_of(values, "Start"));
    std::string display_name = shown_text(value_of(values, "DisplayName"));
    if (display_name.empty()) display_name = key_name;
    const bool delayed = number_of(value_of(values, "DelayedAutostart")).value_or(0) == 1;
    const std::string image_path = expanded_text(value_of(values, "ImagePath")).value_or(std::string());
    CommandProgram image = programs.command(image_path);
    const std::string& image_program = image.program;
    // Services that share a svchost.exe process are their library; the host
    // says nothing about what runs.
    const std::string service_dll = to_lower_ascii(image_program).ends_with("svchost.exe") ? read_dll : std::string();

    ServiceEntry entry{model::StartupItem(model::ItemKind::service, "Windows service", model::Scope::machine,
                                          "Services", display_name),
                       start, dependencies(value_of(values, "DependOnService")), key_name};
    model::StartupItem& item = entry.item;
    item.changed =
        model::ChangeTime{formats::unix_seconds_of_file_time(key.written), "the service's settings were written"};
    item.command = service_dll.empty() ? image_path : image_path + " (library: " + service_dll + ")";
    item.exe = service_dll.empty() ? image_program : service_dll;
    if (!image.unquoted_warning.empty()) item.warnings.push_back(std::move(image.unquoted_warning));
    item.description = shown_text(value_of(values, "Description"));
    item.origin =
        programs.is_operating_system(item.exe) ? model::Origin::operating_system : model::Origin::installed_program;

    const auto known = states.find(to_lower_ascii(key_name));
    const std::uint32_t pid = known == states.end() ? 0 : known->second.pid;
    item.running = known != states.end() && known->second.state == running_state;
    if (item.running) entry.pid = pid;
    item.enabled = start == automatic_start;
    item.state_text = start_type_text(start, delayed);
    item.set_spec("short", key_name);
    item.set_spec("start", std::to_string(start));
    item.set_spec("delayed", delayed ? "1" : "0");
    item.set_spec("pid", std::to_string(pid));
    if (!admin) item.toggle = model::Toggle::admin;
    if (start == automatic_start) {
        item.ways.when_needed = true;
        if (!delayed) item.ways.later = model::LaterKind::service;
    }
    return entry;
}

// A service still Manual, or delayed, as a way taken through this program
// left it, has that way taken; it offers what it offered before the way.
void mark_taken_ways(std::vector<ServiceEntry>& entries, const std::string& data_folder) {
    const std::map<std::string, std::string> ways = remembered_service_ways(data_folder);
    if (ways.empty()) return;
    for (ServiceEntry& entry : entries) {
        const auto found = ways.find(to_lower_ascii(entry.key_name));
        if (found == ways.end()) continue;
        model::StartupItem& item = entry.item;
        if (!service_way_taken(found->second, entry.start, item.spec_value("delayed") == "1")) continue;
        const bool later = found->second == model::word_text(model::ChangeAction::later);
        item.ways.when_needed = true;
        item.ways.later = model::LaterKind::service;
        item.ways.taken = later ? model::ChangeAction::later : model::ChangeAction::when_needed;
        item.ways.taken_seconds = 0;
        item.state_text = model::taken_text(item.ways);
    }
}

// The publisher, and the description where the key gave none, from the
// version information of each item's program, read for all items at once.
void add_version_strings(std::vector<ServiceEntry>& entries, ProgramFacts& programs) {
    std::vector<std::string> paths;
    for (const ServiceEntry& entry : entries) {
        if (!entry.item.exe.empty()) paths.push_back(entry.item.exe);
    }
    programs.read_versions(paths);
    for (ServiceEntry& entry : entries) {
        model::StartupItem& item = entry.item;
        if (item.exe.empty()) continue;
        const VersionStrings& strings = programs.version(item.exe);
        item.publisher = strings.publisher;
        if (item.description.empty()) item.description = strings.description;
        programs.file_facts(item);
    }
}

// Items are told apart by their shown name, so services that show the same
// name (possible when the registry was edited by hand) each get their own
// service name beside it; otherwise switching one could reach the other.
void tell_apart_equal_names(std::vector<ServiceEntry>& entries) {
    std::map<std::string, std::size_t> counts;
    for (const ServiceEntry& entry : entries) ++counts[entry.item.name];
    for (ServiceEntry& entry : entries) {
        if (counts[entry.item.name] < 2) continue;
        model::StartupItem renamed(model::ItemKind::service, entry.item.kind_label, entry.item.scope,
                                   entry.item.location, entry.item.name + " (" + entry.key_name + ")");
        model::StartupItem& old = entry.item;
        renamed.command = std::move(old.command);
        renamed.exe = std::move(old.exe);
        renamed.warnings = std::move(old.warnings);
        renamed.changed = std::move(old.changed);
        renamed.exe_size = old.exe_size;
        renamed.exe_time = old.exe_time;
        renamed.publisher = std::move(old.publisher);
        renamed.description = std::move(old.description);
        renamed.origin = std::move(old.origin);
        renamed.enabled = old.enabled;
        renamed.running = old.running;
        renamed.state_text = std::move(old.state_text);
        renamed.toggle = std::move(old.toggle);
        renamed.ways = std::move(old.ways);
        for (const model::SpecPair& pair : old.spec()) renamed.set_spec(pair.key, pair.value);
        entry.item = std::move(renamed);
    }
}

void add_dependents(std::vector<ServiceEntry>& entries) {
    std::map<std::string, std::size_t> by_name;  // lower-cased service name -> index
    for (std::size_t i = 0; i < entries.size(); ++i) by_name.emplace(to_lower_ascii(entries[i].key_name), i);
    for (const ServiceEntry& entry : entries) {
        const bool active = entry.start == automatic_start || (entry.item.running && entry.start != disabled_start);
        if (!active) continue;
        for (const std::string& needed : entry.depends_on) {
            const auto found = by_name.find(to_lower_ascii(needed));
            if (found != by_name.end()) entries[found->second].item.dependents.push_back(entry.item.name);
        }
    }
    for (ServiceEntry& entry : entries) {
        std::vector<std::string>& dependents = entry.item.dependents;
        std::sort(dependents.begin(), dependents.end());
        dependents.erase(std::unique(dependents.begin(), dependents.end()), dependents.end());
    }
}

// When a process started (seconds since 1970, UTC); 0 when it cannot be asked.
std::int64_t process_start(std::uint32_t pid) {
    const os::windows::Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid));
    if (!process.valid()) return 0;
    FILETIME created{};
    FILETIME exited{};
    FILETIME kernel{};
    FILETIME user{};
    if (!::GetProcessTimes(process.get(), &created, &exited, &kernel, &user)) return 0;
    return formats::unix_seconds_of_file_time(static_cast<std::uint64_t>(created.dwHighDateTime) << 32 |
                                              created.dwLowDateTime);
}

// Every running service as something that may have written a startup entry
// when it started: the time its process started, asked once per process
// (services may share one) on a few threads.
void add_service_actors(const std::vector<ServiceEntry>& entries, std::vector<model::ChangeActor>& actors) {
    std::vector<std::uint32_t> pids;
    for (const ServiceEntry& entry : entries) {
        if (entry.pid != 0) pids.push_back(entry.pid);
    }
    std::sort(pids.begin(), pids.end());
    pids.erase(std::unique(pids.begin(), pids.end()), pids.end());
    std::vector<std::int64_t> started(pids.size(), 0);
    run_on_workers(pids.size(), [&](std::size_t i) { started[i] = process_start(pids[i]); });
    for (const ServiceEntry& entry : entries) {
        if (entry.pid == 0) continue;
        const std::int64_t time =
            started[static_cast<std::size_t>(std::lower_bound(pids.begin(), pids.end(), entry.pid) - pids.begin())];
        if (time == 0) continue;
        model::ChangeActor actor;
        actor.kind = model::ActorKind::service;
        actor.name = entry.item.name;
        actor.item_id = entry.item.id();
        actor.exe = entry.item.exe;
        actor.publisher = entry.item.publisher;
        actor.time = time;
        actors.push_back(std::move(actor));
    }
}

using LoadIndirectString = HRESULT(WINAPI*)(PCWSTR, PWSTR, UINT, void**);

// SHLoadIndirectString lives in shlwapi.dll, which nothing else of the
// program needs; it is loaded from the system folder once and stays loaded
// for the life of the process, so the module handle is never closed.
LoadIndirectString indirect_string_loader() {
    static const LoadIndirectString loader = [] {
        HMODULE module = ::LoadLibraryExW(L"shlwapi.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (module == nullptr) return LoadIndirectString{};
        return reinterpret_cast<LoadIndirectString>(
            reinterpret_cast<void*>(::GetProcAddress(module, "SHLoadIndirectString")));
    }();
    return loader;
}

}  // namespace

std::vector<std::string> decode_registry_list(std::string_view bytes) {
    std::vector<std::string> texts;
    std::size_t begin = 0;
    const std::size_t end = bytes.size() - bytes.size() % 2;
    for (std::size_t at = 0; at <= end; at += 2) {
        const bool at_nul = at < end && bytes[at] == '\0' && bytes[at + 1] == '\0';
        if (at < end && !at_nul) continue;
        if (at == begin) break;  // an empty text ends the list
        texts.push_back(decode_registry_text(bytes.substr(begin, at - begin)));
        begin = at + 2;
    }
    return texts;
}

std::string resolve_indirect_text(const std::string& text) {
    if (!text.starts_with('@')) return text;
    const LoadIndirectString load = indirect_string_loader();
    if (load == nullptr) return {};
    std::wstring buffer(indirect_text_units, L'\0');
    const std::wstring source = os::windows::to_wide(text);
    if (FAILED(load(source.c_str(), buffer.data(), indirect_text_units, nullptr))) return {};
    buffer[indirect_text_units - 1] = L'\0';
    buffer.resize(wcslen(buffer.c_str()));
    return os::windows::to_utf8(buffer);
}

std::string start_type_text(std::uint32_t start, bool delayed) {
    switch (start) {
        case 2:
            return delayed ? "Automatic (delayed)" : "Automatic";
        case 3:
            return "Manual (on demand)";
        case 4:
            return "Disabled";
        default:
            return "Start type " + std::to_string(start);
    }
}

ServiceStates read_service_states() {
    ServiceStates states;
    os::windows::ServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    if (!manager) return states;
    // Whole 8-byte units, so the records Windows writes at the start are aligned.
    std::vector<std::uint64_t> buffer(first_enumeration_bytes / sizeof(std::uint64_t));
    DWORD resume = 0;
    // A few thousand services fill a few buffers; the bound only guards
    // against a manager that keeps asking for more without giving any.
    for (int round = 0; round < 1000; ++round) {
        const DWORD size = static_cast<DWORD>(buffer.size() * sizeof(std::uint64_t));
        DWORD needed = 0;
        DWORD returned = 0;
        const BOOL done =
            ::EnumServicesStatusExW(manager.get(), SC_ENUM_PROCESS_INFO, SERVICE_WIN32, SERVICE_STATE_ALL,
                                    reinterpret_cast<BYTE*>(buffer.data()), size, &needed, &returned, &resume, nullptr);
        const DWORD error = done ? ERROR_SUCCESS : ::GetLastError();
        if (!done && error != ERROR_MORE_DATA) break;
        const auto* records = reinterpret_cast<const ENUM_SERVICE_STATUS_PROCESSW*>(buffer.data());
        for (DWORD i = 0; i < returned; ++i) {
            const ENUM_SERVICE_STATUS_PROCESSW& record = records[i];
            if (record.lpServiceName == nullptr) continue;
            ServiceState state;
            if (record.lpDisplayName != nullptr) state.display_name = os::windows::to_utf8(record.lpDisplayName);
            state.state = record.ServiceStatusProcess.dwCurrentState;
            state.pid = record.ServiceStatusProcess.dwProcessId;
            states.insert_or_assign(to_lower_ascii(os::windows::to_utf8(record.lpServiceName)), std::move(state));
        }
        if (done) break;
        // Not even one record fitted: the next round asks again with room for it.
        if (returned == 0) {
            if (needed <= size) break;
            buffer.resize((static_cast<std::size_t>(needed) + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
        }
    }
    return states;
}

void scan_services(bool admin, ProgramFacts& programs, model::ScanResult& result, ServiceRecord* record,
                   const std::string& data_folder) {
    RegistryResult<RegistryKey> services = open_key(HKEY_LOCAL_MACHINE, services_path, KEY_READ);
    if (!services) {
        result.notes.push_back("The list of Windows services could not be read.");
        return;
    }
    // The manager answers from another process while the keys are listed.
    ServiceStates states;
    std::vector<Subkey> subkeys;
    run_both([&] { states = read_service_states(); }, [&] { subkeys = service_keys(services->get()); });
    std::vector<KeyRead> reads(subkeys.size());
    if (record != nullptr) {
        for (std::size_t i = 0; i < subkeys.size(); ++i)
            reads[i].kept = record->find(subkeys[i].name, subkeys[i].written);
    }
    run_on_workers(subkeys.size(), [&](std::size_t i) { read_key(services->get(), subkeys[i], reads[i]); });

    std::vector<ServiceEntry> entries;
    std::size_t unreadable = 0;
    for (std::size_t i = 0; i < subkeys.size(); ++i) {
        KeyRead& read = reads[i];
        if (!read.opened) {
            // Refused, or its name as read (an unpaired surrogate shown as U+FFFD) names no key.
            ++unreadable;
            continue;
        }
        if (read.kept == nullptr && read.complete && record != nullptr) {
            record->store(subkeys[i].name, subkeys[i].written, read.values);
        }
        const KeptValues& values = read.kept != nullptr ? *read.kept : read.values;
        std::optional<ServiceEntry> entry =
            service_entry(subkeys[i], values, read.service_dll, admin, states, programs);
        if (entry) entries.push_back(std::move(*entry));
    }
    add_version_strings(entries, programs);
    if (unreadable > 0) {
        result.notes.push_back(std::to_string(unreadable) + " service key(s) could not be read and are not listed.");
    }
    tell_apart_equal_names(entries);
    add_dependents(entries);
    mark_taken_ways(entries, data_folder);
    add_service_actors(entries, result.actors);
    result.items.reserve(result.items.size() + entries.size());
    for (ServiceEntry& entry : entries) result.items.push_back(std::move(entry.item));
}

}  // namespace qm::windows
