#include "platform/system_platform.h"

namespace qm {

Result<std::unique_ptr<Platform>> make_system_platform(LocationsSource) {
    return fail(
        "Quillmoor reads and changes only Windows computers; on this system, add --demo to "
        "see the invented demonstration computer.");
}

}  // namespace qm
