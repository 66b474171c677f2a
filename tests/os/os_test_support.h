// Helpers shared by the tests of the seams and the platforms: a scratch folder that removes itself,
// setting and clearing environment variables, and the path of the stand-in
// child program that is built beside the test program.
#pragma once

#include <optional>
#include <string>

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#endif

#include "os/console.h"
#include "os/environment.h"
#include "os/files.h"
#include "os/random.h"

namespace qm::test {

inline std::string random_hex(std::size_t bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char c : os::random_bytes(bytes).value_or(std::string(bytes, '\0'))) {
        text.push_back(digits[c >> 4]);
        text.push_back(digits[c & 15]);
    }
    return text;
}

// A fresh folder under the system's temporary folder, removed with all its
// content when the test ends.
class ScratchFolder {
public:
    ScratchFolder() : path_(os::join_path(os::temp_folder(), "qm-platform-test-" + random_hex(8))) {
        auto created = os::create_folders(path_);
        EXPECT_TRUE(created.has_value()) << created.error();
    }
    ~ScratchFolder() { (void)os::remove_tree(path_); }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    [[nodiscard]] const std::string& path() const { return path_; }
    [[nodiscard]] std::string operator/(std::string_view name) const { return os::join_path(path_, name); }

private:
    std::string path_;
};

// Sets (or, with nothing, removes) a variable of this process.
inline void set_env(const std::string& name, const std::optional<std::string>& value) {
#ifdef _WIN32
    auto wide = [](const std::string& text) {
        int n = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
        std::wstring result(static_cast<std::size_t>(n), L'\0');
        ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), result.data(), n);
        return result;
    };
    ::SetEnvironmentVariableW(wide(name).c_str(), value ? wide(*value).c_str() : nullptr);
#else
    if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
    } else {
        ::unsetenv(name.c_str());
    }
#endif
}

// Sets a variable (or, with nothing, removes it) for one test and puts the
// old value back when the test ends.
class EnvironmentOverride {
public:
    EnvironmentOverride(std::string name, const std::optional<std::string>& value)
        : name_(std::move(name)), old_(os::get_env(name_)) {
        set_env(name_, value);
    }
    ~EnvironmentOverride() { set_env(name_, old_); }
    EnvironmentOverride(const EnvironmentOverride&) = delete;
    EnvironmentOverride& operator=(const EnvironmentOverride&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// True when this Windows program runs under Wine rather than on Windows.
inline bool running_under_wine() {
#ifdef _WIN32
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

// The stand-in child program (tests/tools/child_tool.cpp), beside this test program.
inline std::string child_tool_path() {
    std::string self = os::own_program_path();
    std::size_t separator = self.find_last_of("/\\");
    std::string folder = separator == std::string::npos ? std::string(".") : self.substr(0, separator);
#ifdef _WIN32
    return os::join_path(folder, "child_tool.exe");
#else
    return os::join_path(folder, "child_tool");
#endif
}

}  // namespace qm::test
