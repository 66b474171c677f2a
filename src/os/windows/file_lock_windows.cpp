#include <windows.h>

#include <thread>

#include "os/file_lock.h"
#include "os/windows/handle.h"
#include "os/windows/wide.h"

namespace qm::os {

void FileLock::release() {
    if (native_ == -1) return;
    // Closing the handle lets go of the lock taken through it.
    ::CloseHandle(reinterpret_cast<HANDLE>(native_));
    native_ = -1;
}

Result<std::optional<FileLock>> take_file_lock(const std::string& path, std::chrono::milliseconds wait) {
    windows::Handle file(::CreateFileW(windows::to_wide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return fail("Could not write " + path + ": " + windows::error_text(::GetLastError()) + ".");
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (true) {
        OVERLAPPED at{};
        if (::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) break;
        const DWORD code = ::GetLastError();
        if (code != ERROR_LOCK_VIOLATION && code != ERROR_IO_PENDING) {
            return fail("Could not write " + path + ": " + windows::error_text(code) + ".");
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::optional<FileLock>();
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    return std::optional<FileLock>(FileLock(reinterpret_cast<std::intptr_t>(file.release())));
}

}  // namespace qm::os
