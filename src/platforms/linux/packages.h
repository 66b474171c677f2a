// Which package owns a file, and how the distribution ranks that package.
// With dpkg, its database is read in place: the status file once, then each
// package's file list once, one at a time, keeping only the lines asked for;
// where the database has changes still in its journal, or cannot be read,
// dpkg answers instead (`dpkg -S`, then `dpkg-query`). Otherwise rpm
// (`rpm -qf`, which has no priority), one call for all paths. A missing tool
// or an unowned file is simply no answer. Thread-safe; the runner is passed in
// so tests can watch the calls.
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
