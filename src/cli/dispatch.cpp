#include "cli/dispatch.h"

#include <memory>
#include <optional>

#include "cli/args.h"
#include "cli/commands.h"
#include "platforms/demo/demo_platform.h"
#include "model/data_folder.h"
#include "engine/engine_context.h"
#include "knowledge/builtin_pack.h"
#include "os/console.h"
#include "os/environment.h"
#include "os/files.h"
#include "cli/computer_platform.h"
#include "util/build_info.h"
#include "os/random_hex.h"

namespace qm::cli {

// A new, empty folder "quillmoor-demo-{12 hex digits}" in the system's
// temporary folder; the demonstration writes nothing anywhere else.
Result<std::string> make_demo_data_folder() {
    const std::string temp = os::temp_folder();
    std::string last_error;
    for (int attempt = 0; attempt < 10; ++attempt) {
        std::optional<std::string> suffix = os::random_hex(6);
        if (!suffix) return fail("The system could not provide random numbers.");
        std::string path = os::join_path(temp, "quillmoor-demo-" + *suffix);
        Result<bool> created = os::create_folder(path);
        if (created && *created) return path;
        if (!created) last_error = created.error().message;
    }
    if (last_error.empty()) last_error = "every name tried was already taken";
    return fail("Could not create a temporary folder for the demonstration in " + temp + ": " + last_error);
}

namespace {

// Where the summaries of the usage lines start.
constexpr std::size_t summary_column = 40;

// The command's usage line of help: "  quillmoor NAME OPERANDS" with its
// summary from the summary column on, or on a line of its own there when the
// usage leaves less than two spaces before it.
void append_usage(std::string& text, const CommandEntry& entry) {
    std::string line = "  quillmoor ";
    line.append(entry.name);
    if (!entry.operands.empty()) line.append(" ").append(entry.operands);
    if (!entry.summary.empty()) {
        if (line.size() + 2 > summary_column) {
            text.append(line).append("\n");
            line.clear();
        }
        line.resize(summary_column, ' ');
        line.append(entry.summary);
    }
    text.append(line).append("\n");
}

}  // namespace

std::string help_text() {
    std::string text = "Quillmoor - see what starts with your computer, and switch it on or off.\n\n";
    text.append("Developed by ").append(build::developer).append(" - a ").append(build::company);
    text.append(" product.\n\nUsage:\n");
    // The program word alone opens the window; dispatch reads no word as serve.
    text.append("  quillmoor                       open the window (same as 'serve')\n");
    for (const CommandEntry& entry : commands()) {
        if (entry.listed) append_usage(text, entry);
    }
    text.append(R"(
Options for any command:
  --demo      use invented data instead of this computer (changes nothing)

NAME is an item's name or its full id (shown by 'list --json').
Changes are never made without --yes when the program says they need a decision,
and items it considers critical are never switched off.
)");
    return text;
}

std::string version_text() {
    std::string text = "Quillmoor ";
    text.append(build::version).append("\n");
    text.append("Developed by ").append(build::developer).append(" - a ").append(build::company);
    text.append(" product.\n");
    text.append(build::copyright).append("\n");
    return text;
}

namespace {

// The commands that write nothing into the data folder.
bool only_reads(const CommandEntry& entry) {
    return entry.name == "list" || entry.name == "running" || entry.name == "apps" || entry.name == "assess" ||
           entry.name == "watch";
}

// A name "quillmoor-demo-{12 hex digits}" in the system's temporary folder
// that nothing has there, for a demonstration that writes nothing.
Result<std::string> unused_demo_data_folder() {
    const std::string temp = os::temp_folder();
    for (int attempt = 0; attempt < 10; ++attempt) {
        std::optional<std::string> suffix = os::random_hex(6);
        if (!suffix) return fail("The system could not provide random numbers.");
        std::string path = os::join_path(temp, "quillmoor-demo-" + *suffix);
        if (os::path_kind(path) == os::PathKind::missing) return path;
    }
    return fail("Could not find an unused name for the demonstration in " + temp + ".");
}

// QUILLMOOR_KEEP_DEMO set to any text keeps the demonstration's folder for a
// look at its history and backups after the run.
bool keep_demo_data_folder() {
    std::optional<std::string> keep = os::get_env("QUILLMOOR_KEEP_DEMO");
    return keep && !keep->empty();
}

// Help, version, unknown command words and missing operands: everything that
// is answered before a platform exists. Gives the exit code when answered.
std::optional<int> answer_before_platform(const ParsedArgs& args, const std::vector<std::string>& arguments,
                                          const os::Streams& streams, const CommandEntry*& entry) {
    const std::string command = args.positionals.empty() ? std::string("serve") : args.positionals[0];

    bool wants_help = command == "help" || args.has_flag("--help");
    for (const std::string& argument : arguments) wants_help = wants_help || argument == "-h";
    if (wants_help) {
        streams.out(help_text());
        return 0;
    }
    if (command == "version" || args.has_flag("--version")) {
        streams.out(version_text());
        return 0;
    }

    // Unknown words and missing operands are refused before anything is built,
    // so that a mistyped command leaves no demonstration folder behind.
    entry = find_command(command);
    if (entry == nullptr) {
        streams.err("Unknown command \"" + command + "\". Try: quillmoor help\n");
        return 2;
    }
    if (std::optional<std::string> option = unknown_option(*entry, args)) {
        streams.err("Unknown option " + printable(*option) + ". Try: quillmoor help\n");
        return 2;
    }
    if (std::optional<std::string> usage = entry->usage_error(args)) {
        streams.err(*usage);
        return 2;
    }
    return std::nullopt;
}

}  // namespace

int run_command(const std::vector<std::string>& arguments, const os::Streams& streams, engine::EngineContext& engine) {
    const ParsedArgs args = split_arguments(arguments);
    const CommandEntry* entry = nullptr;
    if (std::optional<int> answered = answer_before_platform(args, arguments, streams, entry)) return *answered;
    CommandContext context{args, streams, engine};
    return entry->run(context);
}

int dispatch(const std::vector<std::string>& arguments, const os::Streams& streams) {
    const ParsedArgs args = split_arguments(arguments);
    const CommandEntry* entry = nullptr;
    if (std::optional<int> answered = answer_before_platform(args, arguments, streams, entry)) return *answered;

    std::unique_ptr<model::Platform> platform;
    std::optional<model::DataFolder> data_folder;
    // Declared before the engine, so the folder is removed after the engine
    // that uses it is gone; an early end (an interrupt, or the window server
    // ending the process) removes it too.
    std::optional<os::EndOfRunTask> demo_removal;
    // The computer's platform reads the places named by the knowledge in
    // force, whose store belongs to the engine made below from the platform's
    // facts; until the engine exists (nothing scans before it does) the
    // built-in knowledge's places are the answer.
    auto store = std::make_shared<knowledge::KnowledgeStore*>(nullptr);
    if (args.has_flag("--demo")) {
        // A command that only reads finds the demonstration's folder empty
        // whether or not it exists, so it gets an unused name and no folder:
        // making and removing one, and watching for interrupts meanwhile, was
        // a large part of such a short run.
        const bool made_folder = !only_reads(*entry) || keep_demo_data_folder();
        Result<std::string> folder = made_folder ? make_demo_data_folder() : unused_demo_data_folder();
        if (!folder) {
            streams.err(folder.error().message + "\n");
            return 1;
        }
        if (made_folder && !keep_demo_data_folder())
            demo_removal.emplace([path = *folder] { (void)os::remove_tree(path); });
        data_folder = model::data_folder_override(*folder);
        Result<std::unique_ptr<model::Platform>> made =
            demo::make_demo_platform(os::get_env("QUILLMOOR_TEST_XSS").has_value());
        if (!made) {
            streams.err(made.error().message + "\n");
            return 1;
        }
        platform = std::move(*made);
    } else {
        Result<std::unique_ptr<model::Platform>> made = make_computer_platform([store] {
            return *store != nullptr ? (*store)->current()->locations : knowledge::builtin_pack().locations;
        });
        if (!made) {
            streams.err(made.error().message + "\n");
            return 1;
        }
        platform = std::move(*made);
    }

    if (!data_folder) {
        data_folder = model::resolve_data_folder(platform->system_facts());
        if (std::string root = computer_test_root(); !root.empty()) {
            while (root.size() > 1 && root.back() == '/') root.pop_back();
            data_folder->write_folder = root + data_folder->write_folder;
            for (std::string& folder : data_folder->read_folders) folder = root + folder;
        }
    }
    engine::EngineContext engine(std::move(platform), std::move(*data_folder));
    *store = &engine.knowledge();
    CommandContext context{args, streams, engine};
    return entry->run(context);
}

int process_entry(const std::vector<std::string>& arguments) {
    os::ignore_file_size_signal();
    if (arguments.empty() && os::is_sole_console_process()) os::detach_console();
    os::StreamFailures failures;
    int code = dispatch(arguments, os::Streams::standard(failures));
    // Output that never arrived is not success: a listing cut short by a full
    // disk must not look complete to a script that reads the exit code.
    if (failures.any()) {
        (void)os::write_stderr(failures.sentence() + "\n");
        if (code == 0) code = 1;
    }
    return code;
}

}  // namespace qm::cli
