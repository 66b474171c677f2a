#include "engine/portable_plan.h"

#include "engine/plans.h"
#include "util/text.h"
#include "util/time_text.h"

namespace qm::engine {

namespace {

using model::ChangeAction;

bool travels(ChangeAction action) {
    return action == ChangeAction::enable || action == ChangeAction::disable || action == ChangeAction::later ||
           action == ChangeAction::when_needed || action == ChangeAction::on_time;
}

bool windows_names(const model::SystemFacts& facts) { return facts.os == "windows"; }

bool same_name(std::string_view a, std::string_view b, const model::SystemFacts& facts) {
    return windows_names(facts) ? equal_ignoring_ascii_case(a, b) : a == b;
}

// The place with the user's home folder written "~", so that the same entry
// of two people matches.
std::string portable_place(const std::string& place, const model::SystemFacts& facts) {
    const std::string& home = facts.home;
    if (home.size() < 2 || place.size() < home.size()) return place;
    const std::string_view start(place.data(), home.size());
    const bool at_home = windows_names(facts) ? equal_ignoring_ascii_case(start, home) : start == home;
    const bool whole = place.size() == home.size() || place[home.size()] == '/' || place[home.size()] == '\\';
    return at_home && whole ? "~" + place.substr(home.size()) : place;
}

std::string_view would_text(ChangeAction action) {
    switch (action) {
        case ChangeAction::enable: return "Would switch it on.";
        case ChangeAction::disable: return "Would switch it off.";
        case ChangeAction::later: return "Would make it start later.";
        case ChangeAction::when_needed: return "Would make it start only when needed.";
        case ChangeAction::on_time: return "Would make it start as before.";
        default: return "Would change it.";
    }
}

// Whether the item already is as the change wants it.
bool already_as_wanted(const model::StartupItem& item, const PortableChange& change) {
    const model::StartWays& ways = item.ways;
    switch (change.action) {
        case ChangeAction::enable: return item.enabled && !ways.taken;
        case ChangeAction::disable: return !item.enabled && !ways.taken;
        case ChangeAction::when_needed: return ways.taken == ChangeAction::when_needed;
        case ChangeAction::later:
            return ways.taken == ChangeAction::later &&
                   (ways.later == model::LaterKind::service || ways.taken_seconds == change.seconds);
        case ChangeAction::on_time: return !ways.taken;
        default: return false;
    }
}

// On or off as the list shows it once the change is made.
bool on_after(const model::StartupItem& item, ChangeAction action) {
    if (action == ChangeAction::disable || action == ChangeAction::when_needed) return false;
    if (action == ChangeAction::enable || action == ChangeAction::on_time) return true;
    // A service started a little later stays on; a program started later
    // through an entry of the program's own has its own entry off.
    return item.ways.later == model::LaterKind::service;
}

Result<PortableChange> read_change(const json::JsonValue& entry, std::size_t number) {
    const std::string which = "Change " + std::to_string(number) + " of the plan";
    if (!entry.is_object()) return fail(which + " is not an object.");
    PortableChange change;
    const std::optional<ChangeAction> action = model::read_change_action(json::get_text(entry, "action"));
    if (!action || !travels(*action)) {
        return fail(which + " asks for \"" + replace_control_characters(json::get_text(entry, "action"), false) +
                    "\"; a plan can switch items on or off, make them start later, only when needed, or as before.");
    }
    change.action = *action;
    const json::JsonValue* item = json::get(entry, "item");
    if (item == nullptr || !item->is_object()) return fail(which + " names no item.");
    const std::optional<model::ItemKind> kind = model::read_item_kind(json::get_text(*item, "kind"));
    const std::optional<model::Scope> scope = model::read_scope(json::get_text(*item, "scope"));
    change.name = json::get_text(*item, "name");
    if (!kind || !scope || change.name.empty())
        return fail(which + " does not say which item: it needs its kind, scope and name.");
    change.kind = *kind;
    change.scope = *scope;
    change.location = json::get_text(*item, "location");
    change.exe = json::get_text(*item, "exe");
    if (change.action == ChangeAction::later) {
        const std::uint64_t seconds = json::get_count(entry, "seconds");
        if (seconds > model::longest_later_seconds) return fail(which + " starts an item more than a day later.");
        change.seconds = static_cast<std::uint32_t>(seconds);
    }
    return change;
}

}  // namespace

PortableChange portable_change(const model::StartupItem& item, ChangeAction action, std::uint32_t seconds,
                               const model::SystemFacts& facts) {
    return PortableChange{action,     action == ChangeAction::later ? seconds : 0,
                          item.kind,  item.scope,
                          portable_place(item.location, facts), item.name,
                          portable_place(item.exe, facts)};
}

json::JsonValue portable_plan_json(const PortablePlan& plan) {
    json::JsonValue::Array changes;
    for (const PortableChange& change : plan.changes) {
        json::ObjectBuilder entry;
        entry.string("action", std::string(model::word_text(change.action)));
        if (change.action == ChangeAction::later) entry.count("seconds", change.seconds);
        entry.value("item", json::ObjectBuilder()
                                .string("kind", std::string(model::word_text(change.kind)))
                                .string("scope", std::string(model::word_text(change.scope)))
                                .string("location", change.location)
                                .string("name", change.name)
                                .string("exe", change.exe)
                                .done());
        changes.push_back(entry.done());
    }
    return json::ObjectBuilder()
        .string("format", std::string(portable_plan_format))
        .count("version", 1)
        .string("made", plan.made)
        .string("from", plan.from)
        .value("changes", json::JsonValue(std::move(changes)))
        .done();
}

Result<PortablePlan> read_portable_plan(std::string_view text) {
    if (text.size() > portable_plan_read_limit) return fail("The plan is too large to be one a person reviewed.");
    Result<json::JsonValue> parsed = json::parse(text);
    if (!parsed || !parsed->is_object() || json::get_text(*parsed, "format") != portable_plan_format)
        return fail("That file is not a Quillmoor plan.");
    if (json::get_count(*parsed, "version") != 1)
        return fail("The plan was written by a newer Quillmoor; update this one to apply it.");
    PortablePlan plan;
    plan.made = json::get_text(*parsed, "made");
    plan.from = json::get_text(*parsed, "from");
    const json::JsonValue* changes = json::get(*parsed, "changes");
    if (changes == nullptr || !changes->is_array()) return fail("The plan lists no changes.");
    for (const json::JsonValue& entry : changes->as_array())
        plan.changes.push_back(QM_TRY(read_change(entry, plan.changes.size() + 1)));
    return plan;
}

const model::StartupItem* find_portable_item(const PortableChange& change,
                                             const std::vector<model::StartupItem>& items,
                                             const model::SystemFacts& facts) {
    for (const model::StartupItem& item : items) {
        if (item.kind == change.kind && item.scope == change.scope && same_name(item.name, change.name, facts) &&
            same_name(portable_place(item.location, facts), change.location, facts))
            return &item;
    }
    // Elsewhere: the one item of that kind and name running the same program.
    const model::StartupItem* found = nullptr;
    for (const model::StartupItem& item : items) {
        if (item.kind != change.kind || !same_name(item.name, change.name, facts)) continue;
        if (!same_name(file_name(item.exe), file_name(change.exe), facts)) continue;
        if (found != nullptr) return nullptr;
        found = &item;
    }
    return found;
}

std::vector<PortableResult> apply_portable_plan(EngineContext& context, const PortablePlan& plan, bool check,
                                                bool ack) {
    const model::SystemFacts& facts = context.facts();
    context.forget_cached_items();
    const std::vector<model::StartupItem> items = context.scan().items;
    std::vector<PortableResult> results;
    std::vector<ChangeRequest> requests;
    std::vector<std::size_t> requested;  // the result each request belongs to
    bool refused = false;
    for (const PortableChange& change : plan.changes) {
        PortableResult result;
        result.change = change;
        const model::StartupItem* item = find_portable_item(change, items, facts);
        if (item == nullptr) {
            result.status = "missing";
            result.message = "This computer has no such item.";
            results.push_back(std::move(result));
            continue;
        }
        result.id = item->id();
        result.on_before = result.on_after = item->enabled;
        result.state_before = result.state_after = item->state_text;
        if (already_as_wanted(*item, change)) {
            result.status = "unchanged";
            result.message = "It already is as the plan wants it.";
            results.push_back(std::move(result));
            continue;
        }
        ChangeRequest request;
        request.action = change.action;
        request.id = item->id();
        request.seconds = change.seconds;
        request.ack = ack;
        const PlannedChange planned = plan_change(context, prepare_request(context, request));
        switch (decide(planned, ack)) {
            case Decision::refused:
                result.status = "refused";
                result.message = refusal_message(planned);
                refused = true;
                break;
            case Decision::needs_admin:
                result.status = "refused";
                result.message =
                    "It needs administrator rights: run it as administrator (Windows) or with sudo (Linux).";
                refused = true;
                break;
            case Decision::needs_decision:
                result.status = "refused";
                result.message = "It needs a decision (" + std::string(model::level_name(planned.risk.level)) +
                                 ": " + planned.risk.effect + "); agree to it with --yes.";
                refused = true;
                break;
            case Decision::go:
                result.status = "changed";
                result.message = std::string(would_text(change.action));
                result.on_after = on_after(*item, change.action);
                result.state_after.clear();  // known once it is made
                requests.push_back(std::move(request));
                requested.push_back(results.size());
                break;
        }
        results.push_back(std::move(result));
    }
    if (refused) {
        for (const std::size_t at : requested) {
            results[at].status = "skipped";
            results[at].message = "Not made: another change of this plan was refused, so none was made.";
            results[at].on_after = results[at].on_before;
            results[at].state_after = results[at].state_before;
        }
        return results;
    }
    if (check || requests.empty()) return results;

    const std::vector<ChangeResult> made = apply_changes(context, requests);
    for (std::size_t i = 0; i < made.size() && i < requested.size(); ++i) {
        PortableResult& result = results[requested[i]];
        result.status = made[i].ok ? "changed" : "failed";
        result.message = made[i].message;
    }
    context.forget_cached_items();
    const std::vector<model::StartupItem> after = context.scan().items;
    for (PortableResult& result : results) {
        for (const model::StartupItem& item : after) {
            if (item.id() != result.id) continue;
            result.on_after = item.enabled;
            result.state_after = item.state_text;
        }
    }
    return results;
}

json::JsonValue portable_result_json(const PortableResult& result) {
    const PortableChange& change = result.change;
    json::ObjectBuilder out;
    out.string("action", std::string(model::word_text(change.action)))
        .string("name", change.name)
        .string("kind", std::string(model::word_text(change.kind)))
        .string("status", result.status)
        .string("message", result.message);
    if (!result.id.empty()) {
        out.string("id", result.id)
            .value("before", json::ObjectBuilder().flag("on", result.on_before).string("state", result.state_before).done())
            .value("after", json::ObjectBuilder().flag("on", result.on_after).string("state", result.state_after).done());
    }
    return out.done();
}

}  // namespace qm::engine
