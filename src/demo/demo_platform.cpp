#include "demo/demo_platform.h"

namespace qm {

Result<std::unique_ptr<Platform>> make_demo_platform(bool) {
    return fail("The demonstration computer is not available in this build of Quillmoor yet.");
}

}  // namespace qm
