// A pipe: raising writes one byte, which stays unread, so the read end stays
// readable for every later poll.
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "os/wake_signal.h"

namespace qm::os {

Result<std::shared_ptr<WakeSignal>> WakeSignal::make() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0)
        return fail(std::string("Could not make a pipe to wait on: ") + std::strerror(errno) + ".");
    return std::shared_ptr<WakeSignal>(new WakeSignal(fds[0], fds[1]));
}

WakeSignal::~WakeSignal() {
    ::close(wait_on_);
    ::close(raise_with_);
}

void WakeSignal::raise() {
    if (raised()) return;
    const char byte = 1;
    // A full pipe is raised already.
    [[maybe_unused]] const ssize_t written = ::write(raise_with_, &byte, 1);
}

bool WakeSignal::raised() const { return wait(std::chrono::milliseconds(0)); }

bool WakeSignal::wait(std::optional<std::chrono::milliseconds> timeout) const {
    pollfd one{wait_on_, POLLIN, 0};
    const int wait_ms = timeout ? static_cast<int>(std::max<std::chrono::milliseconds::rep>(timeout->count(), 0)) : -1;
    while (true) {
        const int ready = ::poll(&one, 1, wait_ms);
        if (ready < 0 && errno == EINTR) continue;
        return ready > 0;
    }
}

}  // namespace qm::os
