#include "cli/commands.h"

#include <algorithm>
#include <array>

#include "cli/dispatch.h"
#include "os/environment.h"
#include "server/window_server.h"

namespace qm::cli {

namespace {

using UsageCheck = std::optional<std::string> (*)(const ParsedArgs&);

std::optional<std::string> no_operand(const ParsedArgs&) { return std::nullopt; }

std::optional<std::string> needs_operand(const ParsedArgs& args, std::string message) {
    if (args.positionals.size() < 2) return message;
    return std::nullopt;
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
// SEQ must be a whole number that fits the journal's numbers.
std::optional<std::string> undo_usage(const ParsedArgs& args) {
    const std::string& seq = args.positional(1);
    bool whole = !seq.empty() && seq.size() <= 19 &&
                 std::all_of(seq.begin(), seq.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (!whole) return "Which change? quillmoor undo SEQ   (see: quillmoor history)\n";
    return std::nullopt;
}
std::optional<std::string> knowledge_usage(const ParsedArgs& args) {
    const std::string& sub = args.positional(1);
    if (sub != "status" && sub != "update" && sub != "import" && sub != "rollback" &&
        sub != "export") {
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

constexpr std::array<CommandEntry, 19> command_table = {{
    {"serve", no_operand, serve_window},
    {"open", no_operand, serve_window},
    {"list", no_operand, run_list},
    {"running", no_operand, run_running},
    {"apps", no_operand, run_apps},
    {"assess", assess_usage, run_assess},
    {"disable", switch_usage, run_disable},
    {"enable", switch_usage, run_enable},
    {"add", add_usage, run_add},
    {"remove", remove_usage, run_remove},
    {"backup", no_operand, run_backup},
    {"backups", no_operand, run_backups},
    {"restore", restore_usage, run_restore},
    {"knowledge", knowledge_usage, run_knowledge},
    {"doctor", no_operand, run_doctor},
    {"history", no_operand, run_history},
    {"undo", undo_usage, run_undo},
    // The dispatcher answers help and version before it builds a platform;
    // they stand here so that the table names every command word.
    {"help", no_operand, print_help},
    {"version", no_operand, print_version},
}};

}  // namespace

const CommandEntry* find_command(std::string_view word) {
    for (const CommandEntry& entry : command_table) {
        if (entry.name == word) return &entry;
    }
    return nullptr;
}

WindowStart window_start(const ParsedArgs& args) {
    WindowStart start;
    start.port = parse_port(args.option_value("--port"));
    start.open_browser =
        !args.has_flag("--no-browser") && !os::get_env("QUILLMOOR_NO_BROWSER").has_value();
    return start;
}

}  // namespace qm::cli
