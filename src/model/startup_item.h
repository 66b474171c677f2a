// StartupItem: one entry that starts with the computer, as every subsystem
// passes it around. Items are values: the scan creates them, the engine marks
// its own entries and the assessment fills `risk`; nobody edits one after that.
// The identity "{kind}|{scope}|{location}|{name}" is formed once by the
// constructor. `spec` holds ordered platform details with unique keys.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "json/json.h"
#include "model/assessment.h"
#include "model/change_cause.h"
#include "model/impact.h"
#include "model/signature.h"
#include "model/start_ways.h"
#include "model/words.h"

namespace qm::model {

struct SpecPair {
    std::string key;
    std::string value;
    friend bool operator==(const SpecPair&, const SpecPair&) = default;
};

class StartupItem {
public:
    StartupItem(ItemKind kind, std::string kind_label, Scope scope, std::string location, std::string name);

    [[nodiscard]] const std::string& id() const { return id_; }

    std::string name;
    ItemKind kind;
    std::string kind_label;  // the kind for people, e.g. "Registry (Run, this user)"
    Scope scope;
    std::string location;
    std::string command;
    std::string exe;
    std::string publisher;
    std::string description;
    Origin origin = Origin::none;
    std::string package;
    bool enabled = false;
    bool running = false;
    std::string state_text;
    Toggle toggle = Toggle::ok;
    std::string toggle_note;
    bool managed = false;
    std::vector<std::string> dependents;
    // What the platform found unsafe about the entry itself (an unquoted
    // path, a known name in an unusual place); the assessment states each.
    std::vector<std::string> warnings;
    // What the entry starts could not be read, so its name proves nothing
    // and it is never judged harmless.
    bool unreadable = false;
    // What the computer's records say it costs at sign-in or boot.
    Impact impact;
    // The gentler ways than off it offers, and the one it has taken.
    StartWays ways;
    // What changed about it since the scans before, and who likely did it.
    ItemChange change = ItemChange::none;
    std::optional<ChangeCause> cause;
    // When its entry was last written, and its program file's size and
    // last-write time, where the computer records them.
    ChangeTime changed;
    std::uint64_t exe_size = 0;
    std::int64_t exe_time = 0;
    // Whether its program file is what its signer signed or its package
    // installed; none where nobody checked.
    std::optional<Signature> signature;
    Assessment risk;

    // Replaces the value of an existing key in place, or appends a new pair.
    void set_spec(std::string_view key, std::string value);
    // The value for `key`, or the empty text.
    [[nodiscard]] const std::string& spec_value(std::string_view key) const;
    [[nodiscard]] const std::vector<SpecPair>& spec() const { return spec_; }

private:
    std::string id_;
    std::vector<SpecPair> spec_;
};

// The form shown to the window and printed by --json: every field but `spec`.
[[nodiscard]] json::JsonValue item_full_json(const StartupItem& item);

// The form written into backups. For a managed item, `recreate` is the `spec`
// object of the newest successful create record for this id, or nullptr when
// the journal has none (the details are then taken from the item itself).
[[nodiscard]] json::JsonValue item_saved_json(const StartupItem& item, const json::JsonValue* recreate = nullptr);

// How many of `items` are of `kind`, for the doctor's probes of a source.
[[nodiscard]] std::size_t count_of_kind(const std::vector<StartupItem>& items, ItemKind kind);

}  // namespace qm::model
