#include "formats/task_definition.h"

#include <optional>

#include "formats/xml_text.h"

namespace qm::formats {
namespace {

// The text of the first `inner` element inside the first `outer` element.
std::string text_inside(std::string_view document, std::string_view outer, std::string_view inner) {
    const std::optional<std::string_view> content = formats::first_element(document, outer);
    return content ? formats::element_text(*content, inner) : std::string();
}

bool is_false(std::string_view value) { return value == "false" || value == "0"; }

// Whether any trigger of that kind is switched on: a trigger with its own
// Enabled set to false never fires, as some tasks ship theirs.
bool has_live_trigger(std::string_view document, std::string_view kind) {
    for (const formats::Element& trigger : formats::find_elements(document, kind)) {
        if (!is_false(formats::element_text(trigger.content, "Enabled"))) return true;
    }
    return false;
}

// The Delay of the first trigger of that kind that is switched on.
std::string live_trigger_delay(std::string_view document, std::string_view kind) {
    for (const formats::Element& trigger : formats::find_elements(document, kind)) {
        if (!is_false(formats::element_text(trigger.content, "Enabled")))
            return formats::element_text(trigger.content, "Delay");
    }
    return {};
}

}  // namespace

TaskDefinition read_task_definition(std::string_view document) {
    TaskDefinition task;
    task.logon_trigger = has_live_trigger(document, "LogonTrigger");
    task.boot_trigger = has_live_trigger(document, "BootTrigger");
    // Triggers have an Enabled of their own; only the one in Settings switches
    // the whole task. The value is an XML boolean, so "0" is off as well.
    const std::string enabled = text_inside(document, "Settings", "Enabled");
    task.enabled = !is_false(enabled);
    task.command = text_inside(document, "Exec", "Command");
    task.arguments = text_inside(document, "Exec", "Arguments");
    task.author = formats::element_text(document, "Author");
    task.user_id = text_inside(document, "Principal", "UserId");
    task.run_level = text_inside(document, "Principal", "RunLevel");
    task.description = formats::element_text(document, "Description");
    task.uri = formats::element_text(document, "URI");
    task.source = text_inside(document, "RegistrationInfo", "Source");
    task.logon_delay = live_trigger_delay(document, "LogonTrigger");
    return task;
}

std::string shown_description(std::string_view description) {
    if (description.starts_with('$') || description.starts_with('@')) return {};
    return std::string(description);
}

}  // namespace qm::formats

namespace qm::formats {

std::optional<std::uint32_t> duration_seconds(std::string_view text) {
    if (!text.starts_with('P') || text.size() < 3) return std::nullopt;
    std::uint64_t total = 0;
    bool in_time = false;
    bool any = false;
    std::uint64_t number = 0;
    bool digits = false;
    // Each unit may appear once, in its order: D, then after T: H, M, S.
    int last_unit = -1;
    for (std::size_t at = 1; at < text.size(); ++at) {
        const char c = text[at];
        if (c >= '0' && c <= '9') {
            number = number * 10 + static_cast<std::uint64_t>(c - '0');
            if (number > 0xFFFFFFFFull) return std::nullopt;
            digits = true;
            continue;
        }
        if (c == 'T') {
            if (in_time || digits) return std::nullopt;
            in_time = true;
            continue;
        }
        int unit = -1;
        std::uint64_t scale = 0;
        if (!in_time && c == 'D') unit = 0, scale = 86400;
        if (in_time && c == 'H') unit = 1, scale = 3600;
        if (in_time && c == 'M') unit = 2, scale = 60;
        if (in_time && c == 'S') unit = 3, scale = 1;
        if (unit <= last_unit || !digits) return std::nullopt;
        total += number * scale;
        if (total > 0xFFFFFFFFull) return std::nullopt;
        last_unit = unit;
        number = 0;
        digits = false;
        any = true;
    }
    if (digits || !any || (in_time && last_unit < 1)) return std::nullopt;
    return static_cast<std::uint32_t>(total);
}

}  // namespace qm::formats
