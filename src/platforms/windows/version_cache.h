// The version strings of program files kept between scans in the data folder
// (program-versions.json), so a later scan opens no program file that has not
// changed: an entry counts only while the file's size and last-write time are
// the ones recorded with it. At most `entry_limit` entries and `file_limit`
// bytes are kept, those looked up least recently dropped first. A damaged,
// oversized or unreadable record reads as empty and is rebuilt; one that
// cannot be written leaves the scan as it was. One owner, one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace qm::windows {

struct VersionStrings {
    std::string publisher;    // CompanyName
    std::string description;  // FileDescription, or ProductName when that is empty
};

// What tells one state of a file from another.
struct FileStamp {
    std::uint64_t size = 0;
    std::uint64_t written = 0;  // last-write time, as a Windows file time
    friend bool operator==(const FileStamp&, const FileStamp&) = default;
};

class VersionCache {
public:
    static constexpr std::size_t entry_limit = 8192;
    static constexpr std::size_t file_limit = 4u << 20;
    static constexpr std::string_view file_name = "program-versions.json";

    // An empty folder keeps nothing.
    explicit VersionCache(std::string folder);

    // The strings recorded for the lower-cased path in this state, if any.
    [[nodiscard]] const VersionStrings* find(const std::string& lower_path, FileStamp stamp);
    void store(const std::string& lower_path, FileStamp stamp, const VersionStrings& strings);
    // Writes the record when anything was stored since it was read.
    void save();

private:
    struct Entry {
        FileStamp stamp;
        VersionStrings strings;
        std::uint64_t used = 0;  // the value of uses_ when last looked up
    };
    void load();

    std::string folder_;
    bool loaded_ = false;
    bool changed_ = false;
    std::uint64_t uses_ = 0;  // lookups so far, the clock of "least recently"
    std::map<std::string, Entry> entries_;
};

}  // namespace qm::windows
