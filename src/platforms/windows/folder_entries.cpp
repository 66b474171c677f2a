#include "platforms/windows/folder_entries.h"

#include <windows.h>

#include "os/windows/handle.h"
#include "os/windows/wide.h"

namespace qm::windows {

EntryKind entry_kind(const std::string& path) {
    const DWORD attributes = ::GetFileAttributesW(os::windows::to_wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return EntryKind::missing;
    constexpr DWORD not_plain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    return (attributes & not_plain) == 0 ? EntryKind::regular : EntryKind::not_regular;
}

EntryInfo entry_info(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(os::windows::to_wide(path).c_str(), GetFileExInfoStandard, &data)) return {};
    constexpr DWORD not_plain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    if ((data.dwFileAttributes & not_plain) != 0) return {EntryKind::not_regular, 0, 0};
    const auto join = [](DWORD high, DWORD low) { return static_cast<std::uint64_t>(high) << 32 | low; };
    return {EntryKind::regular, join(data.nFileSizeHigh, data.nFileSizeLow),
            join(data.ftLastWriteTime.dwHighDateTime, data.ftLastWriteTime.dwLowDateTime)};
}

std::optional<std::string> final_folder_path(const std::string& folder) {
    os::windows::Handle handle(::CreateFileW(os::windows::to_wide(folder).c_str(), 0,
                                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!handle.valid()) return std::nullopt;
    std::wstring path(1024, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(handle.get(), path.data(), static_cast<DWORD>(path.size()), 0);
    if (length >= path.size()) {
        path.assign(length + 1, L'\0');
        length = ::GetFinalPathNameByHandleW(handle.get(), path.data(), static_cast<DWORD>(path.size()), 0);
    }
    if (length == 0 || length >= path.size()) return std::nullopt;
    path.resize(length);
    // "\\?\C:\..." names the same folder as "C:\..."; paths built on it without
    // the prefix are read under the same name rules as the folder was.
    const bool on_drive = path.size() >= 7 && path.starts_with(L"\\\\?\\") && path[5] == L':' && path[6] == L'\\';
    if (on_drive) path.erase(0, 4);
    return os::windows::to_utf8(path);
}

}  // namespace qm::windows
