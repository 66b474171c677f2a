#include "platform/system_platform.h"

namespace qm {

// The Windows platform's sources (Run keys, Startup folders, services and
// tasks) are not written yet; until they are, say so instead of guessing.
Result<std::unique_ptr<Platform>> make_system_platform() {
    return fail(
        "This build of Quillmoor cannot read this computer yet; add --demo to see the invented "
        "demonstration computer.");
}

}  // namespace qm
