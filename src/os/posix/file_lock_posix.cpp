#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "os/file_lock.h"
#include "os/posix/descriptor.h"

namespace qm::os {

void FileLock::release() {
    if (native_ == -1) return;
    // Closing the descriptor lets go of the lock taken through it.
    ::close(static_cast<int>(native_));
    native_ = -1;
}

Result<std::optional<FileLock>> take_file_lock(const std::string& path, std::chrono::milliseconds wait) {
    posix::Descriptor fd;
    do {
        fd.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
    } while (!fd.valid() && errno == EINTR);
    if (!fd.valid()) return fail("Could not write " + path + ": " + std::strerror(errno) + ".");
    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return fail("Could not write " + path + ": it is not a regular file.");
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return fail("Could not write " + path + ": " + std::strerror(errno) + ".");
        }
        if (std::chrono::steady_clock::now() >= deadline) return std::optional<FileLock>();
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    return std::optional<FileLock>(FileLock(fd.release()));
}

}  // namespace qm::os
