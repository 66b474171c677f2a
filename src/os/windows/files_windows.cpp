#include <windows.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "os/files.h"
#include "os/new_file.h"
#include "os/random_hex.h"
#include "os/windows/handle.h"
#include "os/windows/system_error.h"
#include "os/windows/wide.h"

namespace qm::os {

namespace {

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string failure(std::string_view action, std::string_view path, DWORD code) {
    return windows::failed_with_reason(action, path, code);
}

bool is_separator(wchar_t c) { return c == L'\\' || c == L'/'; }

bool is_missing_code(DWORD code) { return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND; }

std::int64_t unix_seconds(FILETIME time) {
    // FILETIME counts 100 ns steps since 1601-01-01.
    ULARGE_INTEGER ticks;
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    constexpr std::uint64_t ticks_1601_to_1970 = 116444736000000000ULL;
    if (ticks.QuadPart < ticks_1601_to_1970) return 0;
    return static_cast<std::int64_t>((ticks.QuadPart - ticks_1601_to_1970) / 10000000ULL);
}

// Opens a file for reading only when it is a file on a disk: a pipe, console
// or other device opened under a file's name is refused (judged on the open
// handle), as is a folder.
Result<windows::Handle> open_regular(const std::string& path) {
    windows::Handle file(::CreateFileW(windows::to_wide(path).c_str(), GENERIC_READ, share_all, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return fail(failure("Could not read", path, ::GetLastError()));
    if (::GetFileType(file.get()) != FILE_TYPE_DISK)
        return fail("Could not read " + path + ": it is not a regular file.");
    // The basic information holds the attributes alone; the fuller query
    // also asks the volume for its serial number, which under Wine is a call
    // into another process for every file read.
    FILE_BASIC_INFO info{};
    if (::GetFileInformationByHandleEx(file.get(), FileBasicInfo, &info, sizeof info) &&
        (info.FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return fail("Could not read " + path + ": it is a folder.");
    return file;
}

// Writes all of `data` in pieces a DWORD can count; returns 0 or the error.
DWORD write_whole(HANDLE file, std::string_view data) {
    while (!data.empty()) {
        DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size(), 1u << 24));
        DWORD written = 0;
        if (!::WriteFile(file, data.data(), chunk, &written, nullptr)) return ::GetLastError();
        if (written == 0) return ERROR_WRITE_FAULT;
        data.remove_prefix(written);
    }
    return 0;
}

// Writes `data` (under 4 GB) to a file opened for appending with one call,
// so it lands at the end as one piece; a short write is reported, never
// completed by a second write that could split the line.
Result<void> append_in_one_write(HANDLE file, const std::string& path, std::string_view data) {
    DWORD written = 0;
    if (!::WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr)) {
        return fail(failure("Could not append to", path, ::GetLastError()));
    }
    if (written != data.size()) {
        return fail("Could not append to " + path + ": only part of the data was written.");
    }
    return {};
}

// Replacing a file can meet a reader (an indexer, a virus scanner) that holds
// it open for a moment; such refusals are tried again briefly.
DWORD move_replacing(const std::wstring& from, const std::wstring& to) {
    DWORD code = 0;
    for (int attempt = 0; attempt < 10; ++attempt) {
        if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return 0;
        }
        code = ::GetLastError();
        if (code != ERROR_SHARING_VIOLATION && code != ERROR_ACCESS_DENIED && code != ERROR_LOCK_VIOLATION) {
            return code;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    return code;
}

// Removes `path` and everything below it. Links and junctions to folders are
// removed themselves, never followed. Returns 0 or the first error.
DWORD remove_tree_inner(const std::wstring& path, std::wstring& failed_path) {
    DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        DWORD code = ::GetLastError();
        if (is_missing_code(code)) return 0;
        failed_path = path;
        return code;
    }
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        ::SetFileAttributesW(path.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    }
    bool is_folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    bool is_link = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (is_folder && !is_link) {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW found{};
        windows::FindHandle search(
            ::FindFirstFileExW((path + L"\\*").c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0));
        if (search.valid()) {
            do {
                std::wstring_view name = found.cFileName;
                if (name != L"." && name != L"..") names.emplace_back(name);
            } while (::FindNextFileW(search.get(), &found));
        }
        search.reset();
        for (const std::wstring& name : names) {
            if (DWORD code = remove_tree_inner(path + L"\\" + name, failed_path)) return code;
        }
    }
    BOOL removed = is_folder ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str());
    if (!removed) {
        DWORD code = ::GetLastError();
        if (is_missing_code(code)) return 0;
        failed_path = path;
        return code;
    }
    return 0;
}

// The part of a path that cannot be created: "C:\", "\\server\share\".
bool is_root(const std::wstring& path) {
    if (path.size() <= 3 && path.size() >= 2 && path[1] == L':') return true;
    if (path.size() >= 2 && is_separator(path[0]) && is_separator(path[1])) {
        // \\server\share has no parent to create.
        std::size_t separators = 0;
        for (std::size_t i = 2; i < path.size(); ++i) separators += is_separator(path[i]) ? 1 : 0;
        return separators <= 1;
    }
    return path.empty() || (path.size() == 1 && is_separator(path[0]));
}

// Why `path` cannot be written when no temporary file could be made beside
// it (`code`). An existing file that cannot be opened for writing either is
// reported with that reason; one that could be written in place is still only
// ever replaced whole, so then the folder is what stands in the way.
std::string temporary_failure(const std::string& path, const std::wstring& target, DWORD code) {
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
        return failure("Could not write", path, code);
    }
    windows::Handle file(::CreateFileW(target.c_str(), GENERIC_WRITE, share_all, nullptr, OPEN_EXISTING,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return failure("Could not write", path, ::GetLastError());
    return "Could not write " + path + ": no temporary file can be made in its folder (" + windows::error_text(code) +
           ").";
}

}  // namespace

char path_separator() { return '\\'; }

std::string join_path(std::string_view a, std::string_view b) {
    std::string joined(a);
    if (!joined.empty() && joined.back() != '\\' && joined.back() != '/') joined.push_back('\\');
    joined.append(b);
    return joined;
}

PathKind path_kind(const std::string& path) {
    DWORD attributes = ::GetFileAttributesW(windows::to_wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return is_missing_code(::GetLastError()) ? PathKind::missing : PathKind::other;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::folder;
    if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::other;
    return PathKind::file;
}

Result<std::string> read_file(const std::string& path) { return read_file(path, UINT64_MAX - 1); }

Result<std::string> read_file(const std::string& path, std::uint64_t max_bytes) {
    windows::Handle file = QM_TRY(open_regular(path));
    const std::uint64_t wanted = max_bytes + 1;  // one byte more tells the caller it is larger
    std::string content;
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.get(), &size) && size.QuadPart > 0) {
        content.reserve(
            static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(size.QuadPart), wanted)));
    }
    char buffer[65536];
    while (content.size() < wanted) {
        const DWORD ask = static_cast<DWORD>(std::min<std::uint64_t>(sizeof buffer, wanted - content.size()));
        DWORD got = 0;
        if (!::ReadFile(file.get(), buffer, ask, &got, nullptr)) {
            return fail(failure("Could not read", path, ::GetLastError()));
        }
        if (got == 0) break;
        content.append(buffer, got);
    }
    return content;
}

