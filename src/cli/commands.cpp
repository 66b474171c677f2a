#include "cli/commands.h"

#include <algorithm>
#include <array>
#include <cctype>

#include "cli/dispatch.h"
#include "model/assessment.h"
#include "os/environment.h"
#include "server/window_server.h"
#include "util/text.h"

namespace qm::cli {

namespace {

using UsageCheck = std::optional<std::string> (*)(const ParsedArgs&);

std::optional<std::string> no_operand(const ParsedArgs&) { return std::nullopt; }

// A --port that is given must be one; a mistyped port would otherwise listen
// on whatever port is free, which a script would not expect.
std::optional<std::string> port_in_range(const ParsedArgs& args) {
    if (!args.has_flag("--port") || is_port_number(args.option_value("--port"))) return std::nullopt;
    return "The port must be a number from 0 to 65535 (0 picks a free one), not \"" +
           printable(args.option_value("--port")) + "\".\n";
}

std::optional<std::string> needs_operand(const ParsedArgs& args, std::string message) {
    if (args.positionals.size() < 2) return message;
    return std::nullopt;
}

// A --level that names no level is refused with the names there are.
std::optional<std::string> list_usage(const ParsedArgs& args) {
    if (!args.has_flag("--level")) return std::nullopt;
    const std::string& level = args.option_value("--level");
    if (model::parse_level(level)) return std::nullopt;
    return "Unknown level \"" + printable(level) + "\". The levels are: safe, low, caution, high, critical, unknown.\n";
}

std::optional<std::string> assess_usage(const ParsedArgs& args) {
    return needs_operand(args, "Which item? quillmoor assess NAME\n");
}
std::optional<std::string> switch_usage(const ParsedArgs& args) {
    return needs_operand(args, "Which item? quillmoor " + args.positional(0) + " NAME\n");
}
std::optional<std::string> add_usage(const ParsedArgs& args) {
    return needs_operand(args, "Which program? quillmoor add NAME-or-PATH\n");
}
std::optional<std::string> remove_usage(const ParsedArgs& args) {
    return needs_operand(args, "Which entry? quillmoor remove NAME\n");
}
std::optional<std::string> restore_usage(const ParsedArgs& args) {
    return needs_operand(args, "Which backup? quillmoor restore FILE-or-NAME\n");
}
std::optional<std::string> plan_usage(const ParsedArgs& args) {
    const std::string& what = args.positional(1);
    if (what == "export" && !args.positional(2).empty() && !args.positional(3).empty()) return std::nullopt;
    if (what == "apply" && !args.positional(2).empty() && args.positional(3).empty()) return std::nullopt;
    return "quillmoor plan export FILE CHANGE...   (CHANGE: disable:NAME, enable:NAME, manual:NAME, on-time:NAME, "
           "later-MINUTES:NAME)\n       quillmoor plan apply FILE [--check] [--yes] [--json]\n";
}
// The folder of lists, and a file for --html when it is given.
std::optional<std::string> report_usage(const ParsedArgs& args) {
    if (args.positional(1).empty() || (args.has_flag("--html") && args.option_value("--html").empty()))
        return "Which folder? quillmoor report DIR [--html FILE] [--json]   (DIR holds one NAME.json per computer)\n";
    return std::nullopt;
}
std::optional<std::string> module_usage(const ParsedArgs& args) {
    return needs_operand(args, "Which arguments file? quillmoor ansible-module ARGS_FILE\n");
}
// SEQ must be a whole number that fits the journal's numbers.
std::optional<std::string> undo_usage(const ParsedArgs& args) {
    const std::string& seq = args.positional(1);
    bool whole = !seq.empty() && seq.size() <= 19 &&
                 std::all_of(seq.begin(), seq.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!whole) return "Which change? quillmoor undo SEQ   (see: quillmoor history)\n";
    return std::nullopt;
}
// A whole number from 1 to `most`, or nothing.
std::optional<std::uint32_t> whole_number(std::string_view text, std::uint32_t most) {
    if (text.empty() || text.size() > 9 || !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const std::uint32_t number = static_cast<std::uint32_t>(std::stoul(std::string(text)));
    if (number == 0 || number > most) return std::nullopt;
    return number;
}

std::optional<std::string> delay_usage(const ParsedArgs& args) {
    if (auto missing = needs_operand(args, "Which item? quillmoor delay NAME --minutes N\n")) return missing;
    if (args.has_flag("--minutes") && args.has_flag("--seconds")) return "Give --minutes or --seconds, not both.\n";
    if (args.has_flag("--minutes") &&
        !whole_number(args.option_value("--minutes"), model::longest_later_seconds / 60)) {
        return "The minutes must be a whole number from 1 to 1440, not \"" + printable(args.option_value("--minutes")) +
               "\".\n";
    }
    if (args.has_flag("--seconds") && !whole_number(args.option_value("--seconds"), model::longest_later_seconds)) {
        return "The seconds must be a whole number from 1 to 86400, not \"" + printable(args.option_value("--seconds")) +
               "\".\n";
    }
    return std::nullopt;
}

std::optional<std::string> stagger_usage(const ParsedArgs& args) {
    if (args.positionals.size() < 3) return "Which programs? quillmoor stagger NAME NAME... [--step S]\n";
    if (args.has_flag("--step") && !whole_number(args.option_value("--step"), 3600)) {
        return "The step must be a whole number of seconds from 1 to 3600, not \"" +
               printable(args.option_value("--step")) + "\".\n";
    }
    const std::uint64_t last = std::uint64_t{stagger_step_seconds(args)} * (args.positionals.size() - 1);
    if (last > model::longest_later_seconds) return "The last program would start more than 24 hours after sign-in.\n";
    return std::nullopt;
}

std::optional<std::string> knowledge_usage(const ParsedArgs& args) {
    const std::string& sub = args.positional(1);
    if (sub != "status" && sub != "update" && sub != "import" && sub != "rollback" && sub != "export") {
        return "Try: quillmoor knowledge status | update | import FILE | rollback | export\n";
    }
    if (sub == "import" && args.positionals.size() < 3) {
        return "Which file? quillmoor knowledge import FILE\n";
    }
    return std::nullopt;
}

int serve_window(CommandContext& context) {
    WindowStart start = window_start(context.args);
    return server::run_window_server(context.engine, start.port, start.open_browser, context.streams);
}

int print_help(CommandContext& context) {
    context.streams.out(help_text());
    return 0;
}

int print_version(CommandContext& context) {
    context.streams.out(version_text());
    return 0;
}

// Help lists the commands in this order.
constexpr std::array<CommandEntry, 25> command_table = {{
    {.name = "serve", .operands = "[--no-browser] [--port N]", .usage_error = port_in_range, .run = serve_window},
    {.name = "open",
     .listed = false,
     .more_options = "[--no-browser] [--port N]",
     .usage_error = port_in_range,
     .run = serve_window},
    {.name = "list",
     .operands = "[--filter TEXT] [--on|--off] [--level LEVEL] [--by-impact] [--changes [--ack]] [--json]",
     .usage_error = list_usage,
     .run = run_list},
    {.name = "running",
     .operands = "[--all] [--json]",
     .summary = "programs running now that do not start with the computer",
     .usage_error = no_operand,
     .run = run_running},
    {.name = "apps",
     .operands = "[--all] [--json]",
     .summary = "installed programs that do not start with the computer",
     .usage_error = no_operand,
     .run = run_apps},
    {.name = "assess",
     .operands = "NAME",
     .summary = "what switching it off would do, and why",
     .usage_error = assess_usage,
     .run = run_assess},
    {.name = "disable",
     .operands = "NAME [--yes] [--stop-now] [--manual] [--and-cause]",
     .usage_error = switch_usage,
     .run = run_disable},
    {.name = "enable", .operands = "NAME [--yes]", .usage_error = switch_usage, .run = run_enable},
    {.name = "delay",
     .operands = "NAME [--minutes N|--seconds S] [--yes]",
     .summary = "start it later instead of switching it off",
     .usage_error = delay_usage,
     .run = run_delay},
    {.name = "stagger",
     .operands = "NAME NAME... [--step S] [--yes]",
     .summary = "start sign-in programs one after another",
     .usage_error = stagger_usage,
     .run = run_stagger},
    {.name = "add",
     .operands = "PROGRAM [--name N] [--mode MODE] [--args TEXT] [--workdir DIR] [--yes]",
     .usage_error = add_usage,
     .run = run_add},
    {.name = "remove",
     .operands = "NAME [--yes]",
     .summary = "remove an entry Quillmoor created",
     .usage_error = remove_usage,
     .run = run_remove},
    {.name = "backup", .operands = "[--out FILE] [--label TEXT]", .usage_error = no_operand, .run = run_backup},
    {.name = "backups", .summary = "list the saved backups", .usage_error = no_operand, .run = run_backups},
    {.name = "restore",
     .operands = "FILE|NAME [--apply] [--yes] [--all]",
     .summary = "show what a backup would change; --apply does it",
     .usage_error = restore_usage,
     .run = run_restore},
    {.name = "knowledge",
     .operands = "status|update [--url U]|import FILE|rollback|export",
     .summary = "the rules Quillmoor judges items by, and how to update them",
     .usage_error = knowledge_usage,
     .run = run_knowledge},
    {.name = "doctor",
     .summary = "check that every place Quillmoor reads still works here",
     .usage_error = no_operand,
     .run = run_doctor},
    {.name = "history", .usage_error = no_operand, .run = run_history},
    {.name = "undo", .operands = "SEQ", .more_options = "--yes", .usage_error = undo_usage, .run = run_undo},
    {.name = "plan",
     .operands = "export FILE CHANGE... | apply FILE [--check] [--yes] [--json]",
     .summary = "write a reviewed plan for other computers, or apply one here",
     .usage_error = plan_usage,
     .run = run_plan},
    {.name = "ansible-module",
     .operands = "ARGS_FILE",
     .summary = "apply a plan as a module of a configuration tool; prints one JSON object",
     .usage_error = module_usage,
     .run = run_ansible_module},
    {.name = "report",
     .operands = "DIR [--html FILE] [--json]",
     .summary = "one view of what starts on many computers, from their lists in DIR",
     .usage_error = report_usage,
     .run = run_report},
    {.name = "watch",
     .operands = "[--json]",
     .summary = "show changes to what starts as they happen",
     .usage_error = no_operand,
     .run = run_watch},
    // The dispatcher answers help and version before it builds a platform;
    // they stand here so that the table names every command word.
    {.name = "help", .listed = false, .usage_error = no_operand, .run = print_help},
    {.name = "version", .usage_error = no_operand, .run = print_version},
}};

}  // namespace

std::span<const CommandEntry> commands() { return command_table; }

std::uint32_t delay_seconds(const ParsedArgs& args) {
    if (args.has_flag("--minutes")) return whole_number(args.option_value("--minutes"), model::longest_later_seconds / 60).value_or(0) * 60;
    if (args.has_flag("--seconds")) return whole_number(args.option_value("--seconds"), model::longest_later_seconds).value_or(0);
    return 0;
}

std::uint32_t stagger_step_seconds(const ParsedArgs& args) {
    if (!args.has_flag("--step")) return model::default_stagger_step_seconds;
    return whole_number(args.option_value("--step"), 3600).value_or(model::default_stagger_step_seconds);
}

const CommandEntry* find_command(std::string_view word) {
    for (const CommandEntry& entry : command_table) {
        if (entry.name == word) return &entry;
    }
    return nullptr;
}

namespace {

// Whether `text` names the option: "--name" standing alone, not as the start
// of a longer word.
bool names_option(std::string_view text, std::string_view option) {
    for (std::size_t at = text.find(option); at != std::string_view::npos; at = text.find(option, at + 1)) {
        const std::size_t end = at + option.size();
        const bool word_ends =
            end == text.size() || !(std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '-');
        if (word_ends && (at == 0 || text[at - 1] != '-')) return true;
    }
    return false;
}

}  // namespace

std::optional<std::string> unknown_option(const CommandEntry& entry, const ParsedArgs& args) {
    for (const auto& [name, value] : args.options) {
        if (name == "--demo" || name == "--help" || name == "--version") continue;
        if (!names_option(entry.operands, name) && !names_option(entry.more_options, name)) return name;
    }
    return std::nullopt;
}

std::string printable(std::string_view text) { return replace_control_characters(text, false); }

WindowStart window_start(const ParsedArgs& args) {
    WindowStart start;
    start.port = parse_port(args.option_value("--port"));
    start.open_browser = !args.has_flag("--no-browser") && !os::get_env("QUILLMOOR_NO_BROWSER").has_value();
    return start;
}

}  // namespace qm::cli
