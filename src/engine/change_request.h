// A change request: what the user asks to change (switch an item on or off,
// remove an entry of the program's own, create one, or undo a journalled
// change), and its two outside forms: the JSON the window sends and that a
// restore preview sends back, and the recreation details the journal keeps
// for an entry as spec pairs. Values only.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "json/json.h"
#include "model/platform.h"
#include "model/words.h"

namespace qm::engine {

// The journal record an undo reverses.
struct UndoneRecord {
    std::uint64_t seq = 0;
    std::string id;
    std::string name;
};

struct ChangeRequest {
    // enable, disable, create or remove; none when the window named a word
    // that is none of them, which `unknown_action` then holds for the plan
    // to name.
    std::optional<model::ChangeAction> action;
    std::string unknown_action;
    std::string id;               // the item's id; for create a program's id, or empty
    model::CreateDetails create;  // create only: the entry to make (a request carries no description)
    std::vector<std::pair<std::string, std::string>> options;  // passed on as "want_{key}"
    bool stop_now = false;
    // later only: how many seconds after sign-in or boot (a service's
    // delayed start ignores it).
    std::uint32_t seconds = 0;
    bool ack = false;
    // An on_time the user asked for by removing the own entry that starts
    // the item later; its plan asks first.
    bool from_remove = false;
    std::optional<UndoneRecord> undoes;  // set when this change undoes a journalled one
};

// The action's word, or the unknown word the request was made with.
[[nodiscard]] std::string action_text(const std::optional<model::ChangeAction>& action, const std::string& unknown);

// A create request carrying the seven details of an entry.
[[nodiscard]] ChangeRequest create_request(std::string id, const model::CreateDetails& details);

// The window's form: action, id, stop_now, seconds, hints (the options),
// spec (the details of a create, else an empty object).
[[nodiscard]] json::JsonValue change_request_json(const ChangeRequest& request);
// Reads the window's form leniently: missing or mistyped members are empty
// or false, and an action that is no known word is kept as that word.
[[nodiscard]] ChangeRequest change_request_from_json(const json::JsonValue& object);

// The seven recreation details of an entry as journal spec pairs.
[[nodiscard]] std::vector<model::SpecPair> create_details_pairs(const model::CreateDetails& details);
[[nodiscard]] model::CreateDetails create_details_from_pairs(const std::vector<model::SpecPair>& pairs);

}  // namespace qm::engine
