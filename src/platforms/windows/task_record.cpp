#include "platforms/windows/task_record.h"

#include <array>
#include <utility>

#include "json/json.h"
#include "platforms/windows/record_file.h"
#include "util/text.h"

namespace qm::windows {

namespace {

// {"format":1,"files":[[path, size, last-write time, time read, definition],
// ...]}; the
// definition is null for a file that holds none, else [sign-in trigger, boot
// trigger, switched on, command, arguments, author, account, run level,
// description, path named in it, source, sign-in delay].
constexpr int format = 2;
constexpr std::string_view list_name = "files";
constexpr std::size_t text_fields = 9;

std::array<std::string formats::TaskDefinition::*, text_fields> text_members() {
    return {&formats::TaskDefinition::command,    &formats::TaskDefinition::arguments,
            &formats::TaskDefinition::author,     &formats::TaskDefinition::user_id,
            &formats::TaskDefinition::run_level,  &formats::TaskDefinition::description,
            &formats::TaskDefinition::uri,        &formats::TaskDefinition::source,
            &formats::TaskDefinition::logon_delay};
}

std::optional<TaskRecord::Kept> kept_of(const json::JsonValue& value) {
    if (value.is_null()) return TaskRecord::Kept();
    const json::JsonValue::Array& parts = value.as_array();
    if (parts.size() != 3 + text_fields || !parts[0].is_bool() || !parts[1].is_bool() || !parts[2].is_bool())
        return std::nullopt;
    formats::TaskDefinition definition;
    definition.logon_trigger = parts[0].as_bool();
    definition.boot_trigger = parts[1].as_bool();
    definition.enabled = parts[2].as_bool();
    const auto members = text_members();
    for (std::size_t i = 0; i < text_fields; ++i) {
        if (!parts[3 + i].is_string()) return std::nullopt;
        definition.*members[i] = parts[3 + i].as_string();
    }
    return TaskRecord::Kept(std::move(definition));
}

json::JsonValue value_of(const TaskRecord::Kept& kept) {
    if (!kept) return json::JsonValue();
    json::JsonValue::Array parts = {json::JsonValue(kept->logon_trigger), json::JsonValue(kept->boot_trigger),
                                    json::JsonValue(kept->enabled)};
    for (std::string formats::TaskDefinition::*member : text_members()) parts.emplace_back(*kept.*member);
    return json::JsonValue(std::move(parts));
}

// Text that is not UTF-8 would come back from the record otherwise than it
// went in.
bool keeps_exactly(const TaskRecord::Kept& kept) {
    if (!kept) return true;
    for (std::string formats::TaskDefinition::*member : text_members()) {
        if (!is_valid_utf8(*kept.*member)) return false;
    }
    return true;
}

}  // namespace

TaskRecord::TaskRecord(std::string folder, std::uint64_t now) : folder_(std::move(folder)), now_(now) {}

void TaskRecord::load() {
    loaded_ = true;
    const std::optional<json::JsonValue> files = read_record(folder_, file_name, file_limit, format, list_name);
    if (!files) return;
    for (const json::JsonValue& fields : files->as_array()) {
        if (entries_.full()) break;
        const json::JsonValue::Array& parts = fields.as_array();
        if (parts.size() != 5 || !parts[0].is_string()) continue;
        const std::optional<std::uint64_t> size = decimal_of(parts[1]);
        const std::optional<std::uint64_t> written = decimal_of(parts[2]);
        const std::optional<std::uint64_t> read = decimal_of(parts[3]);
        std::optional<Kept> kept = kept_of(parts[4]);
        if (!size || !written || !read || !kept) continue;
        entries_.add_read(parts[0].as_string(), {FileStamp{*size, *written}, *read, std::move(*kept), false});
    }
}

const TaskRecord::Kept* TaskRecord::find(const std::string& lower_path, FileStamp stamp) {
    if (!loaded_) load();
    return entries_.find(lower_path, stamp, now_);
}

void TaskRecord::store(const std::string& lower_path, FileStamp stamp, const Kept& kept) {
    if (!loaded_) load();
    if (folder_.empty()) return;
    entries_.store(lower_path, stamp, now_, kept,
                   settled(stamp.written, now_) && keeps_exactly(kept) && is_valid_utf8(lower_path));
}

void TaskRecord::save() {
    if (!loaded_ || folder_.empty()) return;
    if (!entries_.settle()) return;

    json::JsonValue files = json::JsonValue::array();
    for (const auto& [path, entry] : entries_.all()) {
        files.push_back(json::JsonValue(
            json::JsonValue::Array{json::JsonValue(path), json::JsonValue(std::to_string(entry.stamp.size)),
                                   json::JsonValue(std::to_string(entry.stamp.written)),
                                   json::JsonValue(std::to_string(entry.read)), value_of(entry.kept)}));
    }
    write_record(folder_, file_name, file_limit, format, list_name, std::move(files));
}

}  // namespace qm::windows
