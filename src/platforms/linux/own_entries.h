// Entries of the program's own on Linux, one per way of starting: an
// autostart file "Quillmoor-{slug}.desktop" in the user's folder (login), a
// user unit (user-service), a system unit (boot, root only) and an @reboot
// line of the user's crontab marked with the entry's name (cron). A free name
// is always chosen, so nothing existing is overwritten; removal deletes only
// what carries the program's name in the program's own places.
#pragma once

#include <string>
#include <vector>

#include "model/platform.h"
#include "platforms/linux/linux_system.h"

namespace qm::linux {

// The ways a program can be made to start here, in order; "login" is
// recommended unless the program belongs to the system.
[[nodiscard]] std::vector<model::StartMode> linux_start_modes(bool system);

// A name made of the letters systemd allows in unit names.
[[nodiscard]] std::string unit_slug(std::string_view name);

[[nodiscard]] Result<model::CreatedEntry> create_linux_entry(const LinuxContext& context,
                                                             const std::vector<std::string>& autostart_folders,
                                                             const model::CreateDetails& details, bool admin);
[[nodiscard]] Result<model::ChangeOutcome> remove_linux_entry(const LinuxContext& context,
                                                              const std::vector<std::string>& autostart_folders,
                                                              const model::StartupItem& item);

}  // namespace qm::linux
