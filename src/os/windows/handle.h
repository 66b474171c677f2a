// The owning wrappers for the kinds of Win32 handle: one policy each for
// the shared UniqueHandle (platform/unique_handle.h). Not thread-safe per
// object.
#pragma once

#include <windows.h>
#include <winsvc.h>

#include "os/unique_handle.h"

namespace qm::os::windows {

// Kernel objects: files, pipes, events, processes, threads, jobs. Creation
// functions disagree on how they fail (null or INVALID_HANDLE_VALUE), so both
// count as "no handle".
struct KernelHandlePolicy {
    using Native = HANDLE;
    static Native none() noexcept { return nullptr; }
    static bool is_valid(Native h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(Native h) noexcept { ::CloseHandle(h); }
};

// FindFirstFileW / FindFirstFileExW searches.
struct FindHandlePolicy {
    using Native = HANDLE;
    static Native none() noexcept { return INVALID_HANDLE_VALUE; }
    static bool is_valid(Native h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(Native h) noexcept { ::FindClose(h); }
};

// FindFirstChangeNotificationW's waits for a folder to change.
struct ChangeNotificationPolicy {
    using Native = HANDLE;
    static Native none() noexcept { return INVALID_HANDLE_VALUE; }
    static bool is_valid(Native h) noexcept { return h != nullptr && h != INVALID_HANDLE_VALUE; }
    static void close(Native h) noexcept { ::FindCloseChangeNotification(h); }
};

// Registry keys opened or created by the program (never the predefined roots).
struct RegistryKeyPolicy {
    using Native = HKEY;
    static Native none() noexcept { return nullptr; }
    static bool is_valid(Native h) noexcept { return h != nullptr; }
    static void close(Native h) noexcept { ::RegCloseKey(h); }
};

// Service Control Manager and service handles.
struct ServiceHandlePolicy {
    using Native = SC_HANDLE;
    static Native none() noexcept { return nullptr; }
    static bool is_valid(Native h) noexcept { return h != nullptr; }
    static void close(Native h) noexcept { ::CloseServiceHandle(h); }
};

using Handle = UniqueHandle<KernelHandlePolicy>;
using FindHandle = UniqueHandle<FindHandlePolicy>;
using ChangeNotification = UniqueHandle<ChangeNotificationPolicy>;
using RegistryKey = UniqueHandle<RegistryKeyPolicy>;
using ServiceHandle = UniqueHandle<ServiceHandlePolicy>;

}  // namespace qm::os::windows
