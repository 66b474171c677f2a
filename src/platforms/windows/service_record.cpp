#include "platforms/windows/service_record.h"

#include <windows.h>

#include <utility>

#include "json/json.h"
#include "platforms/windows/record_file.h"
#include "util/hex.h"

namespace qm::windows {

namespace {

// {"format":1,"keys":[[name, last-write time, time read, [[value name, type,
// data in hex], ...]], ...]}.
constexpr int format = 1;
constexpr std::string_view list_name = "keys";

std::optional<std::string> bytes_of_hex(const json::JsonValue& value) {
    if (!value.is_string()) return std::nullopt;
    return from_hex(value.as_string());
}

// A value's type is a 32-bit number.
std::optional<DWORD> type_of(const json::JsonValue& value) {
    if (!value.is_number()) return std::nullopt;
    const double number = value.as_number();
    if (!(number >= 0 && number <= 4294967295.0) || number != static_cast<double>(static_cast<DWORD>(number)))
        return std::nullopt;
    return static_cast<DWORD>(number);
}

std::optional<KeptValues> values_of(const json::JsonValue& list) {
    if (!list.is_array()) return std::nullopt;
    KeptValues values;
    for (const json::JsonValue& fields : list.as_array()) {
        const json::JsonValue::Array& parts = fields.as_array();
        if (parts.size() != 3 || !parts[0].is_string()) return std::nullopt;
        const std::optional<DWORD> type = type_of(parts[1]);
        std::optional<std::string> bytes = bytes_of_hex(parts[2]);
        if (!type || !bytes) return std::nullopt;
        values.insert_or_assign(parts[0].as_string(), RawValue{*type, std::move(*bytes)});
    }
    return values;
}

std::size_t size_of(const KeptValues& values) {
    std::size_t bytes = 0;
    for (const auto& [name, value] : values) bytes += name.size() + value.bytes.size();
    return bytes;
}

}  // namespace

ServiceRecord::ServiceRecord(std::string folder, std::uint64_t now) : folder_(std::move(folder)), now_(now) {}

void ServiceRecord::load() {
    loaded_ = true;
    const std::optional<json::JsonValue> keys = read_record(folder_, file_name, file_limit, format, list_name);
    if (!keys) return;
    for (const json::JsonValue& fields : keys->as_array()) {
        if (entries_.full()) break;
        const json::JsonValue::Array& parts = fields.as_array();
        if (parts.size() != 4 || !parts[0].is_string()) continue;
        const std::optional<std::uint64_t> written = decimal_of(parts[1]);
        const std::optional<std::uint64_t> read = decimal_of(parts[2]);
        std::optional<KeptValues> values = values_of(parts[3]);
        if (!written || !read || !values) continue;
        entries_.add_read(parts[0].as_string(), {*written, *read, std::move(*values), false});
    }
}

const KeptValues* ServiceRecord::find(const std::string& key_name, std::uint64_t written) {
    if (!loaded_) load();
    return entries_.find(key_name, written, now_);
}

void ServiceRecord::store(const std::string& key_name, std::uint64_t written, const KeptValues& values) {
    if (!loaded_) load();
    if (folder_.empty()) return;
    entries_.store(key_name, written, now_, values, settled(written, now_) && size_of(values) <= largest_entry);
}

void ServiceRecord::save() {
    if (!loaded_ || folder_.empty()) return;
    if (!entries_.settle()) return;

    json::JsonValue keys = json::JsonValue::array();
    for (const auto& [name, entry] : entries_.all()) {
        json::JsonValue values = json::JsonValue::array();
        for (const auto& [value_name, value] : entry.kept) {
            values.push_back(
                json::JsonValue(json::JsonValue::Array{json::JsonValue(value_name),
                                                       json::JsonValue(static_cast<std::uint64_t>(value.type)),
                                                       json::JsonValue(to_hex(value.bytes))}));
        }
        keys.push_back(json::JsonValue(
            json::JsonValue::Array{json::JsonValue(name), json::JsonValue(std::to_string(entry.stamp)),
                                   json::JsonValue(std::to_string(entry.read)), std::move(values)}));
    }
    write_record(folder_, file_name, file_limit, format, list_name, std::move(keys));
}

}  // namespace qm::windows
