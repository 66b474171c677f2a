// The task definitions a scan read from the task folders, kept between scans
// in the data folder (task-definitions.json), so that a later scan opens no
// definition file that has not changed: an entry counts only while the
// file's size and last-write time are those recorded with it, and for
// `trust_time` (record_file.h) after it was read; a file written less than
// `settle_time` before the scan is not kept. Files that hold no definition are kept as such. The record holds the
// files of the last scan and no others. A damaged, oversized or unreadable
// record reads as empty and is rebuilt; one that cannot be written leaves the
// scan as it was. One owner, one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "formats/task_definition.h"
#include "platforms/windows/record_file.h"
#include "platforms/windows/version_cache.h"

namespace qm::windows {

class TaskRecord {
public:
    static constexpr std::size_t entry_limit = 16384;
    static constexpr std::size_t file_limit = 16u << 20;
    static constexpr std::string_view file_name = "task-definitions.json";

    // What a file held: its definition, or none when it held no task.
    using Kept = std::optional<formats::TaskDefinition>;

    // An empty folder keeps nothing. `now` is the time of the scan, as a
    // Windows file time.
    TaskRecord(std::string folder, std::uint64_t now);

    // What was recorded for the file (its lower-cased path) in this state.
    [[nodiscard]] const Kept* find(const std::string& lower_path, FileStamp stamp);
    void store(const std::string& lower_path, FileStamp stamp, const Kept& kept);
    // Writes the record when it differs from the one read: the files found
    // or stored since, and no others.
    void save();

private:
    void load();

    std::string folder_;
    std::uint64_t now_ = 0;
    bool loaded_ = false;
    StampedEntries<FileStamp, Kept> entries_{entry_limit};
};

}  // namespace qm::windows
