// A plan that travels to other computers. Each change names its item by what
// identifies it on any computer (its kind, scope, where it lives with the
// user's home folder written "~", its name and its program file), not by
// this computer's ids. Applied on a computer, each item is found again, the
// change planned again with that computer's own judgement and made the one
// way every change is made (plans.h: the decision, the automatic backup, the
// journal). A plan is made whole or not at all: when any change is refused,
// no change is made. An item the computer lacks is reported missing and
// stands in no other change's way. Thread-safe through the context.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine_context.h"
#include "json/json.h"
#include "model/startup_item.h"
#include "model/words.h"
#include "util/result.h"

namespace qm::engine {

inline constexpr std::string_view portable_plan_format = "quillmoor-plan";
// Far larger than any plan a person reviews; a larger file is refused.
inline constexpr std::uint64_t portable_plan_read_limit = 4ull << 20;

struct PortableChange {
    model::ChangeAction action = model::ChangeAction::disable;
    std::uint32_t seconds = 0;  // later only
    model::ItemKind kind = model::ItemKind::run;
    model::Scope scope = model::Scope::user;
    std::string location;  // with the home folder as "~"
    std::string name;
    std::string exe;
};

struct PortablePlan {
    std::string made;  // when and on which computer it was written, for people
    std::string from;
    std::vector<PortableChange> changes;
};

// The change of `action` on `item` of this computer, in the travelling form.
[[nodiscard]] PortableChange portable_change(const model::StartupItem& item, model::ChangeAction action,
                                             std::uint32_t seconds, const model::SystemFacts& facts);

[[nodiscard]] json::JsonValue portable_plan_json(const PortablePlan& plan);
// Reads the document strictly: any change that cannot be understood refuses
// the whole plan, naming which change and why.
[[nodiscard]] Result<PortablePlan> read_portable_plan(std::string_view text);

// The item the change names on this computer: the same kind, scope, name and
// place (home folder as "~"); else the one item of that kind and name whose
// program file has the same name. None when there is none, or several.
[[nodiscard]] const model::StartupItem* find_portable_item(const PortableChange& change,
                                                          const std::vector<model::StartupItem>& items,
                                                          const model::SystemFacts& facts);

// What became of one change: "changed", "unchanged" (already as wanted),
// "refused" (with why), "missing", "skipped" (another change was refused, so
// none was made) or "failed" (the computer did not take it).
struct PortableResult {
    PortableChange change;
    std::string status;
    std::string message;
    std::string id;  // the item's id on this computer, when found
    bool on_before = false;
    bool on_after = false;
    std::string state_before;
    std::string state_after;
};

// Applies the plan, or with `check` only says what applying would do. `ack`
// agrees to changes that need a decision, as --yes does.
[[nodiscard]] std::vector<PortableResult> apply_portable_plan(EngineContext& context, const PortablePlan& plan,
                                                              bool check, bool ack);

// {action, name, kind, status, message, id, before: {on, state}, after: {on, state}}
[[nodiscard]] json::JsonValue portable_result_json(const PortableResult& result);

}  // namespace qm::engine
