#include "platform/system_platform.h"

#include "platform/windows/system_facts.h"
#include "platform/windows/windows_platform.h"

namespace qm {

Result<std::unique_ptr<Platform>> make_system_platform(LocationsSource locations) {
    return std::make_unique<win::WindowsPlatform>(win::read_system_facts(), std::move(locations));
}

}  // namespace qm
