// The third source of a scan: the Windows services of the Services key, with
// their current state from the Service Control Manager and the active
// services that depend on each; and switching a service's start type through
// sc.exe. Switching off remembers the start type in saved.json in the data
// folder, so switching on restores it. The registry is never written directly.
// Every call may run on several threads at once: the read-change-write of
// saved.json is done under one lock of this process.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "model/platform.h"
#include "os/run_tool.h"
#include "platforms/windows/program_files.h"
#include "platforms/windows/service_record.h"
#include "util/result.h"

namespace qm::windows {

// The key below HKLM that holds every service's settings.
inline constexpr std::string_view services_path = "SYSTEM\\CurrentControlSet\\Services";

struct ServiceState {
    std::string display_name;
    std::uint32_t state = 0;  // SERVICE_RUNNING is 4
    std::uint32_t pid = 0;
};
// By lower-cased service name; empty when the manager cannot be opened.
using ServiceStates = std::map<std::string, ServiceState>;

[[nodiscard]] ServiceStates read_service_states();

// Appends service items, or the note "The list of Windows services could not
// be read." when the Services key cannot be opened, and each running
// service as an actor with the time its process started. An item's dependents are
// the names (as shown) of the active services that need it: those that start
// automatically, or run and are not disabled. With a record, the values of
// keys unchanged since it was kept come from it (service_record.h).
// An Automatic service offers to start only when needed and, when not
// delayed already, a little later. With a data folder, a service whose
// start type is still the one a way taken through this program gave it
// (saved.json, remembered with the way) has that way taken.
void scan_services(bool admin, ProgramFacts& programs, model::ScanResult& result, ServiceRecord* record = nullptr,
                   const std::string& data_folder = {});

// The texts of a REG_MULTI_SZ value: UTF-16LE texts separated by NUL
// characters, ending at the first empty one or at the end of the data.
[[nodiscard]] std::vector<std::string> decode_registry_list(std::string_view bytes);

// An indirect text ("@file,-id") through SHLoadIndirectString; empty when it
// cannot be resolved. Any other text comes back as it is.
[[nodiscard]] std::string resolve_indirect_text(const std::string& text);

// "Automatic", "Automatic (delayed)", "Manual (on demand)", "Disabled" or
// "Start type {n}".
[[nodiscard]] std::string start_type_text(std::uint32_t start, bool delayed);

[[nodiscard]] Result<model::ChangeOutcome> switch_service(const model::StartupItem& item, bool on, bool stop_now,
                                                          const std::string& data_folder,
                                                          const os::ToolRunner& runner = os::run_tool);

// Takes a gentler way (when_needed: Manual; later: delayed automatic),
// remembering the start type before it with the way in saved.json, or takes
// it back (on_time: the remembered start type again, and the entry
// forgotten). Fails as switch_service does.
[[nodiscard]] Result<model::WayOutcome> set_service_way(const model::StartupItem& item, model::ChangeAction way,
                                                        const std::string& data_folder,
                                                        const os::ToolRunner& runner = os::run_tool);

// The ways remembered in saved.json, by lower-cased service name ("when-needed"
// or "later"), and whether a start type is still the one a way gives.
[[nodiscard]] std::map<std::string, std::string> remembered_service_ways(const std::string& data_folder);
[[nodiscard]] bool service_way_taken(std::string_view way, std::uint32_t start, bool delayed);

}  // namespace qm::windows
