// The few keys of a systemd unit file that the platform shows or acts on:
// what it is, what it starts, and where [Install] links it when enabled.
// Pure text work; later lines of a key add to (or, for single values,
// replace) earlier ones as systemd reads them, so a unit file followed by its
// drop-ins (one text after the other) reads as systemd applies them: an empty
// ExecStart= there clears the command before the new one.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm::formats {

struct UnitFile {
    std::string description;
    std::string exec_start;  // the first ExecStart= of a service, without its prefix characters
    std::string timer_unit;  // Unit= of a timer
    std::string listen;      // the first Listen*= of a socket
    std::string path_unit;   // Unit= of a path unit
    std::string watched;     // the first Path*= of a path unit
    std::vector<std::string> wanted_by;
    std::vector<std::string> required_by;
    std::vector<std::string> aliases;  // Alias= of [Install]
    std::vector<std::string> also;     // Also= of [Install]: switched with it
    std::vector<std::string> needs;    // Requires= and BindsTo= of [Unit]
    std::vector<std::string> wants;    // Wants= of [Unit]
    std::string default_instance;
    // Condition*= and Assert*= lines of [Unit] in order, as key and value.
    std::vector<std::pair<std::string, std::string>> conditions;
    // The triggers of a timer (OnCalendar=, OnBootSec=, OnStartupSec=,
    // OnActiveSec=, OnUnitActiveSec=, OnUnitInactiveSec=) in order, as key
    // and value; an empty assignment of any of them resets them all.
    std::vector<std::pair<std::string, std::string>> triggers;
    // The X-*= lines of [Unit], which systemd ignores, in order.
    std::vector<std::pair<std::string, std::string>> unit_extensions;

    // It can be enabled: its [Install] section names a target or an alias.
    [[nodiscard]] bool installable() const { return !wanted_by.empty() || !required_by.empty() || !aliases.empty(); }
};

[[nodiscard]] UnitFile parse_unit_file(std::string_view text);

// A timer trigger's key, as listed in `UnitFile::triggers`.
[[nodiscard]] bool is_timer_trigger(std::string_view key);
// The last value of an X-*= line of [Unit], or empty.
[[nodiscard]] std::string unit_extension(const UnitFile& unit, std::string_view key);

// "getty@tty1.service" -> "getty@.service"; other names unchanged.
[[nodiscard]] std::string template_of(std::string_view unit);
// "ssh.service" -> "service".
[[nodiscard]] std::string unit_type_of(std::string_view unit);

}  // namespace qm::formats
