// disable, enable, add, remove, backup, backups, restore, history and undo:
// thin front ends over the engine's plans, backups and journal.
#include <algorithm>

#include "cli/commands.h"
#include "engine/backups.h"
#include "engine/change_effects.h"
#include "engine/change_lock.h"
#include "engine/journal.h"
#include "engine/plans.h"
#include "engine/undo.h"
#include "os/files.h"
#include "os/text_file.h"
#include "util/text.h"

namespace qm::cli {

namespace {

std::string trimmed_line(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text + "\n";
}

// What a change waiting for a decision would do: the change, its level with
// the effect, each reason, and what --yes does.
std::string plan_text(const engine::ChangeResult& result) {
    const engine::PlannedChange& plan = result.plan;
    const std::string name = printable(plan.item ? plan.item->name : plan.create ? plan.create->name : plan.name);
    std::string text = "  Plan: " + engine::action_text(plan.action, plan.unknown_action) + " \"" + name + "\"";
    if (plan.item) text += " (" + printable(plan.item->kind_label) + ")";
    text += "\n    Level " + std::string(model::level_name(plan.risk.level)) + " (" +
            std::string(model::word_text(plan.risk.confidence)) + " confidence): " + printable(plan.risk.effect) + "\n";
    for (const std::string& reason : plan.risk.reasons) text += "      - " + printable(reason) + "\n";
    std::string done = "makes the change";
    if (plan.action == model::ChangeAction::enable) done = "switches it on";
    if (plan.action == model::ChangeAction::disable) done = "switches it off";
    if (plan.action == model::ChangeAction::create) done = "makes the entry";
    if (plan.action == model::ChangeAction::remove) done = "deletes the entry";
    if (plan.action == model::ChangeAction::later) done = "makes it start later";
    if (plan.action == model::ChangeAction::when_needed) done = "makes it start only when needed";
    if (plan.action == model::ChangeAction::on_time) done = "makes it start as before";
    text += "    With --yes, Quillmoor saves an automatic backup first and then " + done + ".\n";
    if (plan.suggested && plan.item) {
        const std::string quoted = "\"" + name + "\"";
        text += "    Gentler: quillmoor " +
                (*plan.suggested == model::ChangeAction::when_needed
                     ? "disable " + quoted + " --manual"
                     : "delay " + quoted +
                           (plan.item->ways.later == model::LaterKind::service ? std::string() : " --minutes 5")) +
                "\n";
    }
    return text;
}

// Applies one change and words its decision as the command line does:
// refused, needs administrator rights, needs --yes, or made. Gives the exit
// code.
int decide_and_apply(CommandContext& context, const engine::ChangeRequest& request) {
    const os::Streams& streams = context.streams;
    const engine::ChangeResult result = engine::apply_changes(context.engine, {request}).front();
    switch (result.decision) {
        case engine::Decision::refused:
            for (const std::string& problem : result.plan.problems) {
                streams.err("  Not possible: " + printable(problem) + "\n");
            }
            if (result.plan.risk.level == model::Level::critical) {
                streams.err("  " + printable(result.plan.name) + " is critical: " + printable(result.plan.risk.effect) +
                            "\n  Quillmoor will not switch this off.\n");
            }
            return 1;
        case engine::Decision::needs_admin:
            streams.err(
                "  This needs administrator rights. Run it again as administrator (Windows) or with sudo "
                "(Linux/macOS).\n");
            return 3;
        case engine::Decision::needs_decision:
            streams.out(plan_text(result));
            streams.err("  This needs a decision. Run it again with --yes if you accept that.\n");
            return 4;
        case engine::Decision::go:
            break;
    }
    if (result.ok && result.history_failed) {
        streams.err(printable(result.message) + "\n");
        return 1;
    }
    if (result.ok) {
        streams.out(printable(result.message) + "\n");
        return 0;
    }
    streams.err(printable(result.message) + "\n");
    return result.admin ? 3 : 1;
}

int switch_item(CommandContext& context, model::ChangeAction action, std::uint32_t seconds = 0) {
    Result<model::StartupItem> item = find_exact_item(context, context.args.positional(1));
    if (!item) {
        context.streams.err(item.error().message + "\n");
        return 1;
    }
    engine::ChangeRequest request;
    request.action = action;
    request.seconds = seconds;
    request.id = item->id();
    request.stop_now = action == model::ChangeAction::disable && context.args.has_flag("--stop-now");
    request.ack = context.args.has_flag("--yes");
    return decide_and_apply(context, request);
}

// A running or installed program by id, name, program path or file name, or
// else by part of its name. Nothing found gives an empty list of matches; a
// part of a name that several different programs share is an error that
// lists them, as items are listed when a name is ambiguous.
Result<std::optional<model::Candidate>> find_candidate(CommandContext& context, const std::string& wanted) {
    std::vector<model::Candidate> all = context.engine.running_programs().items;
    std::vector<model::Candidate> installed = context.engine.installed_programs().items;
    all.insert(all.end(), installed.begin(), installed.end());
    const std::string lowered = to_lower_ascii(wanted);
    for (const model::Candidate& c : all) {
        if (c.id == wanted) return c;
    }
    for (const model::Candidate& c : all) {
        if (to_lower_ascii(c.name) == lowered || to_lower_ascii(c.exe) == lowered ||
            to_lower_ascii(file_stem(c.exe)) == lowered) {
            return c;
        }
    }
    if (lowered.empty()) return std::nullopt;
    // A program that both runs and is installed is listed twice; the running
    // one comes first and stands for both.
    std::vector<const model::Candidate*> matching;
    for (const model::Candidate& c : all) {
        if (to_lower_ascii(c.name).find(lowered) == std::string::npos) continue;
        const bool same_program = std::any_of(matching.begin(), matching.end(), [&c](const model::Candidate* seen) {
            return !c.exe.empty() && equal_ignoring_ascii_case(seen->exe, c.exe);
        });
        if (!same_program) matching.push_back(&c);
    }
    if (matching.empty()) return std::nullopt;
    if (matching.size() == 1) return *matching.front();
    std::string message =
        std::to_string(matching.size()) + " programs match \"" + wanted + "\"; be more exact or use the id:";
    for (std::size_t i = 0; i < matching.size() && i < 12; ++i) {
        message += "\n  " + matching[i]->name + "  (" + std::string(model::word_text(matching[i]->source)) + ")  " +
                   matching[i]->id;
    }
    if (matching.size() > 12) message += "\n  …";
    return fail(message);
}

// The engine's "cannot write {path}: {reason}" as the command line words it.
std::string backup_write_error(const std::string& error) {
    if (error.starts_with("cannot write ")) return "Could not write " + error.substr(13);
    if (error.starts_with("cannot create ")) return "Could not create " + error.substr(14);
    return error;
}

// Plans several changes and words their decisions as one: when any needs
// administrator rights or a decision, nothing is changed and the plans that
// wait are shown. A refused change is said; with `all_or_nothing` it stops
// the others too, else the others go on their own. Gives the exit code.
int plan_then_apply(CommandContext& context, const std::vector<engine::ChangeRequest>& requests,
                    bool all_or_nothing) {
    const os::Streams& streams = context.streams;
    int refused = 0;
    bool admin = false;
    bool decide = false;
    std::string plans;
    std::vector<engine::ChangeRequest> going;
    const std::vector<engine::PlannedChange> planned = engine::plan_changes(context.engine, requests);
    for (std::size_t i = 0; i < planned.size(); ++i) {
        const engine::PlannedChange& plan = planned[i];
        engine::ChangeResult shown;
        shown.plan = plan;
        switch (engine::decide(plan, requests[i].ack)) {
            case engine::Decision::refused:
                ++refused;
                for (const std::string& problem : plan.problems)
                    streams.err("  " + printable(plan.name) + ": not possible: " + printable(problem) + "\n");
                if (plan.risk.level == model::Level::critical && plan.problems.empty()) {
                    streams.err("  " + printable(plan.name) + " is critical: " + printable(plan.risk.effect) +
                                "\n  Quillmoor will not switch this off.\n");
                }
                break;
            case engine::Decision::needs_admin:
                admin = true;
                going.push_back(requests[i]);
                break;
            case engine::Decision::needs_decision:
                decide = true;
                plans += plan_text(shown);
                going.push_back(requests[i]);
                break;
            case engine::Decision::go:
                going.push_back(requests[i]);
                break;
        }
    }
    if (refused != 0 && (all_or_nothing || going.empty())) {
        streams.err("Nothing was changed.\n");
        return 1;
    }
    if (admin) {
        streams.err("  This needs administrator rights. Run it again as administrator (Windows) or with sudo "
                    "(Linux/macOS).\n");
        return 3;
    }
    if (decide) {
        streams.out(plans);
        streams.err("  This needs a decision. Run it again with --yes if you accept that.\n");
        return 4;
    }
    int code = refused != 0 ? 1 : 0;
    for (const engine::ChangeResult& result : engine::apply_changes(context.engine, going)) {
        if (result.ok && !result.history_failed) {
            streams.out(printable(result.message) + "\n");
        } else {
            streams.err(printable(result.message) + "\n");
            code = 1;
        }
    }
    return code;
}

// The change that stops a cause from bringing an item back: a service that
// can start only when needed is set so, anything else is switched off.
engine::ChangeRequest cause_request(const model::StartupItem& cause, bool ack) {
    engine::ChangeRequest request;
    request.action = cause.ways.when_needed ? model::ChangeAction::when_needed : model::ChangeAction::disable;
    request.id = cause.id();
    request.ack = ack;
    return request;
}

// disable NAME --and-cause: the item, and the task or service that likely
// brought it back, as two changes of one plan, each decided on its own.
int switch_off_with_cause(CommandContext& context, const model::StartupItem& item) {
    const bool ack = context.args.has_flag("--yes");
    const std::optional<model::StartupItem> cause =
        item.cause && !item.cause->item_id.empty() ? context.engine.find_item_by_id(item.cause->item_id)
                                                   : std::nullopt;
    if (!cause) {
        context.streams.err("Quillmoor knows of no cause of \"" + printable(item.name) +
                            "\" that it could switch off; without --and-cause it switches off the item alone.\n");
        return 1;
    }
    context.streams.out("Likely cause: " + printable(item.cause->why) + "\n");
    engine::ChangeRequest request;
    request.action = model::ChangeAction::disable;
    request.id = item.id();
    request.stop_now = context.args.has_flag("--stop-now");
    request.ack = ack;
    return plan_then_apply(context, {request, cause_request(*cause, ack)}, false);
}

}  // namespace

// The item a change command acts on: named exactly (its id, name or short
// name, without regard to ASCII case), never by part of its name, which only
// earns a question.
Result<model::StartupItem> find_exact_item(CommandContext& context, const std::string& query) {
    Result<model::StartupItem> item = context.engine.find_item(query);
    if (!item || item->id() == query || equal_ignoring_ascii_case(item->name, query) ||
        equal_ignoring_ascii_case(item->spec_value("short"), query)) {
        return item;
    }
    return fail("No item is called \"" + printable(query) + "\". Did you mean \"" + printable(item->name) +
                "\"? Use its exact name or its id.");
}

int run_disable(CommandContext& context) {
    if (context.args.has_flag("--and-cause")) {
        Result<model::StartupItem> item = find_exact_item(context, context.args.positional(1));
        if (!item) {
            context.streams.err(item.error().message + "\n");
            return 1;
        }
        return switch_off_with_cause(context, *item);
    }
    return switch_item(context, context.args.has_flag("--manual") ? model::ChangeAction::when_needed
                                                                   : model::ChangeAction::disable);
}

int run_delay(CommandContext& context) {
    return switch_item(context, model::ChangeAction::later, delay_seconds(context.args));
}

int run_stagger(CommandContext& context) {
    const os::Streams& streams = context.streams;
    const std::vector<std::string> names(context.args.positionals.begin() + 1, context.args.positionals.end());
    const std::uint32_t step = stagger_step_seconds(context.args);
    // Every name is found, once, before anything is planned.
    std::vector<engine::ChangeRequest> requests;
    for (std::size_t i = 0; i < names.size(); ++i) {
        Result<model::StartupItem> item = find_exact_item(context, names[i]);
        if (!item) {
            streams.err(item.error().message + "\nNothing was changed.\n");
            return 1;
        }
        const std::string id = item->id();
        if (std::any_of(requests.begin(), requests.end(), [&](const auto& r) { return r.id == id; })) {
            streams.err("\"" + printable(item->name) + "\" is named twice. Nothing was changed.\n");
            return 1;
        }
        engine::ChangeRequest request;
        request.action = model::ChangeAction::later;
        request.id = id;
        request.seconds = step * static_cast<std::uint32_t>(i + 1);
        request.ack = context.args.has_flag("--yes");
        requests.push_back(std::move(request));
    }
    // One after another means all of them: a stagger that one of them
    // refuses, or waits for, changes nothing.
    return plan_then_apply(context, requests, true);
}

int run_enable(CommandContext& context) { return switch_item(context, model::ChangeAction::enable); }

int run_add(CommandContext& context) {
    const std::string& wanted = context.args.positional(1);
    Result<std::optional<model::Candidate>> found = find_candidate(context, wanted);
    if (!found) {
        context.streams.err(found.error().message + "\n");
        return 1;
    }
    const std::optional<model::Candidate>& program = *found;
    if (!program && os::path_kind(wanted) != os::PathKind::file) {
        context.streams.err("No running or installed program matches \"" + wanted +
                            "\", and it is not a file. Try: quillmoor running\n");
        return 1;
    }
    const std::string exe = program ? program->exe : wanted;
    engine::ChangeRequest request;
    request.action = model::ChangeAction::create;
    request.id = program ? program->id : std::string();
    request.create.name = context.args.option_value("--name");
    if (request.create.name.empty()) request.create.name = program ? program->name : to_lower_ascii(file_stem(wanted));
    request.create.command = "\"" + exe + "\"";
    if (const std::string& extra = context.args.option_value("--args"); !extra.empty())
        request.create.command += " " + extra;
    request.create.exe = exe;
    request.create.workdir = context.args.option_value("--workdir");
    request.create.mode = context.args.option_value("--mode");
    if (request.create.mode.empty()) request.create.mode = "login";
    request.ack = context.args.has_flag("--yes");

    // A program that already has a startup entry gets that entry switched on
    // rather than a second one; say so before it happens, since the method
    // and details asked for do not apply.
    const engine::ChangeRequest prepared = engine::prepare_request(context.engine, request);
    if (prepared.action != request.action) {
        const std::optional<model::StartupItem> entry = context.engine.find_item_by_id(prepared.id);
        const std::string entry_name = entry ? entry->name : prepared.id;
        const std::string entry_kind = entry ? " (" + entry->kind_label + ")" : std::string();
        context.streams.out("\"" + program->name + "\" already has a startup entry, \"" + entry_name + "\"" +
                            entry_kind + ". Quillmoor will switch that entry on instead of making a new one.\n");
        return decide_and_apply(context, request);
    }

    std::string label = request.create.mode;
    if (program) {
        for (const model::StartMode& mode : program->modes) {
            if (mode.id == request.create.mode) label = mode.label;
        }
    }
    context.streams.out("Will make \"" + request.create.name + "\" start with the computer: " + request.create.command +
                        "\n");
    context.streams.out("  Method: " + label + "\n");
    return decide_and_apply(context, request);
}

int run_remove(CommandContext& context) {
    if (!context.args.has_flag("--yes")) {
        context.streams.err("This deletes the entry. Run it again with --yes to confirm.\n");
        return 4;
    }
    Result<model::StartupItem> item = find_exact_item(context, context.args.positional(1));
    if (!item) {
        context.streams.err(item.error().message + "\n");
        return 1;
    }
    engine::ChangeRequest request;
    request.action = model::ChangeAction::remove;
    request.id = item->id();
    request.ack = true;
    return decide_and_apply(context, request);
}

int run_backup(CommandContext& context) {
    std::string label = context.args.option_value("--label");
    if (label.empty()) label = "Manual backup";
    json::JsonValue backup = engine::make_backup(context.engine, label);
    const std::uint64_t count = json::get_count(backup, "count");
    const std::string& out = context.args.option_value("--out");
    if (!out.empty()) {
        if (Result<void> saved = engine::save_backup_as(backup, out); !saved) {
            context.streams.err(saved.error().message + "\n");
            return 1;
        }
        context.streams.out("Saved " + std::to_string(count) + " items to " + out + "\n");
        return 0;
    }
    Result<std::string> path = engine::save_backup(context.engine, backup, false);
    if (!path) {
        context.streams.err(backup_write_error(path.error().message) + "\n");
        return 1;
    }
    context.streams.out("Saved " + std::to_string(count) + " items to " + *path + "\n");
    return 0;
}

int run_backups(CommandContext& context) {
    std::string text = "Backups are kept in " + engine::backup_folder(context.engine) + "\n";
    std::vector<engine::BackupSummary> list = engine::list_backups(context.engine);
    if (list.empty()) {
        text += "(none yet; 'quillmoor backup' makes one, and one is made automatically before any change)\n";
    } else {
        text += trimmed_line(cell("TAKEN (UTC)", 19, 21) + cell("ITEMS", 6, 7) + cell("AUTO", 4, 6) +
                             cell("LABEL", 30, 32) + "NAME (use with: quillmoor restore NAME)");
        for (const engine::BackupSummary& b : list) {
            text += trimmed_line(cell(b.time, 19, 21) + cell(std::to_string(b.count), 6, 7) +
                                 cell(b.automatic ? "yes" : "no", 4, 6) + cell(b.label, 30, 32) + b.name);
        }
    }
    context.streams.out(text);
    return 0;
}

int run_restore(CommandContext& context) {
    const std::string& operand = context.args.positional(1);
    Result<std::string> text = os::path_kind(operand) == os::PathKind::file
                                   ? os::read_text_file(operand, engine::backup_read_limit)
                                   : engine::read_backup(context.engine, operand);
    if (!text) {
        context.streams.err(text.error().message + "\n");
        return 1;
    }
    Result<json::JsonValue> backup = engine::parse_backup(*text);
    if (!backup) {
        context.streams.err(backup.error().message + "\n");
        return 1;
    }
    const bool yes = context.args.has_flag("--yes");
    const bool all = context.args.has_flag("--all");
    engine::RestorePlan plan = engine::restore_plan(context.engine, *backup);
    const json::JsonValue& header = plan.header;

    std::string out = "Backup taken " + json::get_text(header, "created") + " on " + json::get_text(header, "host") +
                      " (" + json::get_text(header, "os_version") + "), " +
                      std::to_string(json::get_count(header, "count")) +
                      " items; label: " + json::get_text(header, "label") + "\n";
    if (plan.different_computer) {
        out +=
            "WARNING: this backup comes from a different computer or operating system. Only items that exist here "
            "are considered.\n";
    }
    out += std::to_string(plan.same) + " items already match; " + std::to_string(plan.appeared) +
           " items appeared since the backup and are left alone.\n";
    if (plan.locked > 0) {
        out += std::to_string(plan.locked) +
               " items differ from the backup but cannot be switched here, and are left alone.\n";
    }
    out += "\n";

    std::vector<engine::ChangeRequest> to_apply;
    bool some_ask = false;
    for (const engine::RestoreRow& row : plan.rows) {
        if (!row.request) {
            out += "[note] " + replace_control_characters(row.name, false) + " - " + row.text + "\n";
            continue;
        }
        const engine::PlannedChange change =
            engine::plan_change(context.engine, engine::prepare_request(context.engine, *row.request));
        const engine::Decision decision = engine::decide(change, yes);
        std::string mark = "DO  ";
        if (!(row.ticked || all) || decision == engine::Decision::refused ||
            decision == engine::Decision::needs_admin) {
            mark = "SKIP";
        } else if (decision == engine::Decision::needs_decision) {
            mark = "ask ";
            some_ask = true;
        }
        out += "[" + mark + "] " + engine::action_text(row.request->action, row.request->unknown_action) + " " +
               replace_control_characters(row.name, false) + " - " + row.text + "\n";
        out += "         level " + std::string(model::level_name(change.risk.level)) + ": " + change.risk.effect + "\n";
        for (const std::string& problem : change.problems) out += "         not possible: " + problem + "\n";
        if (change.admin_needed) out += "         not possible: it needs administrator rights.\n";
        if (mark == "DO  ") {
            engine::ChangeRequest request = *row.request;
            request.ack = yes;
            to_apply.push_back(std::move(request));
        }
    }

    if (!context.args.has_flag("--apply")) {
        out += "\nNothing was changed. Add --apply to do the items marked DO";
        if (some_ask) out += " (and --yes to accept the ones that need a decision)";
        out += ".\n";
        context.streams.out(out);
        return 0;
    }
    context.streams.out(out);
    if (to_apply.empty()) {
        context.streams.out("\nThere is nothing to do.\n");
        return 0;
    }
    context.streams.out("\n");
    bool all_ok = true;
    for (const engine::ChangeResult& result : engine::apply_changes(context.engine, to_apply)) {
        all_ok = all_ok && result.ok && !result.history_failed;
        context.streams.out(std::string("[") + (result.ok ? "ok  " : "FAIL") + "] " + printable(result.name) + " " +
                            printable(result.message) + "\n");
    }
    return all_ok ? 0 : 1;
}

int run_history(CommandContext& context) {
    engine::settle_when_idle(context.engine);
    std::vector<engine::HistoryEntry> history = engine::journal_history(context.engine.data_folder());
    if (history.empty()) {
        context.streams.out("No changes have been recorded yet.\n");
        return 0;
    }
    engine::add_startup_effects(context.engine, history);
    bool effects_shown = false;
    std::string text = trimmed_line(cell("SEQ", 16, 16) + cell("TIME (UTC)", 19, 21) + cell("ACTION", 8, 10) + "ITEM");
    for (const engine::HistoryEntry& entry : history) {
        const engine::JournalRecord& r = entry.record;
        std::string item = replace_control_characters(r.name.empty() ? r.id : r.name, false);
        // An observation says what the watch saw happen to the item.
        if (r.action == model::ChangeAction::observed) item += "  (" + printable(r.detail) + ")";
        else if (r.interrupted) item += r.ok ? "  (interrupted; found made)" : "  (interrupted; not made)";
        else if (!r.ok) item += "  (failed)";
        if (!r.own) item += "  (another account's)";
        text += trimmed_line(cell(std::to_string(r.seq), 16, 16) + cell(r.time, 19, 21) +
                             cell(engine::action_text(r.action, r.unknown_action), 8, 10) + item +
                             (entry.undone ? "  [undone]" : ""));
        for (const std::string& effect : entry.startup_effects) text += std::string(16, ' ') + effect + "\n";
        effects_shown = effects_shown || !entry.startup_effects.empty();
    }
    if (effects_shown) text += "\n" + std::string(engine::startup_effects_note) + "\n";
    context.streams.out(text);
    return 0;
}

int run_undo(CommandContext& context) {
    const std::uint64_t seq = std::stoull(context.args.positional(1));
    const bool yes = context.args.has_flag("--yes");
    Result<std::string> undone = engine::undo_change(context.engine, seq, yes);
    if (undone) {
        context.streams.out(printable(*undone) + "\n");
        return 0;
    }
    switch (undone.error().kind) {
        case ErrorKind::needs_decision:
            // The reason, worded as the other change commands word a decision
            // (the window's marker "CONFIRM:" is no text for people).
            context.streams.err("  " + printable(undone.error().message) +
                                "\n  This needs a decision. Run it again with --yes if you accept that.\n");
            return 4;
        case ErrorKind::needs_admin:
            context.streams.err(undone.error().message + "\n");
            return 3;
        case ErrorKind::failed:
        case ErrorKind::not_found:
            break;
    }
    context.streams.err(undone.error().message + "\n");
    return 1;
}

}  // namespace qm::cli
