#include "platforms/windows/startup_cost.h"

#include <windows.h>
#include <winevt.h>

#include <algorithm>

#include "formats/boot_events.h"
#include "formats/xml_text.h"
#include "os/environment.h"
#include "os/files.h"
#include "os/windows/handle.h"
#include "os/windows/wide.h"
#include "platforms/windows/program_files.h"
#include "platforms/windows/registry.h"
#include "util/text.h"
#include "util/time_text.h"

namespace qm::windows {
namespace {

// A sign-in record holds a few hundred processes; far larger is not one.
constexpr std::uint64_t record_file_limit = 8u << 20;
// The newest events read from the boot-performance log: five boots and what
// slowed them fit many times over.
constexpr std::size_t boot_log_events_read = 400;
constexpr std::size_t rendered_event_limit = 256u << 10;

constexpr wchar_t boot_log_channel[] = L"Microsoft-Windows-Diagnostics-Performance/Operational";
constexpr wchar_t boot_log_query[] = L"*[System[(EventID=100 or EventID=101 or EventID=103)]]";

std::string default_records_folder() {
    std::string windows = os::get_env("SystemRoot").value_or("");
    if (windows.empty()) windows = "C:\\Windows";
    return windows + "\\System32\\wdi\\LogFiles\\StartupInfo";
}

void read_sign_ins(std::string_view sid, const std::string& folder, StartupRecords& records) {
    Result<std::vector<os::FolderEntry>> entries = os::list_folder(folder);
    if (!entries) {
        records.sign_in_note = "No sign-in records could be read from " + folder + ".";
        return;
    }
    std::vector<std::pair<std::uint32_t, std::string>> numbered;
    for (const os::FolderEntry& entry : *entries) {
        if (entry.is_folder) continue;
        if (const auto number = formats::sign_in_record_number(entry.name, sid))
            numbered.emplace_back(*number, entry.name);
    }
    std::sort(numbered.begin(), numbered.end(), std::greater<>());
    std::vector<formats::SignInRecord> read;
    for (const auto& [number, name] : numbered) {
        if (read.size() == measured_starts) break;
        Result<std::string> bytes = os::read_file(os::join_path(folder, name), record_file_limit);
        if (!bytes || bytes->size() > record_file_limit) continue;
        formats::SignInRecord record = formats::read_sign_in_record(formats::decode_document(*bytes));
        if (!record.processes.empty()) read.push_back(std::move(record));
    }
    for (const formats::SignInRecord& record : read) {
        std::optional<std::uint64_t> processor_us;
        for (const formats::SignInProcess& process : record.processes) {
            if (!process.processor_us) continue;
            const std::uint64_t sum = processor_us.value_or(0);
            processor_us = sum + std::min(*process.processor_us, UINT64_MAX - sum);
        }
        if (processor_us)
            records.starts.push_back({model::StartKind::sign_in, read_time_text(record.started), *processor_us / 1000});
    }
    records.sign_ins = static_cast<std::uint32_t>(read.size());
    if (!read.empty()) records.last_sign_in = read.front().started;
    records.sign_in_costs = formats::sign_in_costs(read, normalised_program_key);
    records.sign_in_note = read.empty() ? "No sign-in records of this account in " + folder + "."
                                        : std::to_string(read.size()) + " sign-in records read from " + folder + ".";
}

struct EventHandlePolicy {
    using Native = EVT_HANDLE;
    static Native none() noexcept { return nullptr; }
    static bool is_valid(Native h) noexcept { return h != nullptr; }
    static void close(Native h) noexcept { ::EvtClose(h); }
};
using EventHandle = os::UniqueHandle<EventHandlePolicy>;

// The event as XML text, or nothing when it cannot be rendered.
std::optional<std::string> rendered_xml(EVT_HANDLE event) {
    DWORD used = 0;
    DWORD properties = 0;
    std::wstring buffer(4096, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
        if (::EvtRender(nullptr, event, EvtRenderEventXml, bytes, buffer.data(), &used, &properties)) {
            buffer.resize(std::min<std::size_t>(used / sizeof(wchar_t), buffer.size()));
            while (!buffer.empty() && buffer.back() == L'\0') buffer.pop_back();
            return os::windows::to_utf8(buffer);
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || used > rendered_event_limit) return std::nullopt;
        buffer.assign(used / sizeof(wchar_t) + 1, L'\0');
    }
    return std::nullopt;
}

void add_slow(std::map<std::string, SlowStart>& slow, const std::string& key, std::uint64_t total_ms) {
    SlowStart& start = slow[key];
    // Running mean over the boots seen.
    start.total_ms = (start.total_ms * start.boots + total_ms) / (start.boots + 1);
    ++start.boots;
}

void read_boot_log(StartupRecords& records) {
    EventHandle query(::EvtQuery(nullptr, boot_log_channel, boot_log_query,
                                 EvtQueryChannelPath | EvtQueryReverseDirection | EvtQueryTolerateQueryErrors));
    if (!query) {
        const DWORD error = ::GetLastError();
        records.boot_log_note =
            error == ERROR_ACCESS_DENIED
                ? "Boot times are not measurable here: the boot-performance log can be read only with "
                  "administrator rights."
                : "Boot times are not measurable here: the boot-performance log cannot be read (Windows error " +
                      std::to_string(error) + ").";
        return;
    }
    records.boot_log_read = true;
    // Newest first: the events of what slowed a boot are written just after
    // that boot's own, so they come before it here.
    std::vector<formats::BootEvent> pending;
    std::size_t seen = 0;
    bool enough = false;
    while (!enough && seen < boot_log_events_read) {
        EVT_HANDLE batch[16];
        DWORD returned = 0;
        if (!::EvtNext(query.get(), 16, batch, 1000, 0, &returned) || returned == 0) break;
        for (DWORD i = 0; i < returned; ++i) {
            EventHandle event(batch[i]);
            ++seen;
            if (enough) continue;
            const std::optional<std::string> xml = rendered_xml(event.get());
            if (!xml) continue;
            std::optional<formats::BootEvent> read = formats::read_boot_event(*xml);
            if (!read) continue;
            if (read->kind != formats::BootEventKind::boot) {
                pending.push_back(std::move(*read));
                continue;
            }
            if (records.boots == measured_starts) {
                enough = true;
                continue;
            }
            ++records.boots;
            if (read->boot_ms)
                records.starts.push_back({model::StartKind::boot, read_time_text(read->time_created), *read->boot_ms});
            if (records.boots == 1) {
                records.last_boot_ms = read->boot_ms;
                records.last_main_path_ms = read->main_path_ms;
            }
            for (const formats::BootEvent& slow : pending) {
                if (!slow.total_ms) continue;
                if (slow.kind == formats::BootEventKind::slow_service && !slow.name.empty()) {
                    add_slow(records.slow_services, to_lower_ascii(slow.name), *slow.total_ms);
                } else if (slow.kind == formats::BootEventKind::slow_application && !slow.path.empty()) {
                    add_slow(records.slow_applications, normalised_program_key(slow.path), *slow.total_ms);
                }
            }
            pending.clear();
        }
    }
    records.boot_log_note = records.boots == 0
                                ? "The boot-performance log holds no boots yet."
                                : std::to_string(records.boots) + " boots read from the boot-performance log.";
}

// The long form of a path that exists, or nothing.
std::optional<std::string> long_path(const std::string& path) {
    const std::wstring wide = os::windows::to_wide(path);
    std::wstring buffer(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD n = ::GetLongPathNameW(wide.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) return std::nullopt;
        if (n < buffer.size()) return os::windows::to_utf8(std::wstring_view(buffer.data(), n));
        buffer.assign(n, L'\0');
    }
    return std::nullopt;
}

}  // namespace

std::string normalised_program_key(std::string_view path) {
    std::string text = trim(expand_references(trim(path)));
    // A path quoted as on a command line names the same file.
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = text.substr(1, text.size() - 2);
    std::replace(text.begin(), text.end(), '/', '\\');
    std::wstring wide = os::windows::to_wide(text);
    // A full path as Windows resolves it before opening the file: repeated
    // separators, "." and ".." folded (only the text is read, no file).
    // Anything else (a bare name, a drive-relative path) is left as written,
    // since it would be resolved against this program's folder.
    const bool full = (wide.size() >= 3 && wide[1] == L':' && wide[2] == L'\\') || wide.starts_with(L"\\\\");
    if (full) {
        std::wstring resolved(wide.size() + 1, L'\0');
        for (int attempt = 0; attempt < 2; ++attempt) {
            const DWORD n =
                ::GetFullPathNameW(wide.c_str(), static_cast<DWORD>(resolved.size()), resolved.data(), nullptr);
            if (n == 0) break;
            if (n < resolved.size()) {
                wide.assign(resolved.data(), n);
                break;
            }
            resolved.assign(n, L'\0');  // n is the size needed, with the terminator
        }
    }
    // File names differ in case beyond ASCII too ("Ä" and "ä" name one file):
    // the same lower-casing whatever the user's language.
    if (!wide.empty()) {
        std::wstring lower(wide.size(), L'\0');
        const int n =
            ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, wide.c_str(), static_cast<int>(wide.size()),
                            lower.data(), static_cast<int>(lower.size()), nullptr, nullptr, 0);
        if (n == static_cast<int>(lower.size())) return os::windows::to_utf8(lower);
    }
    return to_lower_ascii(os::windows::to_utf8(wide));
}

