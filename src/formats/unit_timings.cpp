#include "formats/unit_timings.h"

#include <map>

#include "formats/sign_in_records.h"
#include "util/text.h"

namespace qm::formats {
namespace {

using Block = std::map<std::string, std::string, std::less<>>;

std::vector<Block> blocks_of(std::string_view text) {
    std::vector<Block> blocks(1);
    for (const std::string_view line : split_lines(text)) {
        if (trim(line).empty()) {
            if (!blocks.back().empty()) blocks.emplace_back();
            continue;
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos || equals == 0) continue;
        blocks.back().emplace(std::string(line.substr(0, equals)), std::string(line.substr(equals + 1)));
    }
    if (blocks.back().empty()) blocks.pop_back();
    return blocks;
}

// A time property: systemd writes 0 for a moment that has not happened.
std::optional<std::uint64_t> moment(const Block& block, std::string_view key) {
    const auto found = block.find(key);
    if (found == block.end()) return std::nullopt;
    const std::optional<std::uint64_t> value = whole_number(found->second);
    if (!value || *value == 0) return std::nullopt;
    return value;
}

std::optional<std::uint64_t> span(std::optional<std::uint64_t> from, std::optional<std::uint64_t> to) {
    if (!from || !to || *to < *from) return std::nullopt;
    return *to - *from;
}

}  // namespace

std::vector<UnitTiming> read_unit_timings(std::string_view show_output) {
    std::vector<UnitTiming> timings;
    for (const Block& block : blocks_of(show_output)) {
        const auto id = block.find("Id");
        if (id == block.end() || id->second.empty()) continue;
        UnitTiming timing;
        timing.id = id->second;
        std::optional<std::uint64_t> began = moment(block, "InactiveExitTimestampMonotonic");
        if (!began) began = moment(block, "ExecMainStartTimestampMonotonic");
        const std::optional<std::uint64_t> active = moment(block, "ActiveEnterTimestampMonotonic");
        timing.start_us = began;
        // A unit that became active before it last began to start (it was
        // restarted and is starting again) has no duration to show.
        if (began && active && *active > *began) timing.duration_us = *active - *began;
        timings.push_back(std::move(timing));
    }
    return timings;
}

std::optional<std::uint64_t> BootPhases::total_us() const {
    if (!userspace_us) return std::nullopt;
    std::uint64_t total = 0;
    for (const std::optional<std::uint64_t>& phase : {firmware_us, loader_us, kernel_us, initrd_us, userspace_us}) {
        // Times no boot takes (a damaged answer) add up to none.
        if (phase.value_or(0) > UINT64_MAX - total) return std::nullopt;
        total += phase.value_or(0);
    }
    return total;
}

BootPhases read_boot_phases(std::string_view show_output) {
    BootPhases phases;
    const std::vector<Block> blocks = blocks_of(show_output);
    if (blocks.empty()) return phases;
    const Block& manager = blocks.front();
    // Firmware and loader times count backwards from the kernel's start.
    const std::optional<std::uint64_t> firmware = moment(manager, "FirmwareTimestampMonotonic");
    const std::optional<std::uint64_t> loader = moment(manager, "LoaderTimestampMonotonic");
    const std::optional<std::uint64_t> initrd = moment(manager, "InitRDTimestampMonotonic");
    const std::optional<std::uint64_t> userspace = moment(manager, "UserspaceTimestampMonotonic");
    const std::optional<std::uint64_t> finish = moment(manager, "FinishTimestampMonotonic");
    phases.firmware_us = span(loader, firmware);
    phases.loader_us = loader;
    phases.kernel_us = initrd ? initrd : userspace;
    phases.initrd_us = initrd ? span(initrd, userspace) : std::nullopt;
    phases.userspace_us = span(userspace, finish);
    return phases;
}

}  // namespace qm::formats
