// The registry layer of the Windows platform: opening and creating keys in
// the process's own, the 64-bit or the 32-bit view, reading text and number
// values, enumerating values and subkeys, writing and deleting values. Every
// key is owned by a RegistryKey. Failures carry the Windows error code, so
// each caller words them for its own subject with registry_failure. The
// try_ functions answer "not there" as an empty optional and fail only for
// anything else (access refused, a value that will not hold still), so a
// caller can say what it could not read. Thread-safe.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <windows.h>

#include "formats/windows_values.h"
#include "os/windows/handle.h"

namespace qm::windows {

using os::windows::RegistryKey;

// A Windows error code from a registry call (never ERROR_SUCCESS).
struct RegistryError {
    long code = 0;
};
template <class T>
using RegistryResult = std::expected<T, RegistryError>;

enum class RegistryView { own, bits64, bits32 };

// "64" and "32" name those views; anything else is the process's own.
[[nodiscard]] RegistryView registry_view(std::string_view view);
// KEY_WOW64_64KEY, KEY_WOW64_32KEY or nothing.
[[nodiscard]] REGSAM view_flag(RegistryView view);
// "HKLM" is the local-machine root; any other text the current user's.
[[nodiscard]] HKEY registry_root(std::string_view hive);

// "Windows refused access to {what}." for error 5, "Windows error {n} on
// {what}." for any other.
[[nodiscard]] std::string registry_failure(std::string_view what, RegistryError error);

[[nodiscard]] RegistryResult<RegistryKey> open_key(HKEY root, std::string_view path, REGSAM access);
// The key, or none when it does not exist.
[[nodiscard]] RegistryResult<std::optional<RegistryKey>> try_open_key(HKEY root, std::string_view path, REGSAM access);
// The code is of a key or value that is not there.
[[nodiscard]] bool is_absent(RegistryError error);
[[nodiscard]] RegistryResult<RegistryKey> create_key(HKEY root, std::string_view path, REGSAM access);

// REG_SZ or REG_EXPAND_SZ, decoded as registry text; absent when the value
// is missing, of another type or cannot be read. Environment references are
// left as written.
[[nodiscard]] std::optional<std::string> try_read_text(HKEY key, std::string_view name);
// REG_DWORD with at least four bytes, little-endian; absent otherwise, as above.
[[nodiscard]] std::optional<std::uint32_t> try_read_number(HKEY key, std::string_view name);
// The raw bytes and type of a value, or none when there is no such value.
struct RawValue {
    DWORD type = REG_NONE;
    std::string bytes;
};
[[nodiscard]] RegistryResult<std::optional<RawValue>> try_read_raw(HKEY key, std::string_view name);
// What try_read_text and try_read_number make of a value read another way.
[[nodiscard]] std::optional<std::string> text_of(const std::optional<RawValue>& value);
[[nodiscard]] std::optional<std::uint32_t> number_of(const std::optional<RawValue>& value);

[[nodiscard]] RegistryResult<void> write_value(HKEY key, std::string_view name, DWORD type, std::string_view bytes);
// REG_SZ (or REG_EXPAND_SZ) holding the text as UTF-16LE with its ending NUL.
[[nodiscard]] RegistryResult<void> write_text(HKEY key, std::string_view name, std::string_view text,
                                              DWORD type = REG_SZ);
[[nodiscard]] RegistryResult<void> write_number(HKEY key, std::string_view name, std::uint32_t number);
// Deleting a value that does not exist counts as success.
[[nodiscard]] RegistryResult<void> delete_value(HKEY key, std::string_view name);

struct EnumeratedValue {
    std::string name;  // UTF-8; may be empty (the key's default value)
    DWORD type = REG_NONE;
    std::string bytes;  // the data as stored
    // False when the stored name holds an unpaired UTF-16 surrogate: `name`
    // then shows it as U+FFFD and names a different value when written back.
    bool exact_name = true;
};

// Whether the text holds a high surrogate without a low one after it, or a
// low one without a high one before it; such text has no UTF-8 form.
[[nodiscard]] bool has_unpaired_surrogate(std::wstring_view text);

// Why an item whose name does not survive conversion is not switched.
inline constexpr std::string_view inexact_name_note =
    "Its name holds a character that cannot be written back exactly (an unpaired UTF-16 surrogate), so switching "
    "it would change a different entry; change it with Windows' own tools.";

// Every value by index from 0: names up to 16,383 UTF-16 units; the data
// buffer starts at 4,096 bytes and grows on ERROR_MORE_DATA to the larger of
// twice its size and what Windows asked for, then the same index is read
// again. Ends at ERROR_NO_MORE_ITEMS, at any other error, or after index
// 100,000; what was read until then is returned. A key that counts 64
// values or more has those read on a few threads at once (work_pool.h), with
// the same result. `complete`, when given, tells whether the enumeration
// ended at the last value with none skipped.
[[nodiscard]] std::vector<EnumeratedValue> enumerate_values(HKEY key, bool* complete = nullptr);
// The values of one key, read with one enumeration, for a caller that looks
// up many names in it: names match as the registry matches them, ignoring
// case. A value whose name holds an unpaired surrogate is never found.
class ValueTable {
public:
    explicit ValueTable(HKEY key);
    // What try_read_raw would give for the name: the value, or none.
    [[nodiscard]] std::optional<RawValue> find(std::string_view name) const;
    // Whether every value of the key was read (see enumerate_values).
    [[nodiscard]] bool complete() const { return complete_; }

private:
    std::map<std::wstring, RawValue> values_;  // by upper-cased name
    bool complete_ = false;
};

// The key's last-write time as a Windows file time: when a value of the key
// was last set or deleted (the registry keeps no time per value); 0 when it
// cannot be asked.
[[nodiscard]] std::uint64_t key_last_write(HKEY key);

// The names of the key's subkeys, ending the same way.
[[nodiscard]] std::vector<std::string> enumerate_subkeys(HKEY key);
// The same with each subkey's last-write time (as a Windows file time),
// which moves whenever one of its values is set or deleted.
struct Subkey {
    std::string name;
    std::uint64_t written = 0;
};
[[nodiscard]] std::vector<Subkey> enumerate_subkeys_with_times(HKEY key);
// The subkey at one index of the enumeration, or none past its end or on any
// other error.
[[nodiscard]] std::optional<Subkey> subkey_at(HKEY key, DWORD index);

// Registry text and %NAME% references are read by the portable functions
// of formats/windows_values.h.
using formats::decode_registry_text;
using formats::expand_references;
using formats::VariableLookup;
// Expands with the process environment.
[[nodiscard]] std::string expand_references(std::string_view text);

}  // namespace qm::windows
