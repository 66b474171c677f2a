#include "cli/args.h"

#include <array>

namespace qm::cli {

namespace {

constexpr std::array<std::string_view, 14> value_options = {"--filter", "--level", "--port",  "--name",    "--mode",
                                                            "--args",   "--out",   "--label", "--workdir", "--url", "--minutes", "--seconds", "--step",
                                                            "--html"};

const std::string empty_text;

bool begins_with_dashes(std::string_view argument) { return argument.starts_with("--"); }

}  // namespace

bool is_value_option(std::string_view name) {
    for (std::string_view option : value_options) {
        if (option == name) return true;
    }
    return false;
}

bool ParsedArgs::has_flag(std::string_view name) const {
    for (const auto& option : options) {
        if (option.first == name) return true;
    }
    return false;
}

const std::string& ParsedArgs::option_value(std::string_view name) const {
    for (const auto& option : options) {
        if (option.first == name) return option.second;
    }
    return empty_text;
}

const std::string& ParsedArgs::positional(std::size_t index) const {
    return index < positionals.size() ? positionals[index] : empty_text;
}

ParsedArgs split_arguments(const std::vector<std::string>& arguments) {
    ParsedArgs parsed;
    std::size_t i = 0;
    while (i < arguments.size()) {
        const std::string& argument = arguments[i];
        if (!begins_with_dashes(argument)) {
            parsed.positionals.push_back(argument);
            i += 1;
        } else if (is_value_option(argument) && i + 1 < arguments.size()) {
            parsed.options.emplace_back(argument, arguments[i + 1]);
            i += 2;
        } else {
            parsed.options.emplace_back(argument, std::string());
            i += 1;
        }
    }
    return parsed;
}

std::uint16_t parse_port(std::string_view text) {
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return 0;
    std::uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + static_cast<std::uint32_t>(c - '0');
        if (value > 65535) return 0;
    }
    return static_cast<std::uint16_t>(value);
}

bool is_port_number(std::string_view text) {
    if (text.starts_with('+')) text.remove_prefix(1);
    if (text.empty()) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    return parse_port(text) != 0 || text.find_first_not_of('0') == std::string_view::npos;
}

}  // namespace qm::cli
