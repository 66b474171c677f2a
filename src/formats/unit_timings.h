// How long systemd units took to start in the current boot, and how long the
// boot's phases took, from the text of `systemctl show` (blocks of Key=Value
// lines, one block per unit, blank lines between them). A unit's time is
// computed as the time listing of systemd's own analysis does: from leaving
// the inactive state (or, when that is not recorded, from starting its main
// process) to becoming active. Times are microseconds on the monotonic clock;
// a unit or phase without usable times has none. Pure and thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm::formats {

// The properties to ask for with -p, in one call for every unit.
inline constexpr std::string_view unit_timing_properties =
    "Id,InactiveExitTimestampMonotonic,ExecMainStartTimestampMonotonic,ActiveEnterTimestampMonotonic";
inline constexpr std::string_view boot_timing_properties =
    "FirmwareTimestampMonotonic,LoaderTimestampMonotonic,InitRDTimestampMonotonic,UserspaceTimestampMonotonic,"
    "FinishTimestampMonotonic";

struct UnitTiming {
    std::string id;
    std::optional<std::uint64_t> start_us;     // when it began to start, since the kernel started
    std::optional<std::uint64_t> duration_us;  // how long it took to become active
};

// One entry per block that names an Id, in the order given.
[[nodiscard]] std::vector<UnitTiming> read_unit_timings(std::string_view show_output);

struct BootPhases {
    std::optional<std::uint64_t> firmware_us;
    std::optional<std::uint64_t> loader_us;
    std::optional<std::uint64_t> kernel_us;
    std::optional<std::uint64_t> initrd_us;
    std::optional<std::uint64_t> userspace_us;
    // Nothing until the boot has finished (no FinishTimestamp yet).
    [[nodiscard]] std::optional<std::uint64_t> total_us() const;
};

// The manager's properties: firmware and loader are counted back from the
// kernel's start, kernel runs to the initrd (or to user space without one),
// and user space to the boot's end.
[[nodiscard]] BootPhases read_boot_phases(std::string_view show_output);

}  // namespace qm::formats
