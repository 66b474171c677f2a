// Systemd units that start with the computer (system units) or at sign-in
// (user units of the account running the program, and units enabled for
// every user), and switching them. Which units: every unit of the
// knowledge's unit types that a *.wants or *.requires folder pulls in, and
// every unit whose [Install] section lets it be enabled. Their enabled and
// current state come from systemctl while systemd runs the computer, and from
// the unit files and links otherwise (containers, test roots). Switching goes
// through `systemctl enable|disable` (with --root= in a test root); the one
// thing systemctl cannot do in a test root, a user unit, is done by making
// and removing the same links it would. Thread-safe; no state.
#pragma once

#include <string>
#include <vector>

#include "model/platform.h"
#include "platforms/linux/linux_system.h"

namespace qm::linux {

inline constexpr std::string_view own_prefix = "Quillmoor-";

// Appends the units to `result` (system units first) with spec `unit`,
// `state` and `file` (the unit file's path on the computer).
void scan_units(const LinuxContext& context, const std::vector<std::string>& unit_types, model::ScanResult& result);

// Kinds "systemd" and "systemd-user"; reads spec `unit` and the scope.
[[nodiscard]] Result<model::ChangeOutcome> switch_unit(const LinuxContext& context, const model::StartupItem& item,
                                                       bool on, bool stop_now);

// Every folder the scan reads units from (system, then every user's, then
// the account's own), as paths on the computer.
[[nodiscard]] std::vector<std::string> all_unit_folders(const LinuxContext& context);

// The folders of the account's own user units, the first one written to.
[[nodiscard]] std::string user_unit_folder(const LinuxContext& context);
inline constexpr std::string_view system_unit_folder = "/etc/systemd/system";

// What systemd reads for the unit of `item` (kinds "systemd" and
// "systemd-user", spec `unit` and `file`): its file, then each of its
// drop-ins in the order systemd applies them.
[[nodiscard]] Result<std::string> unit_text_in_force(const LinuxContext& context, const model::StartupItem& item);

// Removes every link named `unit` from the *.wants and *.requires folders
// inside `folder` (a path on this machine); missing links are fine.
[[nodiscard]] Result<void> remove_unit_links(const std::string& folder, const std::string& unit);
// Links `unit` (whose file is `unit_path` on the computer) into the targets
// its [Install] section names, inside `folder` (a path on this machine).
[[nodiscard]] Result<void> add_unit_links(const std::string& folder, const std::string& unit,
                                          const std::string& unit_path, const std::string& unit_text);

}  // namespace qm::linux
