// The platform of the computer the program runs on: the Windows platform on
// Windows, the Linux platform on Linux; on any other system building it fails
// with a sentence that points to the demonstration. The program's entry is
// the only code that names the platforms themselves.
#pragma once

#include <memory>
#include <string>

#include "knowledge/knowledge_pack.h"
#include "model/platform.h"
#include "util/result.h"

namespace qm::cli {

[[nodiscard]] Result<std::unique_ptr<model::Platform>> make_computer_platform(knowledge::LocationsSource locations);

// The folder that a test names to stand for "/" of a Linux computer
// (QUILLMOOR_LINUX_ROOT); empty when unset and on every other system. The
// platform reads and writes only under it, and the data folder goes under it
// too, so such a run changes nothing outside it.
[[nodiscard]] std::string computer_test_root();

}  // namespace qm::cli
