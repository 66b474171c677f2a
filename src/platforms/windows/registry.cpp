#include "platforms/windows/registry.h"

#include <algorithm>

#include "os/environment.h"
#include "os/windows/system_error.h"
#include "os/windows/wide.h"
#include "platforms/windows/work_pool.h"
#include "util/decode.h"

namespace qm::windows {

namespace {

// A value name holds at most 16,383 UTF-16 units, plus the ending NUL.
constexpr DWORD value_name_capacity = 16384;
// A key name holds at most 255 units, plus the ending NUL.
constexpr DWORD subkey_name_capacity = 256;
constexpr DWORD first_data_capacity = 4096;
constexpr std::size_t largest_data = 64u << 20;
// No real key holds this many values; past it the key is read no further, so
// a key that keeps changing under the scan cannot hold it forever.
constexpr DWORD last_index = 100000;

RegistryError error_of(LSTATUS status) { return RegistryError{static_cast<long>(status)}; }

}  // namespace

RegistryView registry_view(std::string_view view) {
    if (view == "64") return RegistryView::bits64;
    if (view == "32") return RegistryView::bits32;
    return RegistryView::own;
}

REGSAM view_flag(RegistryView view) {
    switch (view) {
        case RegistryView::bits64:
            return KEY_WOW64_64KEY;
        case RegistryView::bits32:
            return KEY_WOW64_32KEY;
        case RegistryView::own:
            return 0;
    }
    return 0;
}

HKEY registry_root(std::string_view hive) { return hive == "HKLM" ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

std::string registry_failure(std::string_view what, RegistryError error) {
    return os::windows::access_or_system_error(what, static_cast<unsigned long>(error.code));
}

RegistryResult<RegistryKey> open_key(HKEY root, std::string_view path, REGSAM access) {
    HKEY opened = nullptr;
    LSTATUS status = ::RegOpenKeyExW(root, os::windows::to_wide(path).c_str(), 0, access, &opened);
    if (status != ERROR_SUCCESS) return std::unexpected(error_of(status));
    return RegistryKey(opened);
}

bool is_absent(RegistryError error) { return error.code == ERROR_FILE_NOT_FOUND || error.code == ERROR_PATH_NOT_FOUND; }

RegistryResult<std::optional<RegistryKey>> try_open_key(HKEY root, std::string_view path, REGSAM access) {
    RegistryResult<RegistryKey> key = open_key(root, path, access);
    if (key) return std::optional<RegistryKey>(std::move(*key));
    if (is_absent(key.error())) return std::optional<RegistryKey>();
    return std::unexpected(key.error());
}

RegistryResult<RegistryKey> create_key(HKEY root, std::string_view path, REGSAM access) {
    HKEY created = nullptr;
    LSTATUS status = ::RegCreateKeyExW(root, os::windows::to_wide(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                       access, nullptr, &created, nullptr);
    if (status != ERROR_SUCCESS) return std::unexpected(error_of(status));
    return RegistryKey(created);
}

RegistryResult<std::optional<RawValue>> try_read_raw(HKEY key, std::string_view name) {
    const std::wstring wide_name = os::windows::to_wide(name);
    RawValue value;
    DWORD size = first_data_capacity;
    // The value may grow between the size query and the read; a few rounds
    // settle it, and a value that keeps changing is treated as unreadable.
    for (int attempt = 0; attempt < 4; ++attempt) {
        value.bytes.assign(size, '\0');
        DWORD got = size;
        LSTATUS status = ::RegQueryValueExW(key, wide_name.c_str(), nullptr, &value.type,
                                            reinterpret_cast<BYTE*>(value.bytes.data()), &got);
        if (status == ERROR_SUCCESS) {
            value.bytes.resize(got);
            return std::optional<RawValue>(std::move(value));
        }
        if (is_absent(error_of(status))) return std::optional<RawValue>();
        if (status != ERROR_MORE_DATA) return std::unexpected(error_of(status));
        size = std::max(size * 2, got);
    }
    return std::unexpected(error_of(ERROR_MORE_DATA));
}

std::optional<std::string> try_read_text(HKEY key, std::string_view name) {
    return text_of(try_read_raw(key, name).value_or(std::nullopt));
}

std::optional<std::uint32_t> try_read_number(HKEY key, std::string_view name) {
    return number_of(try_read_raw(key, name).value_or(std::nullopt));
}

std::optional<std::string> text_of(const std::optional<RawValue>& value) {
    if (!value || (value->type != REG_SZ && value->type != REG_EXPAND_SZ)) return std::nullopt;
    return decode_registry_text(value->bytes);
}

std::optional<std::uint32_t> number_of(const std::optional<RawValue>& value) {
    if (!value || value->type != REG_DWORD || value->bytes.size() < 4) return std::nullopt;
    const auto* b = reinterpret_cast<const unsigned char*>(value->bytes.data());
    return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
           static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
}

RegistryResult<void> write_value(HKEY key, std::string_view name, DWORD type, std::string_view bytes) {
    LSTATUS status = ::RegSetValueExW(key, os::windows::to_wide(name).c_str(), 0, type,
                                      reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    if (status != ERROR_SUCCESS) return std::unexpected(error_of(status));
    return {};
}

RegistryResult<void> write_text(HKEY key, std::string_view name, std::string_view text, DWORD type) {
    std::wstring wide = os::windows::to_wide(text);
    wide.push_back(L'\0');
    return write_value(key, name, type,
                       std::string_view(reinterpret_cast<const char*>(wide.data()), wide.size() * sizeof(wchar_t)));
}

RegistryResult<void> write_number(HKEY key, std::string_view name, std::uint32_t number) {
    const char bytes[4] = {static_cast<char>(number & 0xFF), static_cast<char>((number >> 8) & 0xFF),
                           static_cast<char>((number >> 16) & 0xFF), static_cast<char>((number >> 24) & 0xFF)};
    return write_value(key, name, REG_DWORD, std::string_view(bytes, 4));
}

RegistryResult<void> delete_value(HKEY key, std::string_view name) {
    LSTATUS status = ::RegDeleteValueW(key, os::windows::to_wide(name).c_str());
    if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) return std::unexpected(error_of(status));
    return {};
}

namespace {

// Keys with this many values or more are read on a few threads at once.
constexpr DWORD many_values = 64;

// What one index of a key's values gave.
struct ValueAt {
    LSTATUS status = ERROR_SUCCESS;  // ERROR_SUCCESS, or the error that ends the values
    bool skipped = false;            // a value too large to read, passed over
    EnumeratedValue value;
};

// The value at `index`, read into buffers that grow as needed and are kept
// for the next index. The name buffer holds the longest name Windows
// allows, so more data than room is the value's: it is read again with room
// for it, unless it is larger than any command line could be.
ValueAt value_at(HKEY key, DWORD index, std::wstring& name, std::string& data) {
    for (;;) {
        DWORD name_length = value_name_capacity;
        DWORD data_size = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        const LSTATUS status = ::RegEnumValueW(key, index, name.data(), &name_length, nullptr, &type,
                                               reinterpret_cast<BYTE*>(data.data()), &data_size);
        if (status == ERROR_MORE_DATA) {
            const std::size_t wanted = std::max<std::size_t>(data.size() * 2, data_size);
            if (wanted > largest_data) return ValueAt{ERROR_SUCCESS, true, {}};
            data.assign(wanted, '\0');
            continue;
        }
        if (status != ERROR_SUCCESS) return ValueAt{status, false, {}};
        const std::wstring_view read_name(name.data(), name_length);
        return ValueAt{ERROR_SUCCESS, false,
                       EnumeratedValue{os::windows::to_utf8(read_name), type, data.substr(0, data_size),
                                       !has_unpaired_surrogate(read_name)}};
    }
}

}  // namespace

std::vector<EnumeratedValue> enumerate_values(HKEY key, bool* complete) {
    std::vector<EnumeratedValue> values;
    bool skipped = false;
    // Keeps what one index gave; false once the values have ended.
    auto take = [&](ValueAt& at) {
        if (at.status != ERROR_SUCCESS) {
            if (complete != nullptr) *complete = at.status == ERROR_NO_MORE_ITEMS && !skipped;
            return false;
        }
        if (at.skipped) skipped = true;
        else values.push_back(std::move(at.value));
        return true;
    };
    // Each value read in turn is one round trip to the server under Wine: a
    // key of many values has the ones it counts read on a few threads, then
    // the rest, if any were added meanwhile, in turn.
    DWORD count = 0;
    DWORD index = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                           nullptr) == ERROR_SUCCESS &&
        count >= many_values && count <= last_index) {
        std::vector<ValueAt> read(count);
        run_on_workers(count, [&](std::size_t i) {
            std::wstring name(value_name_capacity, L'\0');
            std::string data(first_data_capacity, '\0');
            read[i] = value_at(key, static_cast<DWORD>(i), name, data);
        });
        for (ValueAt& at : read) {
            if (!take(at)) return values;
        }
        index = count;
    }
    std::wstring name(value_name_capacity, L'\0');
    std::string data(first_data_capacity, '\0');
    for (; index <= last_index; ++index) {
        ValueAt at = value_at(key, index, name, data);
        if (!take(at)) return values;
    }
    if (complete != nullptr) *complete = false;
    return values;
}

namespace {

// The form two value names share when the registry takes them for one.
std::wstring folded_name(std::string_view name) {
    std::wstring wide = os::windows::to_wide(name);
    if (wide.empty()) return wide;
    std::wstring upper(wide.size(), L'\0');
    const int length =
        ::LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_UPPERCASE, wide.c_str(), static_cast<int>(wide.size()),
                        upper.data(), static_cast<int>(upper.size()), nullptr, nullptr, 0);
    if (length <= 0) return wide;
    upper.resize(static_cast<std::size_t>(length));
    return upper;
}

}  // namespace

