#include <windows.h>

#include "os/system_tool.h"
#include "os/windows/wide.h"

namespace qm::os {

namespace {

std::wstring system_folder() {
    wchar_t folder[MAX_PATH + 1] = {};
    const UINT length = ::GetSystemDirectoryW(folder, MAX_PATH + 1);
    if (length > 0 && length <= MAX_PATH) return std::wstring(folder, length);
    // The documented place; the call fails only when the buffer is too small.
    return L"C:\\Windows\\System32";
}

}  // namespace

std::string system_tool(std::string_view relative_path) {
    const std::wstring relative = windows::to_wide(relative_path);
#ifdef QM_TOOL_STANDINS_DIR
    const std::size_t slash = relative.find_last_of(L"\\/");
    std::wstring standin = windows::to_wide(QM_TOOL_STANDINS_DIR) + L"\\" +
                           (slash == std::wstring::npos ? relative : relative.substr(slash + 1));
    for (wchar_t& c : standin) {
        if (c == L'/') c = L'\\';
    }
    const DWORD attributes = ::GetFileAttributesW(standin.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return windows::to_utf8(standin);
    }
#endif
    return windows::to_utf8(system_folder() + L"\\" + relative);
}

bool tool_standins_built_in() {
#ifdef QM_TOOL_STANDINS_DIR
    return true;
#else
    return false;
#endif
}

}  // namespace qm::os
