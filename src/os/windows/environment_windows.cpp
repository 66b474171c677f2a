#include <windows.h>

#include "os/environment.h"
#include "os/windows/wide.h"

namespace qm::os {

std::optional<std::string> get_env(std::string_view name) {
    std::wstring key = windows::to_wide(name);
    if (key.empty() || key.find(L'=', 1) != std::wstring::npos) return std::nullopt;
    std::wstring value(256, L'\0');
    for (;;) {
        // A variable set to the empty text also returns 0; only the error
        // code tells it apart from a variable that is not set.
        ::SetLastError(ERROR_SUCCESS);
        DWORD n = ::GetEnvironmentVariableW(key.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) {
            if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
            return std::string();
        }
        if (n < value.size()) {
            value.resize(n);
            return windows::to_utf8(value);
        }
        value.assign(n, L'\0');  // n is the size needed, with the terminator
    }
}

std::string temp_folder() {
    std::wstring path(MAX_PATH + 1, L'\0');
    DWORD n = ::GetTempPathW(static_cast<DWORD>(path.size()), path.data());
    if (n > path.size()) {
        path.assign(n, L'\0');
        n = ::GetTempPathW(static_cast<DWORD>(path.size()), path.data());
    }
    if (n == 0 || n > path.size()) return "C:\\Windows\\Temp";
    path.resize(n);
    // Keep the separator of a drive root ("C:\"), drop it everywhere else.
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) path.pop_back();
    return windows::to_utf8(path);
}

}  // namespace qm::os