ValueTable::ValueTable(HKEY key) {
    for (EnumeratedValue& value : enumerate_values(key, &complete_)) {
        // Its name as text names another value; asked by that text, the
        // registry would not give it either.
        if (!value.exact_name) continue;
        values_.emplace(folded_name(value.name), RawValue{value.type, std::move(value.bytes)});
    }
}

std::optional<RawValue> ValueTable::find(std::string_view name) const {
    const auto found = values_.find(folded_name(name));
    if (found == values_.end()) return std::nullopt;
    return found->second;
}

bool has_unpaired_surrogate(std::wstring_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto unit = static_cast<std::uint32_t>(text[i]);
        if (unit >= 0xDC00 && unit <= 0xDFFF) return true;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            const bool low_follows = i + 1 < text.size() && static_cast<std::uint32_t>(text[i + 1]) >= 0xDC00 &&
                                     static_cast<std::uint32_t>(text[i + 1]) <= 0xDFFF;
            if (!low_follows) return true;
            ++i;
        }
    }
    return false;
}

std::uint64_t key_last_write(HKEY key) {
    FILETIME written{};
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           nullptr, &written) != ERROR_SUCCESS)
        return 0;
    return static_cast<std::uint64_t>(written.dwHighDateTime) << 32 | written.dwLowDateTime;
}

