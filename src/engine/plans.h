// Change plans and applying them. Every change to the computer is a request
// that is planned (looked up, judged, and checked for what stands in its way)
// and, when applied, decided: refused, needs administrator rights, needs the
// user's confirmation, or made. Before the first change of a context one
// automatic backup is saved; every change made is written to the journal.
// Plans are computed afresh on every call. Thread-safe through the context.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "engine/engine_context.h"
#include "json/json.h"
#include "model/platform.h"

namespace qm::engine {

struct ChangeRequest {
    std::string action;  // disable, enable, remove, create
    std::string id;      // the item's id; for create a program's id, or empty
    model::CreateDetails create;  // create only: the entry to make (a request carries no description)
    std::vector<std::pair<std::string, std::string>> options;  // passed on as "want_{key}"
    bool stop_now = false;
    bool ack = false;
};

struct PlannedChange {
    std::string id;
    std::string name;
    std::string action;
    model::Assessment risk;
    std::vector<std::string> problems;
    std::optional<model::CreateDetails> create;
    bool admin_needed = false;

    [[nodiscard]] bool blocked() const { return !problems.empty() || risk.level == model::Level::critical; }
    [[nodiscard]] bool needs_ack() const { return qm::model::needs_ack(risk.level); }
};

struct ChangeResult {
    std::string id;
    std::string name;
    std::string action;
    std::string message;
    bool ok = false;
    bool admin = false;
};

// A create for a program that an entry already starts becomes enable of that entry.
[[nodiscard]] ChangeRequest prepare_request(EngineContext& context, ChangeRequest request);
[[nodiscard]] std::vector<PlannedChange> plan_changes(EngineContext& context, const std::vector<ChangeRequest>& requests);
[[nodiscard]] PlannedChange plan_change(EngineContext& context, const ChangeRequest& request);
[[nodiscard]] std::vector<ChangeResult> apply_changes(EngineContext& context, const std::vector<ChangeRequest>& requests);

// Saves the one automatic backup of this context, unless it is saved
// already. Gives the failure text when it could not be saved; the caller's
// changes go ahead either way.
[[nodiscard]] std::optional<std::string> ensure_automatic_backup(EngineContext& context);

// "Refused: " with the plan's problems, or its effect when it has none.
[[nodiscard]] std::string refusal_message(const PlannedChange& plan);

// A create request carrying the seven details of an entry.
[[nodiscard]] ChangeRequest create_request(std::string id, const model::CreateDetails& details);

[[nodiscard]] json::JsonValue plan_json(const PlannedChange& plan);
// The wire form: id, name, action, ok, message, admin_needed.
[[nodiscard]] json::JsonValue change_result_json(const ChangeResult& result);
// Reads a request leniently: missing or mistyped members are empty or false.
[[nodiscard]] ChangeRequest change_request_from_json(const json::JsonValue& object);

// The seven recreation details of an entry as journal spec pairs.
[[nodiscard]] std::vector<model::SpecPair> create_details_pairs(const model::CreateDetails& details);
[[nodiscard]] model::CreateDetails create_details_from_pairs(const std::vector<model::SpecPair>& pairs);

}  // namespace qm::engine
