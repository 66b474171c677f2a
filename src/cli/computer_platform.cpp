#include "cli/computer_platform.h"

#if defined(_WIN32)
#include "platforms/windows/windows_platform.h"
#elif defined(__linux__)
#include "platforms/linux/linux_platform.h"
#endif

namespace qm::cli {

Result<std::unique_ptr<model::Platform>> make_computer_platform(knowledge::LocationsSource locations) {
#if defined(_WIN32)
    return windows::make_windows_platform(std::move(locations));
#elif defined(__linux__)
    return linux::make_linux_platform(std::move(locations));
#else
    (void)locations;
    return fail(
        "Quillmoor reads and changes only Windows computers; on this system, add --demo to "
        "see the invented demonstration computer.");
#endif
}

std::string computer_test_root() {
#if defined(__linux__)
    return linux::root_from_environment().folder;
#else
    return {};
#endif
}

}  // namespace qm::cli
