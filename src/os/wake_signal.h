// A wake-up call that one thread (or the interrupt handling) gives to a
// thread that waits for it together with the system's own notifications:
// the waiting side hands `native()` to poll (a descriptor that is readable
// once raised) or to WaitForMultipleObjects (an event that is signalled once
// raised). Once raised it stays raised; nothing lowers it again. raise(),
// raised() and wait() are thread-safe.
#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include "util/result.h"

namespace qm::os {

class WakeSignal {
public:
#ifdef _WIN32
    using Native = void*;  // a manual-reset event
#else
    using Native = int;  // the read end of a pipe
#endif

    [[nodiscard]] static Result<std::shared_ptr<WakeSignal>> make();
    ~WakeSignal();
    WakeSignal(const WakeSignal&) = delete;
    WakeSignal& operator=(const WakeSignal&) = delete;

    void raise();
    [[nodiscard]] bool raised() const;
    // Blocks until raised or until `timeout` has passed (none: no limit);
    // whether it was raised.
    [[nodiscard]] bool wait(std::optional<std::chrono::milliseconds> timeout) const;
    [[nodiscard]] Native native() const { return wait_on_; }

private:
    WakeSignal(Native wait_on, Native raise_with) : wait_on_(wait_on), raise_with_(raise_with) {}

    const Native wait_on_;
    const Native raise_with_;  // the pipe's write end; the event itself on Windows
};

}  // namespace qm::os
