// Who may have changed a startup item. The platforms give the facts their
// computer records: when each item's entry was last written, when its
// program file was, and the actors that could have written it (a task and
// when it last ran, a service and when it started, a program or package and
// when it was installed). The engine names the likely cause from them
// (engine/change_causes.h); a cause is never named that these facts do not
// support.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/json.h"

namespace qm::model {

// `program`: the item's own program file, replaced by its own update.
enum class ActorKind { task, service, installer, package, program };

[[nodiscard]] std::string_view word_text(ActorKind kind);

// Something that ran on the computer and may have written a startup entry.
struct ChangeActor {
    ActorKind kind = ActorKind::task;
    std::string name;     // as people know it: the task's or service's name, the program's or package's
    std::string item_id;  // the startup item it is, when the scan lists it (so a plan can switch it)
    std::string exe;      // the program it runs (task, service) or the folder it was installed to (installer)
    std::string publisher;
    std::string package;  // the package it belongs to (Linux)
    std::int64_t time = 0;  // when it last ran, started, was installed or updated (seconds since 1970, UTC)
};

// When an item's entry was last written, as the computer records it, and
// what that time is of ("the Run value was written").
struct ChangeTime {
    std::int64_t time = 0;  // 0: the computer keeps no such time
    std::string what;
};

// The likely cause of an item's coming back or being new.
struct ChangeCause {
    ActorKind kind = ActorKind::task;
    std::string name;
    std::string item_id;  // the startup item of the cause, which a plan can switch off
    bool likely = false;  // false: only possibly
    std::string why;      // "Updater ran 2 minutes before the Run value was written."
};

// {kind, name, item (when known), sure: "likely" | "possibly", why}
[[nodiscard]] json::JsonValue change_cause_json(const ChangeCause& cause);

}  // namespace qm::model
