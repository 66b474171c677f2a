// Start ways: the gentler ways than off that an item can take, and the one
// it has taken. A service can start only when something asks for it (its
// start type Manual) or a little later than the others (delayed automatic);
// a program that starts at sign-in can start some minutes after it, through
// an entry of the program's own that runs the same command, while its own
// entry is switched off; a timer can fire some minutes after boot. The
// platform says which ways an item offers and which it has taken; the own
// entry that starts an item later names the item it starts (`delays`), and
// the scan links the two. Plain values.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "json/json.h"
#include "model/words.h"

namespace qm::model {

// How an item can start later.
enum class LaterKind {
    none,           // it cannot
    service,        // a service: delayed automatic start, when Windows chooses
    after_sign_in,  // a sign-in program: a number of seconds after sign-in
    after_boot,     // a timer: a number of seconds after boot
};

struct StartWays {
    // Offered here.
    bool when_needed = false;
    LaterKind later = LaterKind::none;
    // Taken now through this program: later or when_needed, with the
    // seconds of a later start (0 for a service's delayed start).
    std::optional<ChangeAction> taken;
    std::uint32_t taken_seconds = 0;
    // The id of the own entry that starts this item later.
    std::string own_entry;
    // On that own entry: the id of the item it starts later (and in
    // taken_seconds, how long after sign-in).
    std::string delays;

    [[nodiscard]] bool any_offered() const { return when_needed || later != LaterKind::none; }
};

// The minutes a sign-in program or a timer is offered to start after, and
// the step between the programs of a stagger.
inline constexpr std::array<std::uint32_t, 4> later_minutes_offered{1, 2, 5, 10};
inline constexpr std::uint32_t default_stagger_step_seconds = 30;
// Longer than anyone waits for a program after signing in.
inline constexpr std::uint32_t longest_later_seconds = 24 * 60 * 60;

[[nodiscard]] std::string_view word_text(LaterKind kind);
[[nodiscard]] std::optional<LaterKind> read_later_kind(std::string_view text);

// "30 s", "2 minutes", "1 minute 30 s".
[[nodiscard]] std::string seconds_text(std::uint32_t seconds);

// The label of a way as the user picks it: "Start only when needed",
// "Start a little later", "Start 2 minutes after sign-in", "Start 2 minutes
// after boot"; `seconds` matters only for the last two.
[[nodiscard]] std::string way_label(ChangeAction way, LaterKind kind, std::uint32_t seconds);
// What taking the way means, in plain words.
[[nodiscard]] std::string way_meaning(ChangeAction way, LaterKind kind);
// The state as the list shows it: "Starts 2 minutes after sign-in (through
// Quillmoor)"; empty when no way is taken.
[[nodiscard]] std::string taken_text(const StartWays& ways);

// {"offered":[{"way","label","meaning","seconds":[...]}...], "taken", "seconds",
// "own_entry", "delays"}; the last four only when set.
[[nodiscard]] json::JsonValue start_ways_json(const StartWays& ways);

// Why an item of this kind offers no gentler way than off.
[[nodiscard]] std::string no_gentler_way_text(ItemKind kind);

// The ISO 8601 duration Windows' task documents use: "PT30S", "PT2M", "PT1M30S".
[[nodiscard]] std::string iso_duration(std::uint32_t seconds);

}  // namespace qm::model