Result<std::string> read_whole_file(const std::string& path, std::uint64_t limit) {
    std::string content = QM_TRY(read_file(path, limit));
    if (content.size() > limit) {
        const bool mebibytes = limit % (1u << 20) == 0;
        return fail("Could not read " + path + ": it is larger than " +
                    (mebibytes ? std::to_string(limit >> 20) + " MiB" : std::to_string(limit) + " bytes") +
                    ", so it is neither read nor changed.");
    }
    return content;
}

Result<std::string> read_file_end(const std::string& path, std::uint64_t max_bytes) {
    windows::Handle file = QM_TRY(open_regular(path));
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.get(), &size)) return fail(failure("Could not read", path, ::GetLastError()));
    const auto total = static_cast<std::uint64_t>(size.QuadPart > 0 ? size.QuadPart : 0);
    LARGE_INTEGER start{};
    start.QuadPart = static_cast<LONGLONG>(total > max_bytes ? total - max_bytes : 0);
    if (!::SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN)) {
        return fail(failure("Could not read", path, ::GetLastError()));
    }
    std::string content(static_cast<std::size_t>(total - static_cast<std::uint64_t>(start.QuadPart)), '\0');
    std::size_t got = 0;
    while (got < content.size()) {
        const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(content.size() - got, 1u << 24));
        DWORD n = 0;
        if (!::ReadFile(file.get(), content.data() + got, ask, &n, nullptr)) {
            return fail(failure("Could not read", path, ::GetLastError()));
        }
        if (n == 0) break;  // cut short since its size was read
        got += n;
    }
    content.resize(got);
    return content;
}

