// The platform of the computer the program runs on: Windows and Linux
// computers are read; on any other system building it fails with a sentence
// that points to the demonstration.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "knowledge/knowledge_pack.h"
#include "model/platform.h"
#include "platform/environment.h"
#include "util/result.h"

namespace qm {

// The places to read (Run keys, Startup folders, task folders) from the
// knowledge in force; asked again at every scan, so an update takes effect
// without a restart.
using LocationsSource = std::function<KnowledgeLocations()>;

[[nodiscard]] Result<std::unique_ptr<Platform>> make_system_platform(LocationsSource locations);

// The folder that a test names to stand for "/" of a Linux computer
// (QUILLMOOR_LINUX_ROOT); empty when unset and on every other system. The
// platform reads and writes only under it, and the data folder goes under it
// too, so such a run changes nothing outside it.
[[nodiscard]] inline std::string system_test_root() {
#ifdef __linux__
    return os::get_env("QUILLMOOR_LINUX_ROOT").value_or("");
#else
    return {};
#endif
}

}  // namespace qm
