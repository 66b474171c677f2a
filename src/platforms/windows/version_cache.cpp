#include "platforms/windows/version_cache.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "json/json.h"
#include "os/files.h"

namespace qm::windows {

namespace {

// {"format":1,"files":[[path, size, last-write time, publisher, description],
// ...]}, the most recently looked up first. The numbers are decimal text:
// file times need all 64 bits, more than a JSON number keeps exactly.
constexpr int format = 1;

std::optional<std::uint64_t> number_of(const json::JsonValue& value) {
    if (!value.is_string() || value.as_string().empty()) return std::nullopt;
    const std::string& text = value.as_string();
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return number;
}

}  // namespace

VersionCache::VersionCache(std::string folder) : folder_(std::move(folder)) {}

void VersionCache::load() {
    loaded_ = true;
    if (folder_.empty()) return;
    Result<std::string> text = os::read_file(os::join_path(folder_, file_name), file_limit);
    if (!text || text->size() > file_limit) return;
    Result<json::JsonValue> record = json::parse(*text);
    if (!record || !record->is_object()) return;
    const json::JsonValue* files = nullptr;
    bool known_format = false;
    for (const json::JsonValue::Member& member : record->as_object()) {
        if (member.first == "format") known_format = member.second.is_number() && member.second.as_number() == format;
        if (member.first == "files" && member.second.is_array()) files = &member.second;
    }
    if (!known_format || files == nullptr) return;
    const std::size_t count = std::min(files->as_array().size(), entry_limit);
    for (std::size_t i = 0; i < count; ++i) {
        const json::JsonValue::Array& fields = (*files).as_array()[i].as_array();
        if (fields.size() != 5 || !fields[0].is_string() || !fields[3].is_string() || !fields[4].is_string()) continue;
        const std::optional<std::uint64_t> size = number_of(fields[1]);
        const std::optional<std::uint64_t> written = number_of(fields[2]);
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
    const json::JsonValue record =
        json::ObjectBuilder().number("format", format).value("files", std::move(files)).done();
    // The record only saves work: without it the next scan reads the files again.
    if (!os::create_folders(folder_)) return;
    (void)os::write_file_replace(os::join_path(folder_, file_name), json::write(record));
}

}  // namespace qm::windows
