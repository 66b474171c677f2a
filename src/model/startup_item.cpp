#include "model/startup_item.h"

#include <algorithm>
#include <array>

namespace qm {

namespace {

// Spec keys that a backup keeps for items the program did not create; `pid`
// is never kept because it is meaningless after the process ends.
constexpr std::array<std::string_view, 14> saved_spec_keys = {
    "start", "delayed", "hive", "approved", "short", "uri", "unit",
    "state", "label", "domain", "fname", "runs_at", "mode", "user_dir"};

bool is_saved_key(std::string_view key) {
    return std::find(saved_spec_keys.begin(), saved_spec_keys.end(), key) != saved_spec_keys.end();
}

const std::string empty_text;

// The six members both forms begin with.
json::JsonValue identity_json(const StartupItem& item) {
    using namespace json;
    JsonValue out = JsonValue::object();
    out = add_string(std::move(out), "id", item.id());
    out = add_string(std::move(out), "name", item.name);
    out = add_string(std::move(out), "kind", item.kind);
    out = add_string(std::move(out), "kind_label", item.kind_label);
    out = add_string(std::move(out), "scope", item.scope);
    out = add_string(std::move(out), "location", item.location);
    return out;
}

}  // namespace

StartupItem::StartupItem(std::string kind_, std::string kind_label_, std::string scope_,
                         std::string location_, std::string name_)
    : name(std::move(name_)),
      kind(std::move(kind_)),
      kind_label(std::move(kind_label_)),
      scope(std::move(scope_)),
      location(std::move(location_)) {
    id_.reserve(kind.size() + scope.size() + location.size() + name.size() + 3);
    id_.append(kind).append("|").append(scope).append("|").append(location).append("|").append(name);
}

void StartupItem::set_spec(std::string_view key, std::string value) {
    for (SpecPair& pair : spec_) {
        if (pair.key == key) {
            pair.value = std::move(value);
            return;
        }
    }
    spec_.push_back(SpecPair{std::string(key), std::move(value)});
}

const std::string& StartupItem::spec_value(std::string_view key) const {
    for (const SpecPair& pair : spec_) {
        if (pair.key == key) return pair.value;
    }
    return empty_text;
}

json::JsonValue item_full_json(const StartupItem& item) {
    using namespace json;
    JsonValue out = identity_json(item);
    out = add_string(std::move(out), "command", item.command);
    out = add_string(std::move(out), "exe", item.exe);
    out = add_string(std::move(out), "publisher", item.publisher);
    out = add_string(std::move(out), "description", item.description);
    out = add_string(std::move(out), "origin", item.origin);
    out = add_string(std::move(out), "package", item.package);
    out = add_bool(std::move(out), "enabled", item.enabled);
    out = add_bool(std::move(out), "running", item.running);
    out = add_string(std::move(out), "state_text", item.state_text);
    out = add_string(std::move(out), "toggle", item.toggle);
    out = add_string(std::move(out), "toggle_note", item.toggle_note);
    out = add_bool(std::move(out), "managed", item.managed);
    out = add_strings(std::move(out), "dependents", item.dependents);
    out = add_value(std::move(out), "risk", assessment_json(item.risk));
    return out;
}

json::JsonValue item_saved_json(const StartupItem& item, const json::JsonValue* recreate) {
    using namespace json;
    JsonValue out = identity_json(item);
    out = add_bool(std::move(out), "enabled", item.enabled);
    out = add_string(std::move(out), "state_text", item.state_text);
    out = add_bool(std::move(out), "running", item.running);
    out = add_string(std::move(out), "exe", item.exe);
    out = add_string(std::move(out), "publisher", item.publisher);
    out = add_bool(std::move(out), "managed", item.managed);

    JsonValue extra = JsonValue::object();
    for (const SpecPair& pair : item.spec()) {
        if (pair.key == "pid") continue;
        if (!item.managed && !is_saved_key(pair.key)) continue;
        extra = add_string(std::move(extra), pair.key, pair.value);
    }
    out = add_value(std::move(out), "extra", std::move(extra));

    if (item.managed) {
        if (recreate != nullptr && recreate->is_object()) {
            out = add_value(std::move(out), "spec", *recreate);
        } else {
            JsonValue details = JsonValue::object();
            details = add_string(std::move(details), "name", item.name);
            details = add_string(std::move(details), "command", item.command);
            details = add_string(std::move(details), "exe", item.exe);
            details = add_string(std::move(details), "workdir", item.spec_value("workdir"));
            details = add_string(std::move(details), "mode", item.spec_value("mode"));
            details = add_string(std::move(details), "user", item.spec_value("run_as"));
            details = add_string(std::move(details), "description", item.description);
            out = add_value(std::move(out), "spec", std::move(details));
        }
    }
    return out;
}

}  // namespace qm
