#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "os/new_file.h"
#include "os/posix/descriptor.h"

namespace qm::os {

// A hard link is made only when the name is free, which is the atomic
// "rename unless it exists" that rename() itself does not offer portably.
Result<bool> rename_no_replace(const std::string& from, const std::string& to) {
    if (::link(from.c_str(), to.c_str()) != 0) {
        if (errno == EEXIST) return false;
        return fail("Could not write " + to + ": " + std::strerror(errno) + ".");
    }
    ::unlink(from.c_str());
    return true;
}

void give_to_invoking_user(const std::string& path) {
    if (::geteuid() != 0) return;
    auto number = [](const char* name) -> std::optional<unsigned long> {
        const char* text = std::getenv(name);
        if (text == nullptr || *text == '\0') return std::nullopt;
        char* end = nullptr;
        errno = 0;
        const unsigned long value = std::strtoul(text, &end, 10);
        if (errno != 0 || *end != '\0' || value == 0) return std::nullopt;
        return value;
    };
    const std::optional<unsigned long> uid = number("SUDO_UID");
    const std::optional<unsigned long> gid = number("SUDO_GID");
    if (!uid || !gid) return;
    (void)::lchown(path.c_str(), static_cast<uid_t>(*uid), static_cast<gid_t>(*gid));
}

Result<void> write_private_file(const std::string& path, std::string_view data) {
    posix::Descriptor fd;
    do {
        fd.reset(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
    } while (!fd.valid() && errno == EINTR);
    if (!fd.valid()) return fail("Could not write " + path + ": " + std::strerror(errno) + ".");
    // The mode given to open is narrowed by the umask, never widened; this
    // makes sure of 0600 whatever the umask.
    (void)::fchmod(fd.get(), 0600);
    while (!data.empty()) {
        const ssize_t n = ::write(fd.get(), data.data(), data.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int code = n < 0 ? errno : ENOSPC;
            fd.reset();
            ::unlink(path.c_str());
            return fail("Could not write " + path + ": " + std::strerror(code) + ".");
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    if (posix::close_reporting(fd) != 0) {
        const int code = errno;
        ::unlink(path.c_str());
        return fail("Could not write " + path + ": " + std::strerror(code) + ".");
    }
    return {};
}

}  // namespace qm::os
