// Which package owns a file, and how the distribution ranks that package.
// With dpkg, its database is read in place: the status file once, then each
// package's file list once, one at a time, keeping only the lines asked for;
// where the database has changes still in its journal, or cannot be read,
// dpkg answers instead (`dpkg -S`, then `dpkg-query`). Otherwise rpm
// (`rpm -qf`, which has no priority), one call for all paths. A missing tool
// or an unowned file is simply no answer. Thread-safe; the runner is passed in
// so tests can watch the calls.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "model/signature.h"
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

// Whether each program file is as its package installed it: its MD5 against
// the one dpkg recorded (info/<package>.md5sums), "unpackaged" when no
// package owns it (`owners` as package_owners gave them), "not checked" with
// why when the database keeps no checksum, the file cannot be read or is
// larger than `largest_checked`, or only rpm's database is there. Nothing
// for a root without a package database.
inline constexpr std::uint64_t largest_checked = 256ull << 20;
[[nodiscard]] std::map<std::string, model::Signature> program_checksums(
    const std::vector<std::string>& programs, const std::map<std::string, PackageInfo>& owners, const LinuxRoot& root);

// True for the priorities that make a package part of the operating system.
[[nodiscard]] bool is_system_priority(const std::string& priority);

}  // namespace qm::linux
