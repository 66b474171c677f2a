// The command table: each command word with its operand check and its
// handler. Dispatch and help are driven by this one table.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "cli/args.h"
#include "cli/streams.h"
#include "platform/platform.h"

namespace qm::cli {

// Everything a command receives; the platform and the data folder live for
// the whole run.
struct CommandContext {
    const ParsedArgs& args;
    const Streams& streams;
    Platform& platform;
    std::string data_folder;  // the demonstration's fresh folder; empty until the data folder exists
    bool demo = false;
};

struct CommandEntry {
    std::string_view name;
    // The usage message (exit code 2) when a required operand is missing.
    std::optional<std::string> (*usage_error)(const ParsedArgs& args);
    int (*run)(CommandContext& context);
};

// The entry for an exact, case-sensitive command word, or nullptr.
[[nodiscard]] const CommandEntry* find_command(std::string_view word);

// How `serve` and `open` start: the port (0 = any free port) and whether the
// browser is opened.
struct WindowStart {
    std::uint16_t port = 0;
    bool open_browser = true;
};
[[nodiscard]] WindowStart window_start(const ParsedArgs& args);

}  // namespace qm::cli
