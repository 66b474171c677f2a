#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>

#include "os/files.h"
#include "os/new_file.h"
#include "os/posix/descriptor.h"
#include "os/random_hex.h"

namespace qm::os {

namespace {

// "{action} {path}: {reason}." with the system's reason for `code`.
std::string failure(std::string_view action, std::string_view path, int code) {
    return std::string(action) + " " + std::string(path) + ": " + std::system_category().message(code) + ".";
}

using posix::Descriptor;

int open_retrying(const char* path, int flags, mode_t mode = 0) {
    for (;;) {
        int fd = ::open(path, flags | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EINTR) return fd;
    }
}

// Opens a file for reading only when it is a regular file, judged on the open
// descriptor. O_NONBLOCK keeps the open itself from waiting for a writer of a
// pipe (or a device); it is cleared again, though regular files ignore it.
Result<Descriptor> open_regular(const std::string& path, struct stat& info) {
    Descriptor fd(open_retrying(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY));
    if (!fd.valid()) return fail(failure("Could not read", path, errno));
    if (::fstat(fd.get(), &info) != 0) return fail(failure("Could not read", path, errno));
    if (S_ISDIR(info.st_mode)) return fail("Could not read " + path + ": it is a folder.");
    if (!S_ISREG(info.st_mode)) return fail("Could not read " + path + ": it is not a regular file.");
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags >= 0) ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

std::string too_large(const std::string& path, std::uint64_t limit) {
    const bool mebibytes = limit % (1u << 20) == 0;
    return "Could not read " + path + ": it is larger than " +
           (mebibytes ? std::to_string(limit >> 20) + " MiB" : std::to_string(limit) + " bytes") +
           ", so it is neither read nor changed.";
}

// Writes all of `data`; returns 0 or the errno of the failure.
int write_whole(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t n = ::write(fd, data.data(), data.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        data.remove_prefix(static_cast<std::size_t>(n));
    }
    return 0;
}

std::string folder_of(const std::string& path) {
    std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// Why `path` cannot be written when no temporary file could be made beside
// it (`code`). The folder's refusal alone would misdescribe an existing file
// (/proc/version is "No such file or directory" that way), so a regular file
// that cannot be opened for writing either is reported with that reason. One
// that could be written in place is still only ever replaced whole, so then
// the folder is what stands in the way.
std::string temporary_failure(const std::string& path, int code) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return failure("Could not write", path, code);
    Descriptor target(open_retrying(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY));
    if (!target.valid()) return failure("Could not write", path, errno);
    return "Could not write " + path + ": no temporary file can be made in its folder (" +
           std::system_category().message(code) + ").";
}

// Appends `data` with one write call, then closes the file. With O_APPEND the
// kernel places the whole buffer at the end in one step, so lines of
// concurrent writers never interleave. Looping over a short write would split
// the line, so a short write is reported instead.
Result<void> append_in_one_write(Descriptor& fd, const std::string& path, std::string_view data) {
    ssize_t n = -1;
    do {
        n = ::write(fd.get(), data.data(), data.size());
    } while (n < 0 && errno == EINTR);
    if (n < 0) return fail(failure("Could not append to", path, errno));
    if (static_cast<std::size_t>(n) != data.size()) {
        return fail("Could not append to " + path + ": only part of the data was written.");
    }
    if (posix::close_reporting(fd) != 0) return fail(failure("Could not append to", path, errno));
    return {};
}

// Makes a rename durable: the folder's entry is flushed as well.
void sync_folder(const std::string& folder) {
    Descriptor fd(open_retrying(folder.c_str(), O_RDONLY | O_DIRECTORY));
    if (fd.valid()) ::fsync(fd.get());
}

// Removes `path` and, for a real folder (not a link to one), everything in
// it. Returns 0 or the errno of the first failure, with its path.
int remove_tree_inner(const std::string& path, std::string& failed_path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        if (errno == ENOENT) return 0;
        failed_path = path;
        return errno;
    }
    if (!S_ISDIR(info.st_mode)) {
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
            failed_path = path;
            return errno;
        }
        return 0;
    }
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr) {
        failed_path = path;
        return errno;
    }
    std::vector<std::string> names;
    while (dirent* entry = ::readdir(folder)) {
        std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    ::closedir(folder);
    for (const std::string& name : names) {
        if (int code = remove_tree_inner(path + "/" + name, failed_path)) return code;
    }
    if (::rmdir(path.c_str()) != 0 && errno != ENOENT) {
        failed_path = path;
        return errno;
    }
    return 0;
}

}  // namespace

char path_separator() { return '/'; }

std::string join_path(std::string_view a, std::string_view b) {
    std::string joined(a);
    if (!joined.empty() && joined.back() != '/') joined.push_back('/');
    joined.append(b);
    return joined;
}

