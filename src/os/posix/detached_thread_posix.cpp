#include "os/detached_thread.h"

#include <system_error>
#include <thread>

namespace qm::os {

Result<void> start_detached_thread(std::function<void()> work) {
    try {
        std::thread(std::move(work)).detach();
    } catch (const std::system_error& error) {
        return fail(std::string("No thread could be started: ") + error.what() + ".");
    }
    return {};
}

}  // namespace qm::os
