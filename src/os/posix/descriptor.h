// The owning wrapper for a POSIX file descriptor (files, pipes), built on the
// shared UniqueHandle. Not thread-safe per object.
#pragma once

#include <unistd.h>

#include "os/unique_handle.h"

namespace qm::os::posix {

struct DescriptorPolicy {
    using Native = int;
    static Native none() noexcept { return -1; }
    static bool is_valid(Native fd) noexcept { return fd >= 0; }
    static void close(Native fd) noexcept { ::close(fd); }
};

using Descriptor = UniqueHandle<DescriptorPolicy>;

// Closes now and returns close's own result (0, or -1 with errno set), which
// for a written file can be the first sign of a lost write. Nothing to close
// counts as success.
inline int close_reporting(Descriptor& fd) {
    const int native = fd.release();
    return native >= 0 ? ::close(native) : 0;
}

}  // namespace qm::os::posix
