// The platform of the computer the program runs on. Only Windows computers
// are read; on any other system building it fails with a sentence that points
// to the demonstration.
#pragma once

#include <functional>
#include <memory>

#include "knowledge/knowledge_pack.h"
#include "model/platform.h"
#include "util/result.h"

namespace qm {

// The places to read (Run keys, Startup folders, task folders) from the
// knowledge in force; asked again at every scan, so an update takes effect
// without a restart.
using LocationsSource = std::function<KnowledgeLocations()>;

[[nodiscard]] Result<std::unique_ptr<Platform>> make_system_platform(LocationsSource locations);

}  // namespace qm
