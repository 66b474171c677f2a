#include "platforms/windows/record_file.h"

#include <windows.h>

#include <charconv>

#include "os/files.h"

namespace qm::windows {

std::optional<json::JsonValue> read_record(const std::string& folder, std::string_view file_name, std::size_t limit,
                                           int format, std::string_view list) {
    if (folder.empty()) return std::nullopt;
    Result<std::string> text = os::read_file(os::join_path(folder, file_name), limit);
    if (!text || text->size() > limit) return std::nullopt;
    Result<json::JsonValue> record = json::parse(*text);
    if (!record || !record->is_object()) return std::nullopt;
    const json::JsonValue* version = json::get(*record, "format");
    const json::JsonValue* entries = json::get(*record, list);
    if (version == nullptr || !version->is_number() || version->as_number() != format || entries == nullptr ||
        !entries->is_array())
        return std::nullopt;
    return *entries;
}

void write_record(const std::string& folder, std::string_view file_name, std::size_t limit, int format,
                  std::string_view list, json::JsonValue entries) {
    if (folder.empty()) return;
    const std::string text =
        json::write(json::ObjectBuilder().number("format", format).value(list, std::move(entries)).done());
    if (text.size() > limit || !os::create_folders(folder)) return;
    (void)os::write_file_replace(os::join_path(folder, file_name), text);
}

std::optional<std::uint64_t> decimal_of(const json::JsonValue& value) {
    if (!value.is_string() || value.as_string().empty()) return std::nullopt;
    const std::string& text = value.as_string();
    std::uint64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return number;
}

std::uint64_t file_time_now() {
    FILETIME now{};
    ::GetSystemTimeAsFileTime(&now);
    return static_cast<std::uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}

}  // namespace qm::windows
