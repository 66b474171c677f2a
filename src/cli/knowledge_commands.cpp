// knowledge status | update | import FILE | rollback | export
#include "cli/commands.h"
#include "knowledge/builtin_pack.h"
#include "os/files.h"
#include "util/decode.h"

namespace qm::cli {

namespace {

int knowledge_status(CommandContext& context) {
    std::shared_ptr<const knowledge::LoadedKnowledge> state = context.engine.knowledge().current();
    const knowledge::KnowledgeSettings& settings = state->settings;

    std::string text = "Built-in knowledge:  " + state->builtin->version + " (" +
                       std::to_string(state->builtin->rule_count()) + " rules)\n";
    if (state->pack_version.empty()) {
        text += "Installed update:    none\n";
    } else {
        text += "Installed update:    " + state->pack_version + " (published " + state->pack_published + ") " +
                state->pack_description + "\n";
    }
    text += "Your own rules:      " + std::to_string(state->local_rules) + "\n";
    text += "Update address:      " + settings.address() + "\n";
    text += std::string("Check at start-up:   ") + (settings.auto_check ? "yes" : "no (only when you ask)") + "\n";
    text += "Last checked:        " + (settings.last_check.empty() ? std::string("never") : settings.last_check) + "\n";
    context.streams.out(text);
    for (const std::string& note : state->notes) context.streams.out("note: " + note + "\n");
    return 0;
}

int knowledge_update(CommandContext& context) {
    std::string address = context.args.option_value("--url");
    if (address.empty()) address = context.engine.knowledge().current()->settings.address();
    context.streams.out("Looking for a knowledge update at " + address + " ...\n");
    Result<std::string> report = context.engine.knowledge().update(address);
    if (!report) {
        context.streams.err(report.error().message + "\n");
        return 1;
    }
    context.streams.out(*report + "\n");
    return 0;
}

int knowledge_import(CommandContext& context) {
    const std::string& file = context.args.positional(2);
    // Read no further than one byte past the largest pack, so that a huge
    // file (or an endless one such as a device) is refused without being held.
    Result<std::string> bytes = os::read_file(file, knowledge::knowledge_pack_max_bytes);
    if (!bytes) {
        // The reader's message already names the file and the system's reason.
        std::string detail = bytes.error().message;
        if (detail.starts_with("Could not read ")) detail.erase(0, 15);
        context.streams.err("Cannot read " + detail + "\n");
        return 1;
    }
    if (bytes->size() > knowledge::knowledge_pack_max_bytes) {
        context.streams.err(std::string(knowledge::knowledge_pack_too_large) + "\n");
        return 1;
    }
    Result<knowledge::KnowledgePack> installed = context.engine.knowledge().install(decode_text(*bytes));
    if (!installed) {
        context.streams.err(installed.error().message + "\n");
        return 1;
    }
    // A pack that is not newer than the built-in one is kept but not used.
    const std::string in_force = context.engine.knowledge().current()->pack_version;
    const std::string detail = in_force == installed->version
                                   ? "now in force"
                                   : "kept, but not in force: the built-in knowledge " +
                                         knowledge::builtin_pack().version + " is as new or newer";
    context.streams.out("Installed knowledge " + installed->version + " (" + detail + ").\n");
    return 0;
}

int knowledge_rollback(CommandContext& context) {
    Result<std::string> result = context.engine.knowledge().rollback();
    if (!result) {
        context.streams.err(result.error().message + "\n");
        return 1;
    }
    context.streams.out(*result + "\n");
    return 0;
}

}  // namespace

int run_knowledge(CommandContext& context) {
    const std::string& sub = context.args.positional(1);
    if (sub == "status") return knowledge_status(context);
    if (sub == "update") return knowledge_update(context);
    if (sub == "import") return knowledge_import(context);
    if (sub == "rollback") return knowledge_rollback(context);
    context.streams.out_data(knowledge::builtin_pack_text());  // export: exactly the built-in text
    return 0;
}

}  // namespace qm::cli
