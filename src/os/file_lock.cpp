#include "os/file_lock.h"

namespace qm::os {

FileLock& FileLock::operator=(FileLock&& other) noexcept {
    if (this != &other) {
        release();
        native_ = other.native_;
        other.native_ = -1;
    }
    return *this;
}

}  // namespace qm::os