std::vector<std::string> enumerate_subkeys(HKEY key) {
    std::vector<std::string> names;
    for (Subkey& subkey : enumerate_subkeys_with_times(key)) names.push_back(std::move(subkey.name));
    return names;
}

std::vector<Subkey> enumerate_subkeys_with_times(HKEY key) {
    std::vector<Subkey> subkeys;
    for (DWORD index = 0; index <= last_index; ++index) {
        std::optional<Subkey> subkey = subkey_at(key, index);
        if (!subkey) break;
        subkeys.push_back(std::move(*subkey));
    }
    return subkeys;
}

std::optional<Subkey> subkey_at(HKEY key, DWORD index) {
    wchar_t name[subkey_name_capacity];
    DWORD name_length = subkey_name_capacity;
    FILETIME written{};
    if (::RegEnumKeyExW(key, index, name, &name_length, nullptr, nullptr, nullptr, &written) != ERROR_SUCCESS)
        return std::nullopt;
    return Subkey{os::windows::to_utf8(std::wstring_view(name, name_length)),
                  static_cast<std::uint64_t>(written.dwHighDateTime) << 32 | written.dwLowDateTime};
}

std::string expand_references(std::string_view text) {
    return expand_references(text, [](std::string_view name) { return os::get_env(name); });
}

}  // namespace qm::windows