Result<void> write_file_replace(const std::string& path, std::string_view data) {
    return write_file_replace(path, data, NewFile{});
}

// A new file here takes the permissions its folder passes on, which already
// leaves it to the folder's owner; NewFile asks nothing more of Windows.
Result<void> write_file_replace(const std::string& path, std::string_view data, NewFile) {
    if (const std::size_t slash = path.find_last_of("\\/"); slash != std::string::npos) {
        (void)remove_stale_temporaries(path.substr(0, slash), stale_temporary_age);
    }
    std::wstring target = windows::to_wide(path);
    std::wstring temporary;
    windows::Handle file;
    // A random name in the target's folder, so the final move stays on one
    // volume and two writers of the same file never share a temporary.
    for (int attempt = 0; attempt < 8 && !file.valid(); ++attempt) {
        std::optional<std::string> noise = random_hex(8);
        if (!noise) return fail("Could not write " + path + ": no random name for the temporary file.");
        temporary = target + windows::to_wide("." + *noise + ".tmp");
        file.reset(
            ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (const DWORD code = ::GetLastError(); !file.valid() && code != ERROR_FILE_EXISTS) {
            return fail(temporary_failure(path, target, code));
        }
    }
    if (!file.valid()) return fail(failure("Could not write", path, ERROR_FILE_EXISTS));

    DWORD code = write_whole(file.get(), data);
    if (code == 0 && !::FlushFileBuffers(file.get())) code = ::GetLastError();
    file.reset();
    if (code == 0) code = move_replacing(temporary, target);
    if (code != 0) {
        ::DeleteFileW(temporary.c_str());
        return fail(failure("Could not write", path, code));
    }
    return {};
}

Result<void> write_file_replace_regular(const std::string& path, std::string_view data) {
    // Opened without following a link or junction and without asking for
    // access to the content, only to learn what is there; a device name such
    // as NUL opens as a character device.
    windows::Handle existing(::CreateFileW(windows::to_wide(path).c_str(), FILE_READ_ATTRIBUTES, share_all, nullptr,
                                           OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                           nullptr));
    if (existing.valid()) {
        constexpr DWORD not_plain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
        BY_HANDLE_FILE_INFORMATION info{};
        const bool plain = ::GetFileType(existing.get()) == FILE_TYPE_DISK &&
                           ::GetFileInformationByHandle(existing.get(), &info) &&
                           (info.dwFileAttributes & not_plain) == 0;
        if (!plain) {
            const bool folder = (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) ==
                                FILE_ATTRIBUTE_DIRECTORY;
            return fail("Could not write " + path + (folder ? ": it is a folder." : ": it is not a regular file."));
        }
    } else if (const DWORD code = ::GetLastError(); !is_missing_code(code)) {
        return fail(failure("Could not write", path, code));
    }
    existing.reset();
    return write_file_replace(path, data);
}

Result<void> append_to_file(const std::string& path, std::string_view data) {
    if (data.size() > 0xFFFFFFFFu) return fail("Could not append to " + path + ": the data is too large.");
    // Append-only access: every write lands at the end of the file as one
    // piece, so lines of concurrent writers never interleave.
    windows::Handle file(::CreateFileW(windows::to_wide(path).c_str(), FILE_APPEND_DATA | SYNCHRONIZE, share_all,
                                       nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return fail(failure("Could not append to", path, ::GetLastError()));
    return append_in_one_write(file.get(), path, data);
}

Result<void> append_line(const std::string& path, std::string_view line) {
    if (line.size() >= 0xFFFFFFFFu) return fail("Could not append to " + path + ": the data is too large.");
    // Append-only as in append_to_file, with read access to see the last byte.
    windows::Handle file(::CreateFileW(windows::to_wide(path).c_str(), GENERIC_READ | FILE_APPEND_DATA | SYNCHRONIZE,
                                       share_all, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) return fail(failure("Could not append to", path, ::GetLastError()));
    // Appenders take turns on one byte far past any real end of the file, so
    // the lock never stands in a reader's way. Without it the append still
    // goes ahead; at worst a blank line too many is written, which readers skip.
    struct TurnLock {
        HANDLE file;
        bool held;
        ~TurnLock() {
            OVERLAPPED at{};
            at.OffsetHigh = 0x7FFFFFFF;
            if (held) ::UnlockFileEx(file, 0, 1, 0, &at);
        }
    };
    OVERLAPPED at{};
    at.OffsetHigh = 0x7FFFFFFF;
    const TurnLock lock{file.get(), ::LockFileEx(file.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at) != FALSE};
    bool at_line_start = true;
    LARGE_INTEGER size{};
    if (::GetFileSizeEx(file.get(), &size) && size.QuadPart > 0) {
        OVERLAPPED last_byte{};
        const auto offset = static_cast<std::uint64_t>(size.QuadPart - 1);
        last_byte.Offset = static_cast<DWORD>(offset);
        last_byte.OffsetHigh = static_cast<DWORD>(offset >> 32);
        char last = 0;
        DWORD got = 0;
        at_line_start = ::ReadFile(file.get(), &last, 1, &got, &last_byte) && got == 1 && last == '\n';
    }
    std::string data;
    data.reserve(line.size() + 1);
    if (!at_line_start) data.push_back('\n');
    data.append(line);
    return append_in_one_write(file.get(), path, data);
}

Result<bool> create_folder(const std::string& path) {
    if (::CreateDirectoryW(windows::to_wide(path).c_str(), nullptr)) return true;
    DWORD code = ::GetLastError();
    if (code == ERROR_ALREADY_EXISTS && path_kind(path) == PathKind::folder) return false;
    return fail(failure("Could not create the folder", path, code));
}

Result<void> create_folders(const std::string& path) {
    std::wstring wide = windows::to_wide(path);
    while (wide.size() > 1 && is_separator(wide.back()) && !is_root(wide)) wide.pop_back();
    if (is_root(wide) || path_kind(path) == PathKind::folder) return {};
    std::size_t separator = wide.find_last_of(L"\\/");
    if (separator != std::wstring::npos && separator > 0) {
        QM_TRY_VOID(create_folders(windows::to_utf8(wide.substr(0, separator))));
    }
    // Another thread or process may create it in between; that is success.
    QM_TRY(create_folder(windows::to_utf8(wide)));
    return {};
}

Result<void> rename_replace(const std::string& from, const std::string& to) {
    if (DWORD code = move_replacing(windows::to_wide(from), windows::to_wide(to))) {
        return fail(failure("Could not rename " + from + " to", to, code));
    }
    return {};
}

Result<void> remove_file(const std::string& path) {
    if (!::DeleteFileW(windows::to_wide(path).c_str())) {
        DWORD code = ::GetLastError();
        if (!is_missing_code(code)) return fail(failure("Could not remove", path, code));
    }
    return {};
}

Result<std::vector<FolderEntry>> list_folder(const std::string& path) {
    std::wstring pattern = windows::to_wide(path);
    if (!pattern.empty() && !is_separator(pattern.back())) pattern.push_back(L'\\');
    pattern.push_back(L'*');
    WIN32_FIND_DATAW found{};
    windows::FindHandle search(::FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                                  nullptr, FIND_FIRST_EX_LARGE_FETCH));
    std::vector<FolderEntry> entries;
    if (!search.valid()) {
        DWORD code = ::GetLastError();
        // An existing folder with nothing in it (a drive root has no "." entry).
        if (code == ERROR_FILE_NOT_FOUND && path_kind(path) == PathKind::folder) return entries;
        return fail(failure("Could not list the folder", path, code));
    }
    do {
        std::wstring_view name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        FolderEntry entry;
        entry.name = windows::to_utf8(name);
        entry.is_folder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.size = entry.is_folder ? 0 : (static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) | found.nFileSizeLow;
        entry.modified_unix = unix_seconds(found.ftLastWriteTime);
        entries.push_back(std::move(entry));
    } while (::FindNextFileW(search.get(), &found));
    DWORD code = ::GetLastError();
    if (code != ERROR_NO_MORE_FILES) return fail(failure("Could not list the folder", path, code));
    return entries;
}

Result<void> remove_tree(const std::string& path) {
    std::wstring wide = windows::to_wide(path);
    while (wide.size() > 3 && is_separator(wide.back())) wide.pop_back();
    std::wstring failed_path;
    if (DWORD code = remove_tree_inner(wide, failed_path)) {
        return fail(failure("Could not remove", windows::to_utf8(failed_path), code));
    }
    return {};
}

}  // namespace qm::os
