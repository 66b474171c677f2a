// The start-up approval flag that Windows keeps beside each Run value and
// Startup-folder shortcut (under Explorer\StartupApproved\{Run, Run32,
// StartupFolder}, always in the 64-bit view). Switching such an item writes
// only this flag; the entry itself is never touched. Thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <windows.h>

#include "formats/windows_values.h"
#include "model/platform.h"
#include "platforms/windows/registry.h"
#include "util/result.h"

namespace qm::windows {

inline constexpr std::string_view startup_approved_path =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\StartupApproved";
// The approval key of the Startup folders' files (the Run keys' are named by
// the knowledge's locations).
inline constexpr std::string_view startup_folder_approval = "StartupFolder";

using formats::approval_bytes;
using formats::ApprovalFlag;

// The flag of a REG_BINARY value (formats::approval_flag_of_bytes); another
// type or no value is no flag.
[[nodiscard]] ApprovalFlag approval_flag_of(const std::optional<RawValue>& value);

[[nodiscard]] ApprovalFlag read_approval_flag(HKEY root, std::string_view approved, std::string_view value_name);

// Switches a Run or Startup-folder item through its approval flag, by the
// item's spec `hive`, `approved` and `short` (or the file name of `file`).
// Switching off an item that had no flag remembers so in
// approval-flags.json in `data_folder`; switching it on again then deletes
// the flag instead of writing "on", so off and on (or an undo) leave the
// registry as it was. Without a data folder nothing is remembered.
[[nodiscard]] Result<model::ChangeOutcome> switch_by_approval_flag(const model::StartupItem& item, bool on,
                                                                   const std::string& data_folder = {});

}  // namespace qm::windows
