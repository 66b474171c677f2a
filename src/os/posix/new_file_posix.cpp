#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "os/new_file.h"

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

}  // namespace qm::os
