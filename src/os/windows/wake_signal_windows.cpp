// A manual-reset event: set once, it stays set for every later wait.
#include <windows.h>

#include <algorithm>

#include "os/wake_signal.h"
#include "os/windows/system_error.h"

namespace qm::os {

Result<std::shared_ptr<WakeSignal>> WakeSignal::make() {
    HANDLE event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (event == nullptr) return fail(windows::system_error("making an event to wait on", ::GetLastError()));
    return std::shared_ptr<WakeSignal>(new WakeSignal(event, event));
}

WakeSignal::~WakeSignal() { ::CloseHandle(wait_on_); }

void WakeSignal::raise() { ::SetEvent(raise_with_); }

bool WakeSignal::raised() const { return ::WaitForSingleObject(wait_on_, 0) == WAIT_OBJECT_0; }

bool WakeSignal::wait(std::optional<std::chrono::milliseconds> timeout) const {
    const DWORD wait_ms =
        timeout ? static_cast<DWORD>(std::clamp<long long>(timeout->count(), 0, INFINITE - 1)) : INFINITE;
    return ::WaitForSingleObject(wait_on_, wait_ms) == WAIT_OBJECT_0;
}

}  // namespace qm::os
