// One owning wrapper for every kind of Win32 handle. Each kind supplies a
// policy: its native type, the value that means "no handle", how to tell a
// valid handle and how to close it. Moving a handle in closes the old one
// first; nothing is ever closed twice. Not thread-safe per object.
#pragma once

#include <windows.h>
#include <winsvc.h>

#include <utility>

namespace qm::os::win {

template <class Policy>
class UniqueHandle {
public:
    using Native = typename Policy::Native;

    UniqueHandle() noexcept = default;
    explicit UniqueHandle(Native native) noexcept : native_(native) {}
    ~UniqueHandle() { reset(); }

    UniqueHandle(UniqueHandle&& other) noexcept : native_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) reset(other.release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    [[nodiscard]] bool valid() const noexcept { return Policy::is_valid(native_); }
    explicit operator bool() const noexcept { return valid(); }
    [[nodiscard]] Native get() const noexcept { return native_; }

    // Gives up ownership without closing.
    [[nodiscard]] Native release() noexcept { return std::exchange(native_, Policy::none()); }

    // Closes the current handle (when valid) and takes `native` instead.
    void reset(Native native = Policy::none()) noexcept {
        Native old = std::exchange(native_, native);
        if (Policy::is_valid(old)) Policy::close(old);
    }

    // For functions that return a handle through a pointer: closes the
    // current one and hands out the slot for the new one.
    [[nodiscard]] Native* put() noexcept {
        reset();
        return &native_;
    }

private:
    Native native_ = Policy::none();
};

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
using RegistryKey = UniqueHandle<RegistryKeyPolicy>;
using ServiceHandle = UniqueHandle<ServiceHandlePolicy>;

}  // namespace qm::os::win