PathKind path_kind(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return (errno == ENOENT || errno == ENOTDIR) ? PathKind::missing : PathKind::other;
    }
    if (S_ISREG(info.st_mode)) return PathKind::file;
    if (S_ISDIR(info.st_mode)) return PathKind::folder;
    return PathKind::other;
}

Result<std::string> read_file(const std::string& path) { return read_file(path, UINT64_MAX - 1); }

Result<std::string> read_file(const std::string& path, std::uint64_t max_bytes) {
    struct stat info {};
    Descriptor fd = QM_TRY(open_regular(path, info));
    const std::uint64_t wanted = max_bytes + 1;  // one byte more tells the caller it is larger
    std::string content;
    if (info.st_size > 0) {
        content.reserve(
            static_cast<std::size_t>(std::min<std::uint64_t>(static_cast<std::uint64_t>(info.st_size), wanted)));
    }
    char buffer[65536];
    while (content.size() < wanted) {
        const std::size_t ask =
            static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, wanted - content.size()));
        ssize_t n = ::read(fd.get(), buffer, ask);
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(failure("Could not read", path, errno));
        }
        if (n == 0) break;
        content.append(buffer, static_cast<std::size_t>(n));
    }
    return content;
}

Result<std::string> read_whole_file(const std::string& path, std::uint64_t limit) {
    std::string content = QM_TRY(read_file(path, limit));
    if (content.size() > limit) return fail(too_large(path, limit));
    return content;
}

Result<std::string> read_file_end(const std::string& path, std::uint64_t max_bytes) {
    struct stat info {};
    Descriptor fd = QM_TRY(open_regular(path, info));
    const auto size = static_cast<std::uint64_t>(info.st_size > 0 ? info.st_size : 0);
    const std::uint64_t start = size > max_bytes ? size - max_bytes : 0;
    std::string content(static_cast<std::size_t>(size - start), '\0');
    std::size_t got = 0;
    while (got < content.size()) {
        ssize_t n = ::pread(fd.get(), content.data() + got, content.size() - got, static_cast<off_t>(start + got));
        if (n < 0) {
            if (errno == EINTR) continue;
            return fail(failure("Could not read", path, errno));
        }
        if (n == 0) break;  // cut short since fstat
        got += static_cast<std::size_t>(n);
    }
    content.resize(got);
    return content;
}

Result<void> write_file_replace(const std::string& path, std::string_view data) {
    return write_file_replace(path, data, NewFile{});
}

Result<void> write_file_replace(const std::string& path, std::string_view data, NewFile new_file) {
    // What the new file must look like: the replaced file's mode and owner,
    // or for a new file what the caller asked.
    struct stat old_info {};
    const bool replacing = ::stat(path.c_str(), &old_info) == 0 && S_ISREG(old_info.st_mode);
    struct stat folder_info {};
    // Only root can give a file away; anyone else's new file is theirs anyway.
    const bool from_folder = !replacing && new_file.owner_from_folder && ::geteuid() == 0 &&
                             ::stat(folder_of(path).c_str(), &folder_info) == 0;

    (void)remove_stale_temporaries(folder_of(path), stale_temporary_age);

    std::string temporary;
    Descriptor fd;
    // A random name in the target's folder: the rename then never crosses a
    // file system, and two writers of the same file never share a temporary.
    for (int attempt = 0; attempt < 8 && !fd.valid(); ++attempt) {
        std::optional<std::string> noise = random_hex(8);
        if (!noise) return fail("Could not write " + path + ": no random name for the temporary file.");
        temporary = path + "." + *noise + ".tmp";
        fd.reset(open_retrying(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL,
                               replacing || new_file.private_to_owner ? 0600 : 0666));
        if (!fd.valid() && errno != EEXIST) return fail(temporary_failure(path, errno));
    }
    if (!fd.valid()) return fail(failure("Could not write", path, EEXIST));

    int code = 0;
    std::string kept;  // set when the owner or mode could not be kept
    if (replacing) {
        if ((old_info.st_uid != ::geteuid() || old_info.st_gid != ::getegid()) &&
            ::fchown(fd.get(), old_info.st_uid, old_info.st_gid) != 0) {
            kept = "its owner could not be kept (" + std::system_category().message(errno) + ")";
        } else if (::fchmod(fd.get(), old_info.st_mode & 07777) != 0) {
            kept = "its permissions could not be kept (" + std::system_category().message(errno) + ")";
        }
    } else if (from_folder && (folder_info.st_uid != ::geteuid() || folder_info.st_gid != ::getegid())) {
        if (::fchown(fd.get(), folder_info.st_uid, folder_info.st_gid) != 0) code = errno;
    }
    if (code == 0 && kept.empty()) code = write_whole(fd.get(), data);
    if (code == 0 && kept.empty() && ::fsync(fd.get()) != 0) code = errno;
    if (posix::close_reporting(fd) != 0 && code == 0) code = errno;
    if (code == 0 && kept.empty() && ::rename(temporary.c_str(), path.c_str()) != 0) code = errno;
    if (code != 0 || !kept.empty()) {
        ::unlink(temporary.c_str());
        if (!kept.empty()) return fail("Could not write " + path + ": " + kept + ".");
        return fail(failure("Could not write", path, code));
    }
    sync_folder(folder_of(path));
    return {};
}

