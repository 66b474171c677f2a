#include "engine/undo.h"

#include <cstdlib>

#include "engine/change_lock.h"
#include "engine/journal_query.h"
#include "engine/plans.h"

namespace qm::engine {

namespace {

using model::ChangeAction;

// The change that reverses `target`, which names an undo of it.
Result<ChangeRequest> opposite_of(const JournalRecord& target, const JournalQuery& journal) {
    ChangeRequest opposite;
    opposite.id = target.id;
    if (!target.action) return fail("That kind of record cannot be undone.");
    switch (*target.action) {
        case ChangeAction::enable:
            opposite.action = ChangeAction::disable;
            break;
        case ChangeAction::disable:
            opposite.action = ChangeAction::enable;
            break;
        case ChangeAction::create:
            opposite.action = ChangeAction::remove;
            break;
        case ChangeAction::remove: {
            // The details of the newest create record of the entry, else those
            // the removal kept.
            const JournalRecord* created = journal.newest_create(target.id);
            model::CreateDetails details = create_details_from_pairs(created ? created->spec : target.spec);
            if (details.command.empty())
                return fail("The original command was not recorded, so it cannot be recreated.");
            // Names no listed program, so the planner treats it as coming from outside.
            opposite = create_request("restore|" + target.id, details);
            break;
        }
        case ChangeAction::later:
        case ChangeAction::when_needed:
            opposite.action = ChangeAction::on_time;
            break;
        case ChangeAction::on_time: {
            // The way it had taken, as the record kept it.
            std::string was;
            std::uint32_t seconds = 0;
            for (const model::SpecPair& pair : target.spec) {
                if (pair.key == "was") was = pair.value;
                if (pair.key == "seconds") seconds = static_cast<std::uint32_t>(std::strtoul(pair.value.c_str(), nullptr, 10));
            }
            opposite.action = model::read_change_action(was);
            if (opposite.action != ChangeAction::later && opposite.action != ChangeAction::when_needed)
                return fail("The way it started before was not recorded, so it cannot be taken again.");
            opposite.seconds = seconds;
            break;
        }
        case ChangeAction::undo:
        case ChangeAction::observed:
            return fail("That kind of record cannot be undone.");
    }
    opposite.undoes = UndoneRecord{target.seq, target.id, target.name};
    return opposite;
}

struct PreparedUndo {
    ChangeRequest opposite;
    PlannedChange plan;
};

// Every check an undo passes before it is made, against the journal as read.
Result<PreparedUndo> prepare_undo(EngineContext& context, const JournalQuery& journal, std::uint64_t seq, bool ack) {
    const JournalRecord* target = journal.find(seq);
    if (!target) return fail("That entry is not in the history.");
    if (target->action == ChangeAction::observed) return fail(std::string(observation_refusal));
    if (!target->own) {
        return fail(
            "That change was made by another account and is in its history, not yours; undo it from that "
            "account.");
    }
    if (journal.undone(seq)) return fail("That change was already undone.");
    if (!target->ok) return fail("That change did not succeed, so there is nothing to undo.");

    ChangeRequest opposite = QM_TRY(opposite_of(*target, journal));
    opposite.ack = ack;
    PlannedChange plan = plan_change(context, opposite);
    const Decision decision = decide(plan, ack);
    if (decision == Decision::refused) return fail(refusal_message(plan));
    if (decision == Decision::needs_admin) {
        return fail(ErrorKind::needs_admin,
                    "Undoing this needs administrator rights. Use \"Restart as administrator\".");
    }
    // Making an entry again asks with what it would run, even when its plan
    // alone would not ask.
    if (opposite.action == ChangeAction::create && !ack) {
        return fail(ErrorKind::needs_decision,
                    "It would create \"" + plan.create->name + "\" running: " + plan.create->command);
    }
    if (decision == Decision::needs_decision) return fail(ErrorKind::needs_decision, plan.risk.effect);
    return PreparedUndo{std::move(opposite), std::move(plan)};
}

}  // namespace

Result<std::string> undo_change(EngineContext& context, std::uint64_t seq, bool ack) {
    // Checked once without the lock, and again under it, since another run
    // may have undone the same change (or changed the item) meanwhile. A
    // refusal without the lock is only said once the lock confirms it: a run
    // undoing the same change may have switched the item already and not yet
    // written its record, and "It is already switched on" would then stand
    // for "That change was already undone". Without the lock (another run kept
    // it, or the data folder cannot be written) the first answer stands.
    Result<PreparedUndo> first = prepare_undo(context, JournalQuery(context.data_folder()), seq, ack);
    Result<os::FileLock> taken = lock_for_changes(context);
    if (!taken) return first ? fail(taken.error()) : fail(first.error());
    const os::FileLock lock = std::move(*taken);
    context.forget_cached_items();
    const JournalQuery journal(context.data_folder());
    const PreparedUndo prepared = QM_TRY(prepare_undo(context, journal, seq, ack));

    // Only now, with the computer about to change: every automatic backup
    // taken pushes the oldest one out, so an undo that is refused must not.
    if (std::optional<std::string> failure = ready_to_change(context)) return fail(*failure);
    Result<MadeChange> made = make_change(context, prepared.opposite, prepared.plan, journal);
    context.forget_cached_items();
    if (!made) return fail(made.error());
    if (made->history_failed) return fail(made->message);
    return made->message;
}

}  // namespace qm::engine
