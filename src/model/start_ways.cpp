#include "model/start_ways.h"

#include <utility>

namespace qm::model {

namespace {

constexpr std::array<std::pair<LaterKind, std::string_view>, 4> later_kinds{{
    {LaterKind::none, ""},
    {LaterKind::service, "service"},
    {LaterKind::after_sign_in, "after-sign-in"},
    {LaterKind::after_boot, "after-boot"},
}};

std::string count_of(std::uint32_t count, std::string_view one, std::string_view many) {
    return std::to_string(count) + " " + std::string(count == 1 ? one : many);
}

json::JsonValue offered_json(ChangeAction way, LaterKind kind) {
    json::JsonValue::Array seconds;
    if (way == ChangeAction::later && kind != LaterKind::service) {
        for (const std::uint32_t minutes : later_minutes_offered) seconds.emplace_back(std::uint64_t{minutes} * 60);
    }
    return json::ObjectBuilder()
        .string("way", std::string(word_text(way)))
        .string("kind", std::string(word_text(kind)))
        .string("label", way_label(way, kind, 0))
        .string("meaning", way_meaning(way, kind))
        .value("seconds", json::JsonValue(std::move(seconds)))
        .done();
}

}  // namespace

std::string_view word_text(LaterKind kind) {
    for (const auto& [value, text] : later_kinds) {
        if (value == kind) return text;
    }
    return {};
}

std::optional<LaterKind> read_later_kind(std::string_view text) {
    for (const auto& [value, word] : later_kinds) {
        if (word == text) return value;
    }
    return std::nullopt;
}

std::string seconds_text(std::uint32_t seconds) {
    const std::uint32_t minutes = seconds / 60;
    const std::uint32_t rest = seconds % 60;
    if (minutes == 0) return std::to_string(rest) + " s";
    std::string out = count_of(minutes, "minute", "minutes");
    if (rest != 0) out += " " + std::to_string(rest) + " s";
    return out;
}

std::string way_label(ChangeAction way, LaterKind kind, std::uint32_t seconds) {
    if (way == ChangeAction::when_needed) return "Start only when needed";
    if (way == ChangeAction::on_time) return "Start as before";
    if (way != ChangeAction::later) return {};
    const std::string after = seconds == 0 ? std::string("N minutes") : seconds_text(seconds);
    switch (kind) {
        case LaterKind::service:
            return "Start a little later";
        case LaterKind::after_sign_in:
            return "Start " + after + " after sign-in";
        case LaterKind::after_boot:
            return "Start " + after + " after boot";
        case LaterKind::none:
            break;
    }
    return {};
}

std::string way_meaning(ChangeAction way, LaterKind kind) {
    if (way == ChangeAction::when_needed) {
        return "It no longer starts with the computer; Windows starts it when a program or another service asks "
               "for it.";
    }
    if (way == ChangeAction::on_time) return "It starts again exactly as it did before it was made to start later.";
    if (way != ChangeAction::later) return {};
    switch (kind) {
        case LaterKind::service:
            return "It still starts automatically, but only once the computer has finished starting, so that "
                   "sign-in is not slowed by it.";
        case LaterKind::after_sign_in:
            return "Its entry is switched off and an entry of Quillmoor's own starts the same command the chosen "
                   "time after you sign in, so the desktop is ready sooner.";
        case LaterKind::after_boot:
            return "Quillmoor's own addition to the timer makes it fire the chosen time after the computer starts "
                   "instead of its own; taking it back removes the addition.";
        case LaterKind::none:
            break;
    }
    return {};
}

std::string taken_text(const StartWays& ways) {
    if (!ways.taken) return {};
    if (*ways.taken == ChangeAction::when_needed) return "Starts only when needed (set by Quillmoor)";
    if (*ways.taken != ChangeAction::later) return {};
    switch (ways.later) {
        case LaterKind::service:
            return "Starts a little later (set by Quillmoor)";
        case LaterKind::after_boot:
            return "Starts " + seconds_text(ways.taken_seconds) + " after boot (set by Quillmoor)";
        case LaterKind::after_sign_in:
        case LaterKind::none:
            break;
    }
    return "Starts " + seconds_text(ways.taken_seconds) + " after sign-in (through Quillmoor)";
}

json::JsonValue start_ways_json(const StartWays& ways) {
    json::JsonValue::Array offered;
    if (ways.when_needed) offered.push_back(offered_json(ChangeAction::when_needed, LaterKind::service));
    if (ways.later != LaterKind::none) offered.push_back(offered_json(ChangeAction::later, ways.later));
    json::ObjectBuilder out;
    out.value("offered", json::JsonValue(std::move(offered)));
    if (ways.taken) {
        out.string("taken", std::string(word_text(*ways.taken)))
            .count("seconds", ways.taken_seconds)
            .string("taken_text", taken_text(ways));
    }
    if (!ways.own_entry.empty()) out.string("own_entry", ways.own_entry);
    if (!ways.delays.empty()) out.string("delays", ways.delays);
    return out.done();
}

std::string no_gentler_way_text(ItemKind kind) {
    switch (kind) {
        case ItemKind::systemd:
        case ItemKind::systemd_user:
            return "systemd starts a service when its unit and what depends on it say, so a service has no gentler "
                   "way than off here; only a timer can be made to start later.";
        case ItemKind::cron:
            return "An @reboot line runs as the computer starts and has no gentler way than off here.";
        case ItemKind::task:
            return "A scheduled task keeps the triggers it was given; it has no gentler way than off here.";
        default:
            break;
    }
    return "It has no gentler way than off here.";
}

std::string iso_duration(std::uint32_t seconds) {
    std::string out = "PT";
    const std::uint32_t hours = seconds / 3600;
    const std::uint32_t minutes = seconds % 3600 / 60;
    const std::uint32_t rest = seconds % 60;
    if (hours != 0) out += std::to_string(hours) + "H";
    if (minutes != 0) out += std::to_string(minutes) + "M";
    if (rest != 0 || seconds == 0) out += std::to_string(rest) + "S";
    return out;
}

}  // namespace qm::model
