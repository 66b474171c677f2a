// Which package owns a file, and how the distribution ranks that package:
// dpkg (`dpkg -S`, `dpkg-query`) where it is present, otherwise rpm
// (`rpm -qf`, which has no priority). One call of each tool per question, for
// all paths at once. A missing tool or an unowned file is simply no answer.
// Thread-safe; the runner is passed in so tests can watch the calls.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platforms/linux/linux_system.h"
#include "os/run_tool.h"

namespace qm::linux {

struct PackageInfo {
    std::string name;
    // "essential" for a package marked Essential, else dpkg's Priority
    // ("required", "important", "standard", "optional"); empty with rpm.
    std::string priority;
};

// Owners of the given absolute paths (paths of the computer described, not
// of the test root); paths nobody owns are left out.
[[nodiscard]] std::map<std::string, PackageInfo> package_owners(const std::vector<std::string>& paths,
                                                                const LinuxRoot& root, const os::ToolRunner& runner);

// True for the priorities that make a package part of the operating system.
[[nodiscard]] bool is_system_priority(const std::string& priority);

}  // namespace qm::linux
