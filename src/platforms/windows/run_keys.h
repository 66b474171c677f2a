// The first source of a scan: the registry Run keys that the knowledge in
// force lists, in its order, each read in its own registry view. Every text
// value becomes a "run" item, switched through its start-up approval flag
// unless its location is locked (RunOnce, policies), and carries when it was
// last written (its key's time, or its approval key's when that is newer and
// holds its flag). A key that is not there
// adds nothing; one that is there but cannot be read adds a note with
// Windows' error code; a damaged value is read lossily; nothing stops the
// scan.
#pragma once

#include <string>
#include <vector>

#include "knowledge/knowledge_pack.h"
#include "model/platform.h"
#include "model/startup_item.h"
#include "platforms/windows/program_files.h"

namespace qm::windows {

// "{hive}\{last part of the path}\{32 or 64}", e.g. HKLM\Run\32.
[[nodiscard]] std::string run_location_text(const knowledge::RunKeyLocation& location);

// Appends the items of every location. Without administrator rights the items
// of HKLM keys can be switched only after a restart as administrator.
void scan_run_keys(const std::vector<knowledge::RunKeyLocation>& locations, bool admin, ProgramFacts& programs,
                   model::ScanResult& result);

}  // namespace qm::windows
