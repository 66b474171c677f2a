// The values a scan reads from each service key, kept between scans in the
// data folder (service-keys.json), so that a later scan need not read the
// values of a key that has not changed: an entry counts only while the key's
// last-write time (which Windows moves on every change of a value) is the
// one recorded with it, and for `trust_time` (record_file.h) after it was
// read. A key written less than `settle_time` before the scan is not kept.
// The record holds the keys of the last scan and no others. A damaged,
// oversized or unreadable record reads as empty and is rebuilt; one that
// cannot be written leaves the scan as it was. One owner, one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "platforms/windows/record_file.h"
#include "platforms/windows/registry.h"

namespace qm::windows {

// Some of a key's values by name as the caller asked for them; a name that
// is not there has no value.
using KeptValues = std::map<std::string, RawValue, std::less<>>;

class ServiceRecord {
public:
    static constexpr std::size_t entry_limit = 16384;
    static constexpr std::size_t file_limit = 16u << 20;
    // Larger values (all of one key's together) are read every time.
    static constexpr std::size_t largest_entry = 64u << 10;
    static constexpr std::string_view file_name = "service-keys.json";

    // An empty folder keeps nothing. `now` is the time of the scan, as a
    // Windows file time.
    ServiceRecord(std::string folder, std::uint64_t now);

    // The values recorded for the key (its name as listed) at this last-write time.
    [[nodiscard]] const KeptValues* find(const std::string& key_name, std::uint64_t written);
    void store(const std::string& key_name, std::uint64_t written, const KeptValues& values);
    // Writes the record when it differs from the one read: the keys found or
    // stored since, and no others.
    void save();

private:
    void load();

    std::string folder_;
    std::uint64_t now_ = 0;
    bool loaded_ = false;
    StampedEntries<std::uint64_t, KeptValues> entries_{entry_limit};  // stamped with the last-write time
};

}  // namespace qm::windows
