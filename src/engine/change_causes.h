// Names who likely brought an item back or made it new, from the facts of
// the scan (model/change_cause.h). An actor counts only when something ties
// it to the item: the same package, the same program folder (the vendor's
// folder under Program Files, the user's application data or /opt), or, more
// weakly, the same publisher; and only when its time lies just before the
// time the item's entry was written. The item's own program file replaced
// just before counts as its own update. Without both a tie and a time, no
// cause is named. Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/change_cause.h"
#include "model/startup_item.h"

namespace qm::engine {

// An actor whose time is at most this long before the change, and tied to
// the item by its package or folder, is the likely cause; one tied only by
// its publisher, or further back (up to cause_possible_seconds), possibly.
inline constexpr std::int64_t cause_likely_seconds = 15 * 60;
inline constexpr std::int64_t cause_possible_seconds = 2 * 60 * 60;
// Records of two sources may disagree by a little: an actor up to this long
// after the change still counts.
inline constexpr std::int64_t cause_clock_slack_seconds = 60;

// The folder that ties a program to its vendor's other programs, lower-case:
// the first folder under Program Files (either), ProgramData, the user's
// AppData (past Local\Programs) or /opt, /usr/lib, /usr/libexec, /usr/share;
// else the program's own folder. Empty for folders every program shares
// (the system folder, /usr/bin) and for a bare name. A path that ends in a
// separator is a folder (an installer's) and is taken whole.
[[nodiscard]] std::string program_family(std::string_view exe);

[[nodiscard]] std::optional<model::ChangeCause> likely_cause(const model::StartupItem& item,
                                                             const std::vector<model::ChangeActor>& actors);

// Sets `cause` on every item that came back, is new or was switched on.
void name_causes(std::vector<model::StartupItem>& items, const std::vector<model::ChangeActor>& actors);

// "2 minutes", "1 hour 5 minutes", "less than a minute".
[[nodiscard]] std::string interval_text(std::int64_t seconds);

}  // namespace qm::engine
