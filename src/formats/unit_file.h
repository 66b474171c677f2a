// The few keys of a systemd unit file that the platform shows or acts on:
// what it is, what it starts, and where [Install] links it when enabled.
// Pure text work; later lines of a key add to (or, for single values,
// replace) earlier ones as systemd reads them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace qm::formats {

struct UnitFile {
    std::string description;
    std::string exec_start;  // the first ExecStart= of a service, without its prefix characters
    std::string timer_unit;  // Unit= of a timer
    std::string listen;      // the first Listen*= of a socket
    std::vector<std::string> wanted_by;
    std::vector<std::string> required_by;
    std::string default_instance;

    // It can be enabled: its [Install] section names a target.
    [[nodiscard]] bool installable() const { return !wanted_by.empty() || !required_by.empty(); }
};

[[nodiscard]] UnitFile parse_unit_file(std::string_view text);

// "getty@tty1.service" -> "getty@.service"; other names unchanged.
[[nodiscard]] std::string template_of(std::string_view unit);
// "ssh.service" -> "service".
[[nodiscard]] std::string unit_type_of(std::string_view unit);

}  // namespace qm::formats
