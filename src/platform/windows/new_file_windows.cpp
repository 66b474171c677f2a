#include <windows.h>

#include "platform/new_file.h"
#include "platform/windows/wide.h"

namespace qm::os {

// Without MOVEFILE_REPLACE_EXISTING the move fails when the target exists.
Result<bool> rename_no_replace(const std::string& from, const std::string& to) {
    if (::MoveFileExW(win::to_wide(from).c_str(), win::to_wide(to).c_str(), MOVEFILE_WRITE_THROUGH)) return true;
    DWORD code = ::GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return false;
    return fail("Could not write " + to + ": " + win::error_text(code) + ".");
}

}  // namespace qm::os
