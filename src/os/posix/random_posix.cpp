#include <sys/random.h>

#include <cerrno>

#include "os/random.h"

namespace qm::os {

std::optional<std::string> random_bytes(std::size_t n) {
    std::string bytes(n, '\0');
    std::size_t filled = 0;
    // getrandom may return fewer bytes than asked for large requests or when
    // a signal arrives; keep asking until the buffer is full.
    while (filled < n) {
        ssize_t got = ::getrandom(bytes.data() + filled, n - filled, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            return std::nullopt;
        }
        filled += static_cast<std::size_t>(got);
    }
    return bytes;
}

}  // namespace qm::os
