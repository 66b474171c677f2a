// The command line split into positionals and options, once, left to right.
// Fourteen options take the following argument as their value whatever it looks
// like; every other "--word" is a flag, and an unknown one is never an error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qm::cli {

struct ParsedArgs {
    std::vector<std::string> positionals;                      // command word, operand, ...
    std::vector<std::pair<std::string, std::string>> options;  // (name, value); value empty for flags

    [[nodiscard]] bool has_flag(std::string_view name) const;
    // The value of the first pair with that name, or the empty text.
    [[nodiscard]] const std::string& option_value(std::string_view name) const;
    // The positional at `index`, or the empty text.
    [[nodiscard]] const std::string& positional(std::size_t index) const;
};

[[nodiscard]] bool is_value_option(std::string_view name);

[[nodiscard]] ParsedArgs split_arguments(const std::vector<std::string>& arguments);

// The --port value as an unsigned 16-bit decimal number with an optional
// leading "+"; empty, malformed or out of range gives 0 (any free port).
[[nodiscard]] std::uint16_t parse_port(std::string_view text);

// Whether the text is a port parse_port reads as itself: decimal digits with
// an optional leading "+", at most 65535.
[[nodiscard]] bool is_port_number(std::string_view text);

}  // namespace qm::cli
