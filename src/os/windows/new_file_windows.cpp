#include <windows.h>

#include "os/new_file.h"
#include "os/windows/wide.h"

namespace qm::os {

// Without MOVEFILE_REPLACE_EXISTING the move fails when the target exists.
Result<bool> rename_no_replace(const std::string& from, const std::string& to) {
    if (::MoveFileExW(windows::to_wide(from).c_str(), windows::to_wide(to).c_str(), MOVEFILE_WRITE_THROUGH))
        return true;
    DWORD code = ::GetLastError();
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS) return false;
    return fail("Could not write " + to + ": " + windows::error_text(code) + ".");
}

}  // namespace qm::os
