// Writing real registry values for the Windows platform tests, straight
// through the Win32 calls (not the code under test), and removing every value
// and key a test wrote when it ends, so tests sharing one Wine prefix do not
// see each other's values.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <windows.h>
#include <sddl.h>

#include "os/windows/wide.h"

namespace qm::test {

inline std::string utf16_bytes(std::wstring_view text, bool with_terminator = true) {
    std::string bytes(reinterpret_cast<const char*>(text.data()), text.size() * sizeof(wchar_t));
    if (with_terminator) bytes.append(2, '\0');
    return bytes;
}

class RegistryWriter {
public:
    RegistryWriter() = default;
    RegistryWriter(const RegistryWriter&) = delete;
    RegistryWriter& operator=(const RegistryWriter&) = delete;
    ~RegistryWriter() {
        for (const Written& w : values_) {
            HKEY key = nullptr;
            if (::RegOpenKeyExW(w.root, w.path.c_str(), 0, KEY_SET_VALUE | w.view, &key) == ERROR_SUCCESS) {
                ::RegDeleteValueW(key, w.name.c_str());
                ::RegCloseKey(key);
            }
        }
        for (auto it = keys_.rbegin(); it != keys_.rend(); ++it) {
            ::RegDeleteKeyExW(it->root, it->path.c_str(), it->view, 0);
        }
    }

    // Writes one value (creating the key), remembered for removal.
    void write(HKEY root, std::string_view path, REGSAM view, std::wstring_view name, DWORD type,
               std::string_view bytes) {
        const std::wstring wide_path = os::windows::to_wide(path);
        HKEY key = nullptr;
        LSTATUS status = ::RegCreateKeyExW(root, wide_path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                           KEY_SET_VALUE | view, nullptr, &key, nullptr);
        ASSERT_EQ(status, ERROR_SUCCESS) << path;
        status = ::RegSetValueExW(key, std::wstring(name).c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                                  static_cast<DWORD>(bytes.size()));
        ::RegCloseKey(key);
        ASSERT_EQ(status, ERROR_SUCCESS) << path;
        values_.push_back(Written{root, wide_path, view, std::wstring(name)});
    }

    void write_text(HKEY root, std::string_view path, REGSAM view, std::wstring_view name, std::wstring_view text,
                    DWORD type = REG_SZ) {
        write(root, path, view, name, type, utf16_bytes(text));
    }

    // A key of the test's own, deleted at the end (after its values).
    void own_key(HKEY root, std::string_view path, REGSAM view = 0) {
        keys_.push_back(Written{root, os::windows::to_wide(path), view, {}});
    }

private:
    struct Written {
        HKEY root;
        std::wstring path;
        REGSAM view;
        std::wstring name;
    };
    std::vector<Written> values_;
    std::vector<Written> keys_;
};

// Gives a key the access rules of an SDDL text for the life of the object,
// then lets everyone do everything with it again so it can be removed. The
// key's owner may always change its rules, so the test can restore them.
class KeySecurity {
public:
    KeySecurity(HKEY root, std::string_view path, REGSAM view, const wchar_t* sddl)
        : root_(root), path_(os::windows::to_wide(path)), view_(view) {
        set(sddl);
    }
    ~KeySecurity() { set(L"D:P(A;;KA;;;WD)"); }
    KeySecurity(const KeySecurity&) = delete;
    KeySecurity& operator=(const KeySecurity&) = delete;

private:
    void set(const wchar_t* sddl) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(
            ::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr));
        HKEY key = nullptr;
        ASSERT_EQ(::RegOpenKeyExW(root_, path_.c_str(), 0, WRITE_DAC | view_, &key), ERROR_SUCCESS);
        EXPECT_EQ(::RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor), ERROR_SUCCESS);
        ::RegCloseKey(key);
        ::LocalFree(descriptor);
    }

    HKEY root_;
    std::wstring path_;
    REGSAM view_;
};

// The raw bytes and type of a value, or type REG_NONE when it is missing.
inline std::pair<DWORD, std::string> read_value(HKEY root, std::string_view path, REGSAM view, std::wstring_view name) {
    HKEY key = nullptr;
    if (::RegOpenKeyExW(root, os::windows::to_wide(path).c_str(), 0, KEY_QUERY_VALUE | view, &key) != ERROR_SUCCESS) {
        return {REG_NONE, {}};
    }
    DWORD type = REG_NONE;
    DWORD size = 0;
    std::string bytes;
    if (::RegQueryValueExW(key, std::wstring(name).c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
        bytes.resize(size);
        ::RegQueryValueExW(key, std::wstring(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()),
                           &size);
        bytes.resize(size);
    } else {
        type = REG_NONE;
    }
    ::RegCloseKey(key);
    return {type, bytes};
}

}  // namespace qm::test
