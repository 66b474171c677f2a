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
    return task;
}

std::string shown_description(std::string_view description) {
    if (description.starts_with('$') || description.starts_with('@')) return {};
    return std::string(description);
}

}  // namespace qm::formats
