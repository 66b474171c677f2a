// The facts the Windows platform reads once when it is created: the Windows
// version from the registry, the computer and account names and the profile
// folder from the environment, and whether the process has administrator
// rights. Reading never fails; what is missing becomes an empty text.
#pragma once

#include <string>
#include <string_view>

#include <windows.h>

#include "model/platform.h"

namespace qm::windows {

// "{ProductName} {DisplayVersion} (build {CurrentBuild})" with the ends
// trimmed; "Windows 10" becomes "Windows 11" from build 22000 on.
[[nodiscard]] std::string os_version_text(std::string_view product_name, std::string_view display_version,
                                          std::string_view current_build);

// The version text from the three values of a key (the system's is
// HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion); empty when the key
// cannot be opened.
[[nodiscard]] std::string read_os_version(HKEY root, std::string_view key_path);

[[nodiscard]] model::SystemFacts read_system_facts();

}  // namespace qm::windows
