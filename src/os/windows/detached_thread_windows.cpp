#include "os/detached_thread.h"

#include <memory>

#include <windows.h>

#include "os/windows/handle.h"
#include "os/windows/system_error.h"

namespace qm::os {

namespace {

DWORD WINAPI run_work(void* parameter) {
    const std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(parameter));
    (*work)();
    return 0;
}

}  // namespace

Result<void> start_detached_thread(std::function<void()> work) {
    auto owned = std::make_unique<std::function<void()>>(std::move(work));
    windows::Handle thread(::CreateThread(nullptr, 0, run_work, owned.get(), 0, nullptr));
    if (!thread) {
        const DWORD code = ::GetLastError();
        return fail(ErrorKind::failed, windows::system_error("starting a thread", code), code);
    }
    owned.release();  // the thread owns it now
    return {};
}

}  // namespace qm::os
