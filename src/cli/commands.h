// The command table: each command word with its line of help, its operand
// check and its handler. Dispatch and help are driven by this one table.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "cli/args.h"
#include "os/streams.h"
#include "engine/engine_context.h"

namespace qm::cli {

// Everything a command receives; the engine context lives for the whole run.
struct CommandContext {
    const ParsedArgs& args;
    const os::Streams& streams;
    engine::EngineContext& engine;
};

struct CommandEntry {
    std::string_view name;
    // What help shows after "quillmoor NAME" on the command's line: its
    // operands and options, then its summary (either may be empty).
    std::string_view operands = {};
    std::string_view summary = {};
    // Whether help lists the command; an alias and help itself are not.
    bool listed = true;
    // Options it takes beyond those `operands` names (help does not show them).
    std::string_view more_options = {};
    // The usage message (exit code 2) when a required operand is missing.
    std::optional<std::string> (*usage_error)(const ParsedArgs& args);
    int (*run)(CommandContext& context);
};

// Every command of the table, in the order of its lines in help.
[[nodiscard]] std::span<const CommandEntry> commands();

// The entry for an exact, case-sensitive command word, or nullptr.
[[nodiscard]] const CommandEntry* find_command(std::string_view word);

// The first option of `args` that the command does not take (each "--word"
// its operands or more_options name, and --demo, --help and --version), or
// nothing when it takes them all.
[[nodiscard]] std::optional<std::string> unknown_option(const CommandEntry& entry, const ParsedArgs& args);

// How `serve` and `open` start: the port (0 = any free port) and whether the
// browser is opened.
struct WindowStart {
    std::uint16_t port = 0;
    bool open_browser = true;
};
[[nodiscard]] WindowStart window_start(const ParsedArgs& args);

// Handlers, by the file that holds them.
// The seconds a delay asks for (--minutes N or --seconds S), 0 when it names
// none; and the step of a stagger (--step S, else 30). Their usage checks
// have refused anything else.
[[nodiscard]] std::uint32_t delay_seconds(const ParsedArgs& args);
[[nodiscard]] std::uint32_t stagger_step_seconds(const ParsedArgs& args);

// The item a change command acts on: named exactly (its id, name or short
// name, without regard to ASCII case), never by part of its name, which only
// earns a question.
[[nodiscard]] Result<model::StartupItem> find_exact_item(CommandContext& context, const std::string& query);

int run_list(CommandContext& context);
int run_running(CommandContext& context);
int run_apps(CommandContext& context);
int run_assess(CommandContext& context);
int run_doctor(CommandContext& context);
int run_knowledge(CommandContext& context);
int run_disable(CommandContext& context);
int run_delay(CommandContext& context);
int run_stagger(CommandContext& context);
int run_enable(CommandContext& context);
int run_add(CommandContext& context);
int run_remove(CommandContext& context);
int run_backup(CommandContext& context);
int run_backups(CommandContext& context);
int run_restore(CommandContext& context);
int run_history(CommandContext& context);
int run_undo(CommandContext& context);
int run_plan(CommandContext& context);
int run_ansible_module(CommandContext& context);
int run_report(CommandContext& context);
int run_watch(CommandContext& context);

// Text helpers shared by the commands' tables.
// The text on one line (control characters and line breaks replaced by
// U+FFFD), cut to `limit` characters ("…" last when cut) and padded with
// spaces to `width` characters.
[[nodiscard]] std::string cell(std::string_view text, std::size_t limit, std::size_t width);
// Text from the computer, a backup or a knowledge file on one line: control
// characters and line breaks replaced by U+FFFD, whatever the stream is.
[[nodiscard]] std::string printable(std::string_view text);

}  // namespace qm::cli
