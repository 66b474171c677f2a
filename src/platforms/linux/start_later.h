// Starting later on Linux. A sign-in program (an autostart file) starts some
// seconds after sign-in through an entry of the program's own that runs the
// same command, while its own file is switched off as switching does: on a
// desktop that honours X-GNOME-Autostart-Delay, an autostart file
// "quillmoor-later-{slug}.desktop" with that delay; elsewhere a user service
// and timer "quillmoor-later-{slug}.service|.timer" that fire that long after
// the user's manager starts. Each names the item it starts (X-Quillmoor-Delays=),
// which is how a scan links the two. A timer that fires at boot moves later
// through a drop-in "quillmoor-later.conf" that restates its triggers.
// Thread-safe; no state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/unit_file.h"
#include "model/platform.h"
#include "platforms/linux/linux_system.h"

namespace qm::linux {

inline constexpr std::string_view later_prefix = "quillmoor-later-";
// The key of an own later entry that holds the id of the item it starts.
inline constexpr std::string_view delays_key = "X-Quillmoor-Delays";
inline constexpr std::string_view later_dropin_name = "quillmoor-later.conf";

// "120s" or "120" as whole seconds; nothing for any other form.
[[nodiscard]] std::optional<std::uint32_t> whole_seconds(std::string_view value);

// Makes `item` the program's own entry that starts the item `delays` after
// `seconds`.
void mark_later_entry(std::string delays, std::uint32_t seconds, model::StartupItem& item);

// What a timer item offers and has taken, from the unit as systemd reads it
// (`unit`, with `dropins` applied); an own later timer is marked as such.
void offer_timer_ways(const formats::UnitFile& unit, const std::vector<std::string>& dropins,
                      model::StartupItem& item);

// Gives each own later entry of a scan its state: "Starts Firefox 2 minutes
// after sign-in".
void describe_later_entries(std::vector<model::StartupItem>& items);

// `later` or `on_time` for an autostart item; `request.own_entry` is the own
// entry that `on_time` removes.
[[nodiscard]] Result<model::WayOutcome> set_autostart_way(const LinuxContext& context,
                                                          const std::vector<std::string>& folders,
                                                          const model::StartupItem& item,
                                                          const model::WayRequest& request);
// `later` or `on_time` for a timer unit that fires at boot.
[[nodiscard]] Result<model::WayOutcome> set_timer_way(const LinuxContext& context, const model::StartupItem& item,
                                                      const model::WayRequest& request);

}  // namespace qm::linux
