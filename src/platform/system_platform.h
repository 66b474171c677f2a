// The platform of the computer the program runs on. Only Windows computers
// are read; on any other system building it fails with a sentence that points
// to the demonstration.
#pragma once

#include <memory>

#include "model/platform.h"
#include "util/result.h"

namespace qm {

[[nodiscard]] Result<std::unique_ptr<Platform>> make_system_platform();

}  // namespace qm
