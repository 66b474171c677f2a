#include "engine/change_causes.h"

#include <array>
#include <cstdlib>

#include "util/text.h"

namespace qm::engine {

namespace {

using model::ActorKind;

std::vector<std::string> path_parts(std::string_view path) {
    std::vector<std::string> parts;
    std::string part;
    for (const char c : path) {
        if (c == '\\' || c == '/') {
            if (!part.empty()) parts.push_back(std::move(part));
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(std::move(part));
    return parts;
}

// Folders whose next folder is a vendor's or a program's own.
constexpr std::array<std::string_view, 8> vendor_parents = {
    "program files", "program files (x86)", "programdata", "opt", "lib", "libexec", "share", "programs"};
// Folders where programs of every maker sit side by side.
constexpr std::array<std::string_view, 9> shared_folders = {"system32", "syswow64", "windows", "bin",
                                                            "sbin",     "games",    "local",   "usr", "roaming"};

template <std::size_t N>
bool one_of(const std::array<std::string_view, N>& list, std::string_view word) {
    for (const std::string_view each : list) {
        if (each == word) return true;
    }
    return false;
}

std::string_view verb_of(ActorKind kind) {
    switch (kind) {
        case ActorKind::task: return "ran";
        case ActorKind::service: return "started";
        case ActorKind::installer: return "was installed";
        case ActorKind::package: return "was installed or updated";
        case ActorKind::program: return "was replaced";
    }
    return "ran";
}

bool same_text(std::string_view a, std::string_view b) {
    return !a.empty() && to_lower_ascii(a) == to_lower_ascii(b);
}

struct Candidate {
    model::ChangeCause cause;
    std::int64_t distance = 0;
};

bool better(const Candidate& a, const Candidate& b) {
    if (a.cause.likely != b.cause.likely) return a.cause.likely;
    if (a.distance != b.distance) return a.distance < b.distance;
    return !a.cause.item_id.empty() && b.cause.item_id.empty();
}

std::string when_text(std::int64_t before) {
    if (before < 60) return before < 0 ? "at about the time" : "less than a minute before";
    return interval_text(before) + " before";
}

}  // namespace

std::string interval_text(std::int64_t seconds) {
    if (seconds < 60) return "less than a minute";
    const std::int64_t minutes = seconds / 60;
    auto count = [](std::int64_t n, std::string_view unit) {
        return std::to_string(n) + " " + std::string(unit) + (n == 1 ? "" : "s");
    };
    if (minutes < 60) return count(minutes, "minute");
    std::string text = count(minutes / 60, "hour");
    if (minutes % 60 != 0) text += " " + count(minutes % 60, "minute");
    return text;
}

std::string program_family(std::string_view exe) {
    std::vector<std::string> parts = path_parts(to_lower_ascii(exe));
    // A folder (an installer's) ends in a separator; a program's file name goes.
    const bool is_folder = !exe.empty() && (exe.back() == '\\' || exe.back() == '/');
    if (!is_folder) {
        if (parts.size() < 2) return {};
        parts.pop_back();
    }
    if (parts.empty()) return {};
    // The first vendor's parent wins: AppData\Local\Programs\{vendor} is
    // found through "programs".
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        if (one_of(vendor_parents, parts[i])) return parts[i + 1];
    }
    // The user's application data: AppData\Local|Roaming\{vendor}.
    for (std::size_t i = 0; i + 2 < parts.size(); ++i) {
        if (parts[i] == "appdata" && parts[i + 2] != "programs") return parts[i + 2];
    }
    if (one_of(shared_folders, parts.back())) return {};
    std::string folder;
    for (const std::string& part : parts) folder += "/" + part;
    return folder;
}

std::optional<model::ChangeCause> likely_cause(const model::StartupItem& item,
                                               const std::vector<model::ChangeActor>& actors) {
    if (item.changed.time == 0) return std::nullopt;
    const std::string family = program_family(item.exe);
    const std::string what = item.changed.what.empty() ? "its entry was written" : item.changed.what;
    std::optional<Candidate> best;

    auto consider = [&](ActorKind kind, const std::string& name, const std::string& item_id, std::int64_t time,
                        bool strong, std::string tie) {
        if (time == 0 || name.empty()) return;
        const std::int64_t before = item.changed.time - time;
        if (before < -cause_clock_slack_seconds || before > cause_possible_seconds) return;
        Candidate candidate;
        candidate.distance = std::llabs(before);
        candidate.cause.kind = kind;
        candidate.cause.name = name;
        candidate.cause.item_id = item_id;
        candidate.cause.likely = strong && before <= cause_likely_seconds;
        candidate.cause.why = name + " " + std::string(verb_of(kind)) + " " + when_text(before) + " " + what + "; " +
                              tie + ".";
        if (!best || better(candidate, *best)) best = std::move(candidate);
    };

    for (const model::ChangeActor& actor : actors) {
        if (!actor.item_id.empty() && actor.item_id == item.id()) continue;
        const std::string actor_family = program_family(actor.exe);
        if (same_text(actor.package, item.package)) {
            consider(actor.kind, actor.name, actor.item_id, actor.time, true,
                     "the item comes from the package " + item.package);
        } else if (!family.empty() && actor_family == family) {
            consider(actor.kind, actor.name, actor.item_id, actor.time, true,
                     std::string(actor.kind == ActorKind::installer ? "it was installed into" : "it runs from") +
                         " the same program folder as " + item.name);
        } else if (same_text(actor.publisher, item.publisher)) {
            consider(actor.kind, actor.name, actor.item_id, actor.time, false,
                     "it comes from the same publisher, " + item.publisher);
        }
    }
    // A program that rewrites its own entry when it updates itself.
    if (!item.exe.empty()) {
        consider(ActorKind::program, std::string(file_name(item.exe)), {}, item.exe_time, true,
                 "the program's own update likely wrote the entry again");
    }
    if (!best) return std::nullopt;
    return std::move(best->cause);
}

void name_causes(std::vector<model::StartupItem>& items, const std::vector<model::ChangeActor>& actors) {
    for (model::StartupItem& item : items) {
        if (item.change == model::ItemChange::came_back || item.change == model::ItemChange::added ||
            item.change == model::ItemChange::switched_on)
            item.cause = likely_cause(item, actors);
    }
}

}  // namespace qm::engine
