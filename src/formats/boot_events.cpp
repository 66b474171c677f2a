#include "formats/boot_events.h"

#include <vector>

#include "formats/sign_in_records.h"
#include "formats/xml_text.h"

namespace qm::formats {
namespace {

constexpr std::string_view provider_name = "Microsoft-Windows-Diagnostics-Performance";

// The text of the EventData's Data element of that Name; empty when absent.
std::string data_value(const std::vector<Element>& data, std::string_view name) {
    for (const Element& element : data) {
        if (attribute(element.whole, "Name") == name) return element_text(element.whole, "Data");
    }
    return {};
}

}  // namespace

std::optional<BootEvent> read_boot_event(std::string_view event_xml) {
    const std::optional<std::string_view> system = first_element(event_xml, "System");
    if (!system) return std::nullopt;
    const std::vector<Element> provider = find_elements(*system, "Provider");
    if (provider.empty() || attribute(provider.front().whole, "Name") != provider_name) return std::nullopt;
    const std::optional<std::uint64_t> id = whole_number(element_text(*system, "EventID"));
    BootEvent event;
    if (id == 100) {
        event.kind = BootEventKind::boot;
    } else if (id == 101) {
        event.kind = BootEventKind::slow_application;
    } else if (id == 103) {
        event.kind = BootEventKind::slow_service;
    } else {
        return std::nullopt;
    }
    if (const std::vector<Element> created = find_elements(*system, "TimeCreated"); !created.empty()) {
        event.time_created = attribute(created.front().whole, "SystemTime").value_or("");
    }
    const std::vector<Element> data = find_elements(first_element(event_xml, "EventData").value_or(""), "Data");
    if (event.kind == BootEventKind::boot) {
        event.boot_ms = whole_number(data_value(data, "BootTime"));
        event.main_path_ms = whole_number(data_value(data, "MainPathBootTime"));
        event.post_boot_ms = whole_number(data_value(data, "BootPostBootTime"));
        return event;
    }
    event.name = data_value(data, "Name");
    event.friendly_name = data_value(data, "FriendlyName");
    event.path = data_value(data, "Path");
    event.total_ms = whole_number(data_value(data, "TotalTime"));
    event.degradation_ms = whole_number(data_value(data, "DegradationTime"));
    return event;
}

}  // namespace qm::formats
