#include "model/startup_item.h"

#include <algorithm>
#include <array>

namespace qm::model {

namespace {

// Spec keys that a backup keeps for items the program did not create; `pid`
// is never kept because it is meaningless after the process ends.
constexpr std::array<std::string_view, 14> saved_spec_keys = {"start", "delayed", "hive",  "approved", "short",
                                                              "uri",   "unit",    "state", "label",    "domain",
                                                              "fname", "runs_at", "mode",  "user_dir"};

bool is_saved_key(std::string_view key) {
    return std::find(saved_spec_keys.begin(), saved_spec_keys.end(), key) != saved_spec_keys.end();
}

const std::string empty_text;

// The six members both forms begin with.
json::JsonValue identity_json(const StartupItem& item) {
    return json::ObjectBuilder()
        .string("id", item.id())
        .string("name", item.name)
        .string("kind", std::string(word_text(item.kind)))
        .string("kind_label", item.kind_label)
        .string("scope", std::string(word_text(item.scope)))
        .string("location", item.location)
        .done();
}

}  // namespace

StartupItem::StartupItem(ItemKind kind_, std::string kind_label_, Scope scope_, std::string location_,
                         std::string name_)
    : name(std::move(name_)),
      kind(kind_),
      kind_label(std::move(kind_label_)),
      scope(scope_),
      location(std::move(location_)) {
    const std::string_view kind_word = word_text(kind);
    const std::string_view scope_word = word_text(scope);
    id_.reserve(kind_word.size() + scope_word.size() + location.size() + name.size() + 3);
    id_.append(kind_word).append("|").append(scope_word).append("|").append(location).append("|").append(name);
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
    json::ObjectBuilder out(identity_json(item));
    out
        .string("command", item.command)
        .string("exe", item.exe)
        .string("publisher", item.publisher)
        .string("description", item.description)
        .string("origin", std::string(word_text(item.origin)))
        .string("package", item.package)
        .flag("enabled", item.enabled)
        .flag("running", item.running)
        .string("state_text", item.state_text)
        .string("toggle", std::string(word_text(item.toggle)))
        .string("toggle_note", item.toggle_note)
        .flag("managed", item.managed)
        .strings("dependents", item.dependents)
        .value("risk", assessment_json(item.risk))
        .value("impact", impact_json(item.impact))
        .value("ways", start_ways_json(item.ways));
    if (item.change != ItemChange::none) out.string("change", std::string(word_text(item.change)));
    if (item.cause) out.value("cause", change_cause_json(*item.cause));
    if (item.signature) out.value("signature", signature_json(*item.signature, item.publisher));
    return out.done();
}

json::JsonValue item_saved_json(const StartupItem& item, const json::JsonValue* recreate) {
    json::ObjectBuilder extra;
    for (const SpecPair& pair : item.spec()) {
        if (pair.key == "pid") continue;
        if (!item.managed && !is_saved_key(pair.key)) continue;
        extra.string(pair.key, pair.value);
    }
    json::ObjectBuilder out(identity_json(item));
    out.flag("enabled", item.enabled)
        .string("state_text", item.state_text)
        .flag("running", item.running)
        .string("exe", item.exe)
        .string("publisher", item.publisher)
        .flag("managed", item.managed)
        .value("extra", extra.done());
    // A way taken is part of the state a restore brings back; older readers
    // skip the member.
    if (item.ways.taken) {
        out.value("way", json::ObjectBuilder()
                             .string("taken", std::string(word_text(*item.ways.taken)))
                             .count("seconds", item.ways.taken_seconds)
                             .done());
    } else if (!item.ways.delays.empty()) {
        out.value("way", json::ObjectBuilder().string("delays", item.ways.delays).done());
    }

    if (item.managed) {
        if (recreate != nullptr && recreate->is_object()) {
            out.value("spec", *recreate);
        } else {
            out.value("spec", json::ObjectBuilder()
                                  .string("name", item.name)
                                  .string("command", item.command)
                                  .string("exe", item.exe)
                                  .string("workdir", item.spec_value("workdir"))
                                  .string("mode", item.spec_value("mode"))
                                  .string("user", item.spec_value("run_as"))
                                  .string("description", item.description)
                                  .done());
        }
    }
    return out.done();
}

std::size_t count_of_kind(const std::vector<StartupItem>& items, ItemKind kind) {
    std::size_t count = 0;
    for (const StartupItem& item : items) count += item.kind == kind ? 1 : 0;
    return count;
}

}  // namespace qm::model
