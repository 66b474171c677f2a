// One owning wrapper for every kind of system handle: Win32 handles, POSIX
// descriptors and sockets. Each kind supplies a policy: its native type, the
// value that means "no handle", how to tell a valid handle and how to close
// it. Moving a handle in closes the old one; nothing is ever closed twice.
// Not thread-safe per object.
#pragma once

#include <utility>

namespace qm::os {

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

}  // namespace qm::os
