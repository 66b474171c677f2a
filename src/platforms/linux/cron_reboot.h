// The @reboot lines of cron: the user's crontab (through the crontab tool, or
// its spool file in a test root) and the system's /etc/crontab and
// /etc/cron.d files, whose lines name the account to run as. Switching off
// comments a line out behind the program's own mark, and switching on takes
// exactly that mark away again, so lines the user commented out are never
// touched. Every file is written whole. Thread-safe; no state.
#pragma once

#include <string>
#include <vector>

#include "model/platform.h"
#include "platforms/linux/linux_system.h"

namespace qm::linux {

// Where the crontabs are, on the computer: the system's file and folder, and
// the folder of each account's own crontab (a file named after the account).
inline constexpr std::string_view system_crontab_file = "/etc/crontab";
inline constexpr std::string_view system_crontab_folder = "/etc/cron.d";
inline constexpr std::string_view crontab_spool_folder = "/var/spool/cron/crontabs";

// Put before a line the program switched off.
inline constexpr std::string_view cron_off_mark = "#Quillmoor-off: ";
// Put after the command of a line the program created, naming the entry.
inline constexpr std::string_view cron_own_mark = " # Quillmoor-";

// Appends the @reboot lines with spec `entry` (the line as it runs) and
// `file` (the crontab's file on the computer, for system lines).
void scan_cron(const LinuxContext& context, model::ScanResult& result);

[[nodiscard]] Result<model::ChangeOutcome> switch_cron(const LinuxContext& context, const model::StartupItem& item,
                                                       bool on);

// The user's crontab as text (empty when there is none), and writing it back.
[[nodiscard]] Result<std::string> read_user_crontab(const LinuxContext& context);
[[nodiscard]] Result<void> write_user_crontab(const LinuxContext& context, const std::string& text);

}  // namespace qm::linux