Result<void> write_file_replace_regular(const std::string& path, std::string_view data) {
    // lstat, so that a link is refused as itself instead of followed.
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode)) return fail("Could not write " + path + ": it is a folder.");
        if (!S_ISREG(info.st_mode)) return fail("Could not write " + path + ": it is not a regular file.");
    } else if (errno != ENOENT) {
        return fail(failure("Could not write", path, errno));
    }
    return write_file_replace(path, data);
}

Result<void> append_to_file(const std::string& path, std::string_view data) {
    Descriptor fd(open_retrying(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666));
    if (!fd.valid()) return fail(failure("Could not append to", path, errno));
    return append_in_one_write(fd, path, data);
}

Result<void> append_line(const std::string& path, std::string_view line) {
    // Read access to see the last byte; a file that allows only writing is
    // appended to without that look, as append_to_file does.
    bool readable = true;
    Descriptor fd(open_retrying(path.c_str(), O_RDWR | O_APPEND | O_CREAT, 0666));
    if (!fd.valid() && errno == EACCES) {
        readable = false;
        fd.reset(open_retrying(path.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666));
    }
    if (!fd.valid()) return fail(failure("Could not append to", path, errno));
    // Held until the descriptor is closed. Without it the append still goes
    // ahead; at worst a blank line too many is written, which readers skip.
    while (::flock(fd.get(), LOCK_EX) != 0 && errno == EINTR) {
    }
    bool at_line_start = true;
    struct stat info {};
    if (readable && ::fstat(fd.get(), &info) == 0 && info.st_size > 0) {
        char last = 0;
        ssize_t n = -1;
        do {
            n = ::pread(fd.get(), &last, 1, info.st_size - 1);
        } while (n < 0 && errno == EINTR);
        at_line_start = n == 1 && last == '\n';
    }
    std::string data;
    data.reserve(line.size() + 1);
    if (!at_line_start) data.push_back('\n');
    data.append(line);
    return append_in_one_write(fd, path, data);
}

Result<bool> create_folder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return true;
    int code = errno;
    if (code == EEXIST && path_kind(path) == PathKind::folder) return false;
    return fail(failure("Could not create the folder", path, code));
}

Result<void> create_folders(const std::string& path) {
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    if (trimmed.empty() || path_kind(trimmed) == PathKind::folder) return {};
    std::size_t slash = trimmed.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        QM_TRY_VOID(create_folders(trimmed.substr(0, slash)));
    }
    // Another thread or process may create it in between; that is success.
    QM_TRY(create_folder(trimmed));
    return {};
}

Result<void> rename_replace(const std::string& from, const std::string& to) {
    if (::rename(from.c_str(), to.c_str()) != 0) {
        return fail(failure("Could not rename " + from + " to", to, errno));
    }
    return {};
}

Result<void> remove_file(const std::string& path) {
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
        return fail(failure("Could not remove", path, errno));
    }
    return {};
}

Result<std::vector<FolderEntry>> list_folder(const std::string& path) {
    DIR* folder = ::opendir(path.c_str());
    if (folder == nullptr) return fail(failure("Could not list the folder", path, errno));
    std::vector<FolderEntry> entries;
    int folder_fd = ::dirfd(folder);
    errno = 0;
    while (dirent* found = ::readdir(folder)) {
        std::string_view name = found->d_name;
        if (name == "." || name == "..") continue;
        FolderEntry entry;
        entry.name = std::string(name);
        struct stat info {};
        // Links are described by what they point to; a broken link by itself.
        if (::fstatat(folder_fd, found->d_name, &info, 0) == 0 ||
            ::fstatat(folder_fd, found->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0) {
            entry.is_folder = S_ISDIR(info.st_mode);
            entry.size = entry.is_folder ? 0 : static_cast<std::uint64_t>(info.st_size);
            entry.modified_unix = static_cast<std::int64_t>(info.st_mtim.tv_sec);
        }
        entries.push_back(std::move(entry));
        errno = 0;
    }
    int code = errno;
    ::closedir(folder);
    if (code != 0) return fail(failure("Could not list the folder", path, code));
    return entries;
}

Result<void> remove_tree(const std::string& path) {
    std::string failed_path;
    if (int code = remove_tree_inner(path, failed_path)) {
        return fail(failure("Could not remove", failed_path, code));
    }
    return {};
}

}  // namespace qm::os