StartupRecords read_startup_records(std::string_view sid, const std::string& records_folder) {
    StartupRecords records;
    if (sid.empty()) {
        records.sign_in_note = "This account's identity could not be read, so its sign-in records are not known.";
    } else {
        read_sign_ins(sid, records_folder.empty() ? default_records_folder() : records_folder, records);
    }
    read_boot_log(records);
    return records;
}

void apply_startup_records(const StartupRecords& records, std::vector<model::StartupItem>& items) {
    for (model::StartupItem& item : items) {
        if (item.kind == model::ItemKind::service) {
            const auto slow = records.slow_services.find(to_lower_ascii(item.spec_value("short")));
            if (slow == records.slow_services.end()) continue;
            item.impact = model::measured_impact(model::MeasuredBy::boot_log, slow->second.boots, std::nullopt,
                                                 std::nullopt, slow->second.total_ms);
            continue;
        }
        // A host's processes in the records are those of everything it ran
        // (every script, every rundll32 entry), not this item's alone.
        if (item.exe.empty() || is_host_program(item.exe)) continue;
        std::string key = normalised_program_key(item.exe);
        // Records name programs by their long names; an item may name its
        // program by the short one ("C:\PROGRA~1\..."), which only the file
        // system can turn into the long one.
        if (!records.sign_in_costs.contains(key) && !records.slow_applications.contains(key) &&
            key.find('~') != std::string::npos) {
            if (const std::optional<std::string> long_name = long_path(expand_references(item.exe)))
                key = normalised_program_key(*long_name);
        }
        if (const auto cost = records.sign_in_costs.find(key); cost != records.sign_in_costs.end()) {
            const formats::SignInCost& c = cost->second;
            item.impact =
                model::measured_impact(model::MeasuredBy::sign_in_records, c.sign_ins,
                                       c.processor_known ? std::optional<std::uint64_t>(c.processor_us / 1000)
                                                         : std::nullopt,
                                       c.disk_known ? std::optional<std::uint64_t>(c.disk_bytes) : std::nullopt,
                                       std::nullopt);
            if (item.impact.level != model::ImpactLevel::not_measured) item.impact.started_ms = c.started_ms;
        } else if (const auto slow = records.slow_applications.find(key); slow != records.slow_applications.end()) {
            item.impact = model::measured_impact(model::MeasuredBy::boot_log, slow->second.boots, std::nullopt,
                                                 std::nullopt, slow->second.total_ms);
        }
    }
}

model::StartupCost startup_cost_summary(const StartupRecords& records) {
    model::StartupCost cost;
    cost.measurable = records.sign_ins > 0 || records.boot_log_read;
    for (const std::string* note : {&records.sign_in_note, &records.boot_log_note}) {
        if (!note->empty()) cost.sources.push_back(*note);
    }
    cost.starts = records.starts;
    if (records.sign_ins > 0) {
        cost.last_start = "sign-in";
        // As the program writes every time, where the record's own text reads.
        const std::optional<std::int64_t> began = read_time_text(records.last_sign_in);
        cost.when = began ? time_text(*began) : records.last_sign_in;
    } else if (records.boots > 0) {
        cost.last_start = "boot";
        cost.total_ms = records.last_boot_ms;
        if (records.last_main_path_ms) cost.phases_ms.emplace_back("main path", *records.last_main_path_ms);
    }
    return cost;
}

}  // namespace qm::windows
