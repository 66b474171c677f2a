// Events of the boot-performance log (Diagnostics-Performance, Operational)
// rendered as XML by the event log: 100 says how long a boot took, 101 names
// an application and 103 a service that slowed one. Pure text work on one
// event's XML; every text read is a piece of it and a number that does not
// read as a whole number is left unknown. Thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm::formats {

enum class BootEventKind { boot, slow_application, slow_service };

struct BootEvent {
    BootEventKind kind = BootEventKind::boot;
    std::string time_created;  // the System's TimeCreated SystemTime, as written
    // A boot (100), in milliseconds.
    std::optional<std::uint64_t> boot_ms;
    std::optional<std::uint64_t> main_path_ms;
    std::optional<std::uint64_t> post_boot_ms;
    // What slowed a boot (101, 103): its file or service name, friendly
    // name and path, its time to start and how much longer that was than
    // usual, in milliseconds.
    std::string name;
    std::string friendly_name;
    std::string path;
    std::optional<std::uint64_t> total_ms;
    std::optional<std::uint64_t> degradation_ms;
};

// The event, or nothing when the XML is no event of the boot-performance
// provider with one of those three ids.
[[nodiscard]] std::optional<BootEvent> read_boot_event(std::string_view event_xml);

}  // namespace qm::formats
