// Change plans and the one road every change takes. A request is planned
// (its item looked up, judged, and checked for what stands in its way), then
// decided (refused, needs administrator rights, needs the user's decision,
// or go), and only then made: one automatic backup before the first change
// of a context, the platform call, and the journal record. Apply, undo and
// restore all go this way; they differ only in the requests they make and in
// how they word a decision. Plans are computed afresh on every call.
// Thread-safe through the context.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/change_request.h"
#include "engine/engine_context.h"
#include "engine/journal_query.h"
#include "json/json.h"
#include "model/platform.h"

namespace qm::engine {

struct PlannedChange {
    std::string id;
    std::string name;
    std::optional<model::ChangeAction> action;
    std::string unknown_action;
    model::Assessment risk;
    std::vector<std::string> problems;
    std::optional<model::CreateDetails> create;
    bool admin_needed = false;
    // The item an enable, disable, remove or way acts on, as the plan found it.
    std::optional<model::StartupItem> item;
    // later only: after how many seconds.
    std::uint32_t seconds = 0;
    // A switch off of an item that is risky to switch off, which can start
    // later or only when needed instead: the gentler way the plan suggests
    // first (when_needed before later).
    std::optional<model::ChangeAction> suggested;

    [[nodiscard]] bool blocked() const { return !problems.empty() || risk.level == model::Level::critical; }
    [[nodiscard]] bool needs_ack() const { return model::needs_ack(risk.level); }
};

// What is done with a planned change, in this order: a blocked plan is
// refused, one that needs rights the run lacks waits for them, a risky one
// without the user's agreement (ack) waits for it; anything else goes.
enum class Decision { refused, needs_admin, needs_decision, go };
[[nodiscard]] Decision decide(const PlannedChange& plan, bool ack);

struct ChangeResult {
    std::string id;
    std::string name;
    std::optional<model::ChangeAction> action;
    std::string unknown_action;
    std::string message;
    bool ok = false;
    bool admin = false;           // it was not made for want of administrator rights
    bool history_failed = false;  // it was made, but its journal record could not be written
    Decision decision = Decision::refused;
    PlannedChange plan;
};

// A create for a program that an entry already starts becomes enable of that entry.
[[nodiscard]] ChangeRequest prepare_request(EngineContext& context, ChangeRequest request);
[[nodiscard]] PlannedChange plan_change(EngineContext& context, const ChangeRequest& request);
[[nodiscard]] std::vector<PlannedChange> plan_changes(EngineContext& context,
                                                      const std::vector<ChangeRequest>& requests);

// Prepares, plans, decides and makes each request in turn; the journal is
// read once for all of them.
[[nodiscard]] std::vector<ChangeResult> apply_changes(EngineContext& context,
                                                      const std::vector<ChangeRequest>& requests);

// What making one change gave: the item as it now is, and what happened.
struct MadeChange {
    std::string id;
    std::string name;
    std::string message;
    bool history_failed = false;
    // The own entry a later start of a sign-in program made.
    std::string own_entry;
};

// Makes a change that was decided "go": the intent in the journal (nothing
// is changed when it cannot be written), the platform call, then the
// journal record, which is an undo's record when the request undoes one.
// The caller holds the change lock (change_lock.h), has made sure of the
// automatic backup, and forgets the cached items once its changes are made.
// A record that could not be written after the change is said loudly in the
// message and flagged, since the computer has changed either way.
[[nodiscard]] Result<MadeChange> make_change(EngineContext& context, const ChangeRequest& request,
                                             const PlannedChange& plan, const JournalQuery& journal);

// Saves the one automatic backup of this context, unless it is saved
// already. Gives the failure text when it could not be saved.
[[nodiscard]] std::optional<std::string> ensure_automatic_backup(EngineContext& context);

// The automatic backup made sure of, or the sentence why nothing may be
// changed: no change is made without one.
[[nodiscard]] std::optional<std::string> ready_to_change(EngineContext& context);

// "Refused: " with the plan's problems, or its effect when it has none.
[[nodiscard]] std::string refusal_message(const PlannedChange& plan);

[[nodiscard]] json::JsonValue plan_json(const PlannedChange& plan);
// The wire form: id, name, action, ok, message, admin_needed, history_failed.
[[nodiscard]] json::JsonValue change_result_json(const ChangeResult& result);

}  // namespace qm::engine
