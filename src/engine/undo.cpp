#include "engine/undo.h"

#include <optional>

#include "engine/journal.h"
#include "engine/plans.h"

namespace qm::engine {

namespace {

UndoResult failed(std::string message) { return UndoResult{false, std::move(message), false}; }

UndoResult platform_failure(const Error& error) {
    return UndoResult{false, error.message, error.is(ErrorKind::needs_admin)};
}

}  // namespace

UndoResult undo_change(EngineContext& context, std::uint64_t seq, bool ack) {
    const std::vector<JournalRecord> records = read_journal(context.data_folder());
    const JournalRecord* target = nullptr;
    for (const JournalRecord& record : records) {
        if (record.seq == seq) {
            target = &record;
            break;
        }
    }
    if (!target) return failed("That entry is not in the history.");
    for (const JournalRecord& record : records) {
        if (record.action == "undo" && record.ok && record.of == seq) return failed("That change was already undone.");
    }
    if (!target->ok) return failed("That change did not succeed, so there is nothing to undo.");

    ChangeRequest opposite;
    opposite.id = target->id;
    if (target->action == "enable") {
        opposite.action = "disable";
    } else if (target->action == "disable") {
        opposite.action = "enable";
    } else if (target->action == "create") {
        opposite.action = "remove";
    } else if (target->action == "remove") {
        model::CreateDetails details = create_details_from_pairs(target->spec);
        for (const JournalRecord& record : records) {
            if (record.action == "create" && record.ok && record.id == target->id) {
                details = create_details_from_pairs(record.spec);
            }
        }
        if (details.command.empty()) return failed("The original command was not recorded, so it cannot be recreated.");
        // Names no listed program, so the planner treats it as coming from outside.
        opposite = create_request("restore|" + target->id, details);
    } else {
        return failed("That kind of record cannot be undone.");
    }

    const PlannedChange plan = plan_change(context, opposite);
    if (plan.blocked()) return failed(refusal_message(plan));
    if (plan.admin_needed) return UndoResult{false, "Undoing this needs administrator rights. Use \"Restart as administrator\".", true};
    if (!ack && (plan.needs_ack() || opposite.action == "create")) {
        const std::string question = opposite.action == "create"
                                         ? "It would create \"" + plan.create->name + "\" running: " + plan.create->command
                                         : plan.risk.effect;
        return failed("CONFIRM: " + question);
    }

    std::optional<model::StartupItem> item;
    if (opposite.action == "enable" || opposite.action == "disable") {
        item = context.find_item_by_id(opposite.id);
        if (!item) return failed("The item no longer exists.");
    } else if (opposite.action == "remove") {
        item = context.find_item_by_id(opposite.id);
        if (!item) return failed("The entry no longer exists.");
        if (!item->managed) return failed("That entry is not one Quillmoor created.");
    }

    // Only now, with the computer about to change: every automatic backup
    // taken pushes the oldest one out, so an undo that is refused must not.
    (void)ensure_automatic_backup(context);

    model::Platform& platform = context.platform();
    std::string message;
    if (opposite.action == "enable" || opposite.action == "disable") {
        Result<model::ChangeOutcome> outcome = platform.set_enabled(*item, opposite.action == "enable", false);
        if (!outcome) return platform_failure(outcome.error());
        message = outcome->message;
    } else if (opposite.action == "remove") {
        Result<model::ChangeOutcome> outcome = platform.remove_entry(*item);
        if (!outcome) return platform_failure(outcome.error());
        message = outcome->message;
    } else {
        model::CreateDetails details = *plan.create;
        if (details.user.empty()) details.user = context.facts().user;
        // The plan leaves the program file to be found; the record knows it.
        if (details.exe.empty()) details.exe = opposite.create.exe;
        Result<model::CreatedEntry> created = platform.create_entry(details, context.facts().admin);
        if (!created) return platform_failure(created.error());
        message = "Recreated " + created->item.name + ".";
    }

    JournalRecord record;
    record.action = "undo";
    record.id = target->id;
    record.name = target->name;
    record.detail = message;
    record.ok = true;
    record.of = seq;
    context.forget_cached_items();
    // The computer has changed either way; a history that could not be
    // written is said, as it is for any other change.
    if (Result<void> written = append_journal(context.data_folder(), std::move(record)); !written) {
        return UndoResult{true, message + " (the history could not be written: " + written.error().message + ")", false};
    }
    return UndoResult{true, message, false};
}

}  // namespace qm::engine
