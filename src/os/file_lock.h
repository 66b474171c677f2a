// An exclusive lock that processes take in turn on a lock file: held from
// take_file_lock until the FileLock is destroyed, and let go by the system
// when the process ends in any way, so a killed run never leaves it taken.
// Two holders in one process exclude each other as two processes do.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "util/result.h"

namespace qm::os {

class FileLock {
public:
    FileLock() = default;
    explicit FileLock(std::intptr_t native) : native_(native) {}
    FileLock(FileLock&& other) noexcept : native_(other.native_) { other.native_ = -1; }
    FileLock& operator=(FileLock&& other) noexcept;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;
    ~FileLock() { release(); }

    [[nodiscard]] bool held() const { return native_ != -1; }
    void release();

private:
    std::intptr_t native_ = -1;  // the open lock file: a descriptor or a HANDLE
};

// Opens (creating it, readable by this user only) the lock file at `path` and
// takes its lock, trying again every few milliseconds for up to `wait`.
// Nothing when another holder kept it for all that time; an error, in the
// words "Could not write {path}: {reason}", when the file cannot be opened.
[[nodiscard]] Result<std::optional<FileLock>> take_file_lock(const std::string& path, std::chrono::milliseconds wait);

}  // namespace qm::os
