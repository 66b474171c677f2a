// A program planted under a system tool's name (sc.exe, schtasks.exe, ...)
// beside a copy of the real program, as an attacker would leave it in a
// downloads folder. When it runs it leaves the file "{its own path}.ran", so
// a test can tell that it was started. Elsewhere than on Windows it does
// nothing.
#ifdef _WIN32
#include <windows.h>

#include <string>

int main() {
    std::wstring path(32768, L'\0');
    path.resize(::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size())));
    path += L".ran";
    HANDLE marker =
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (marker != INVALID_HANDLE_VALUE) ::CloseHandle(marker);
    return 0;
}
#else
int main() { return 0; }
#endif
