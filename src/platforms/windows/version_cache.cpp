#include "platforms/windows/version_cache.h"

#include <algorithm>
#include <utility>

#include "json/json.h"
#include "platforms/windows/record_file.h"

namespace qm::windows {

namespace {

// {"format":1,"files":[[path, size, last-write time, publisher, description],
// ...]}, the most recently looked up first. The numbers are decimal text:
// file times need all 64 bits, more than a JSON number keeps exactly.
constexpr int format = 1;
constexpr std::string_view list_name = "files";

}  // namespace

VersionCache::VersionCache(std::string folder) : folder_(std::move(folder)) {}

void VersionCache::load() {
    loaded_ = true;
    const std::optional<json::JsonValue> files = read_record(folder_, file_name, file_limit, format, list_name);
    if (!files) return;
    const std::size_t count = std::min(files->as_array().size(), entry_limit);
    for (std::size_t i = 0; i < count; ++i) {
        const json::JsonValue::Array& fields = (*files).as_array()[i].as_array();
        if (fields.size() != 5 || !fields[0].is_string() || !fields[3].is_string() || !fields[4].is_string()) continue;
        const std::optional<std::uint64_t> size = decimal_of(fields[1]);
        const std::optional<std::uint64_t> written = decimal_of(fields[2]);
        if (!size || !written) continue;
        // Earlier entries were looked up more recently.
        entries_.emplace(fields[0].as_string(),
                         Entry{FileStamp{*size, *written}, VersionStrings{fields[3].as_string(), fields[4].as_string()},
                               count - i});
    }
    uses_ = count;
}

const VersionStrings* VersionCache::find(const std::string& lower_path, FileStamp stamp) {
    if (!loaded_) load();
    const auto found = entries_.find(lower_path);
    if (found == entries_.end() || found->second.stamp != stamp) return nullptr;
    found->second.used = ++uses_;
    return &found->second.strings;
}

void VersionCache::store(const std::string& lower_path, FileStamp stamp, const VersionStrings& strings) {
    if (!loaded_) load();
    if (folder_.empty()) return;
    entries_.insert_or_assign(lower_path, Entry{stamp, strings, ++uses_});
    changed_ = true;
}

void VersionCache::save() {
    if (!changed_ || folder_.empty()) return;
    changed_ = false;
    std::vector<const std::pair<const std::string, Entry>*> order;
    order.reserve(entries_.size());
    for (const auto& entry : entries_) order.push_back(&entry);
    std::sort(order.begin(), order.end(), [](const auto* a, const auto* b) { return a->second.used > b->second.used; });

    json::JsonValue files = json::JsonValue::array();
    std::size_t bytes = 64;
    for (const auto* entry : order) {
        if (files.as_array().size() == entry_limit) break;
        const Entry& value = entry->second;
        json::JsonValue fields(json::JsonValue::Array{json::JsonValue(entry->first),
                                                      json::JsonValue(std::to_string(value.stamp.size)),
                                                      json::JsonValue(std::to_string(value.stamp.written)),
                                                      json::JsonValue(value.strings.publisher),
                                                      json::JsonValue(value.strings.description)});
        // An entry that would take the record past its limit is left out.
        std::string written = json::write(fields);
        if (bytes + written.size() + 1 > file_limit) continue;
        bytes += written.size() + 1;
        files.push_back(std::move(fields));
    }
    // The record only saves work: without it the next scan reads the files again.
    write_record(folder_, file_name, file_limit, format, list_name, std::move(files));
}

}  // namespace qm::windows
