#include "formats/unit_file.h"

#include <utility>

#include "util/text.h"

namespace qm::formats {

namespace {

void add_words(std::vector<std::string>& list, std::string_view value) {
    // An empty assignment resets the list.
    if (trim(value).empty()) {
        list.clear();
        return;
    }
    for (const std::string& word : split_command_line(value, false)) list.push_back(word);
}

}  // namespace

UnitFile parse_unit_file(std::string_view text) {
    UnitFile unit;
    std::string section;
    std::size_t start = 0;
    std::string pending;  // a line continued with a trailing backslash
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string line = pending + trim(text.substr(start, end - start));
        start = end + 1;
        if (!line.empty() && line.back() == '\\') {
            line.pop_back();
            pending = trim(line) + " ";
            if (start > text.size()) pending.clear();
            else continue;
        }
        pending.clear();
        if (line.empty() || line[0] == '#' || line[0] == ';') {
            if (end == text.size()) break;
            continue;
        }
        if (line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
        } else if (const std::size_t equals = line.find('='); equals != std::string::npos) {
            const std::string key = trim(std::string_view(line).substr(0, equals));
            const std::string value = trim(std::string_view(line).substr(equals + 1));
            if (section == "Unit" && key == "Description") unit.description = value;
            if (section == "Service" && key == "ExecStart" && value.empty()) unit.exec_start.clear();
            if (section == "Service" && key == "ExecStart" && unit.exec_start.empty()) {
                std::size_t skip = 0;
                while (skip < value.size() && std::string_view("@-:+!|").find(value[skip]) != std::string_view::npos)
                    ++skip;
                unit.exec_start = trim(std::string_view(value).substr(skip));
            }
            if (section == "Timer" && key == "Unit") unit.timer_unit = value;
            if (section == "Timer" && is_timer_trigger(key)) {
                if (value.empty()) unit.triggers.clear();
                else unit.triggers.emplace_back(key, value);
            }
            if (section == "Unit" && key.starts_with("X-")) unit.unit_extensions.emplace_back(key, value);
            if (section == "Socket" && key.starts_with("Listen") && unit.listen.empty()) unit.listen = value;
            if (section == "Path" && key == "Unit") unit.path_unit = value;
            if (section == "Path" && key.starts_with("Path") && unit.watched.empty()) unit.watched = value;
            if (section == "Install" && key == "Alias") add_words(unit.aliases, value);
            if (section == "Install" && key == "Also") add_words(unit.also, value);
            if (section == "Unit" && (key == "Requires" || key == "BindsTo")) add_words(unit.needs, value);
            if (section == "Unit" && key == "Wants") add_words(unit.wants, value);
            if (section == "Unit" && (key.starts_with("Condition") || key.starts_with("Assert"))) {
                // An empty assignment resets the conditions.
                if (value.empty()) unit.conditions.clear();
                else unit.conditions.emplace_back(key, value);
            }
            if (section == "Install" && key == "WantedBy") add_words(unit.wanted_by, value);
            if (section == "Install" && key == "RequiredBy") add_words(unit.required_by, value);
            if (section == "Install" && key == "DefaultInstance") unit.default_instance = value;
        }
        if (end == text.size()) break;
    }
    return unit;
}

bool is_timer_trigger(std::string_view key) {
    return key == "OnCalendar" || key == "OnBootSec" || key == "OnStartupSec" || key == "OnActiveSec" ||
           key == "OnUnitActiveSec" || key == "OnUnitInactiveSec";
}

std::string unit_extension(const UnitFile& unit, std::string_view key) {
    for (auto line = unit.unit_extensions.rbegin(); line != unit.unit_extensions.rend(); ++line) {
        if (line->first == key) return line->second;
    }
    return {};
}

std::string template_of(std::string_view unit) {
    const std::size_t at = unit.find('@');
    const std::size_t dot = unit.rfind('.');
    if (at == std::string_view::npos || dot == std::string_view::npos || dot < at || dot == at + 1) {
        return std::string(unit);
    }
    return std::string(unit.substr(0, at + 1)) + std::string(unit.substr(dot));
}

std::string unit_type_of(std::string_view unit) {
    const std::size_t dot = unit.rfind('.');
    return dot == std::string_view::npos ? std::string() : std::string(unit.substr(dot + 1));
}

}  // namespace qm::formats
