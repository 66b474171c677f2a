#include <windows.h>

#include "os/new_file.h"
#include "os/windows/handle.h"
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

void give_to_invoking_user(const std::string&) {}

// No other process may open the file while it is being written; it keeps
// the access rules the folder hands down.
Result<void> write_private_file(const std::string& path, std::string_view data) {
    const std::wstring wide = windows::to_wide(path);
    windows::Handle file(
        ::CreateFileW(wide.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return fail("Could not write " + path + ": " + windows::error_text(::GetLastError()) + ".");
    while (!data.empty()) {
        DWORD written = 0;
        const DWORD chunk = data.size() > 1u << 20 ? 1u << 20 : static_cast<DWORD>(data.size());
        if (!::WriteFile(file.get(), data.data(), chunk, &written, nullptr) || written == 0) {
            const DWORD code = ::GetLastError();
            file.reset();
            ::DeleteFileW(wide.c_str());
            return fail("Could not write " + path + ": " + windows::error_text(code) + ".");
        }
        data.remove_prefix(written);
    }
    return {};
}

}  // namespace qm::os
