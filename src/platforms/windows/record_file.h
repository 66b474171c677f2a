// What the records a scan keeps in the data folder share (service-keys.json,
// task-definitions.json): reading one, which gives its list of entries or
// nothing when the file is missing, damaged, oversized or of another format,
// and writing it whole in one step. A record only saves work, so a failure
// to read or write it is never reported. Also the clock they are kept by,
// and their entries kept by stamp.
// Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "json/json.h"

namespace qm::windows {

// {"format":{format},"{list}":[...]}: the list, when the file is that.
[[nodiscard]] std::optional<json::JsonValue> read_record(const std::string& folder, std::string_view file_name,
                                                         std::size_t limit, int format, std::string_view list);
// Writes the same, unless it would be larger than `limit`.
void write_record(const std::string& folder, std::string_view file_name, std::size_t limit, int format,
                  std::string_view list, json::JsonValue entries);

// 64-bit numbers are kept as decimal text: a JSON number holds 53 bits exactly.
[[nodiscard]] std::optional<std::uint64_t> decimal_of(const json::JsonValue& value);

// The current time as a Windows file time (100-nanosecond units).
[[nodiscard]] std::uint64_t file_time_now();

// Two seconds: a change within one tick of the clock Windows stamps files and
// keys with may leave the stamp as it was, so what was written less than this
// before `now` (or is stamped later than `now`) is not kept.
inline constexpr std::uint64_t settle_time = 20'000'000;
[[nodiscard]] constexpr bool settled(std::uint64_t written, std::uint64_t now) {
    return written <= now && now - written >= settle_time;
}

// One day: whoever may change a key or a file may also set its stamp back,
// so what was read is trusted for this long at most and then read again.
inline constexpr std::uint64_t trust_time = 864'000'000'000;
[[nodiscard]] constexpr bool still_trusted(std::uint64_t read, std::uint64_t now) {
    return read <= now && now - read < trust_time;
}

// The entries of a record by name, each with the stamp it was read at (a
// key's last-write time, a file's size and time), the time of the scan that
// read it and what was kept. An entry found or stored in this scan is seen;
// the others leave the record when it is written. At most `limit` entries.
template <class Stamp, class Kept>
class StampedEntries {
public:
    struct Entry {
        Stamp stamp{};
        std::uint64_t read = 0;
        Kept kept{};
        bool seen = false;
    };

    explicit StampedEntries(std::size_t limit) : limit_(limit) {}

    [[nodiscard]] bool full() const { return entries_.size() >= limit_; }
    [[nodiscard]] const std::map<std::string, Entry>& all() const { return entries_; }

    // An entry read from the record's file, unless the limit is reached.
    void add_read(std::string name, Entry entry) {
        if (!full()) entries_.insert_or_assign(std::move(name), std::move(entry));
    }
    // What was kept for `name` at this stamp, while still trusted at `now`.
    [[nodiscard]] const Kept* find(const std::string& name, const Stamp& stamp, std::uint64_t now) {
        const auto found = entries_.find(name);
        if (found == entries_.end() || found->second.stamp != stamp || !still_trusted(found->second.read, now))
            return nullptr;
        found->second.seen = true;
        return &found->second.kept;
    }
    // Keeps what this scan read at `stamp`; what may not be kept (`keepable`
    // false) is forgotten instead.
    void store(const std::string& name, const Stamp& stamp, std::uint64_t now, const Kept& kept, bool keepable) {
        if (!keepable) {
            if (entries_.erase(name) > 0) changed_ = true;
            return;
        }
        if (full() && !entries_.contains(name)) return;
        entries_.insert_or_assign(name, Entry{stamp, now, kept, true});
        changed_ = true;
    }
    // Drops what this scan did not see (gone, or not read); whether the
    // record differs from the one read and is to be written.
    [[nodiscard]] bool settle() {
        const std::size_t before = entries_.size();
        std::erase_if(entries_, [](const auto& entry) { return !entry.second.seen; });
        const bool differs = changed_ || entries_.size() != before;
        changed_ = false;
        return differs;
    }

private:
    std::size_t limit_;
    bool changed_ = false;
    std::map<std::string, Entry> entries_;
};

}  // namespace qm::windows
