// watch: waits for the places startup items live in to change and shows each
// change as it happens, until the user interrupts it (which ends it in order,
// with exit code 0). Notifications that come within a second of each other
// are one change of the computer, scanned once when a second has passed
// without another.
#include <chrono>

#include "cli/commands.h"
#include "engine/change_follower.h"
#include "json/json.h"
#include "os/console.h"
#include "os/wake_signal.h"
#include "util/time_text.h"

namespace qm::cli {

namespace {

using namespace std::chrono_literals;

// How long the computer must be quiet before it is scanned, and how long a
// place that never stops changing may put the scan off.
constexpr std::chrono::milliseconds quiet_time = 1s;
constexpr std::chrono::milliseconds longest_merge = 5s;

// Waits for the next change of the computer; false when woken instead (the
// user interrupted the watch).
bool wait_for_change(model::ChangeWatch& watch) {
    if (watch.wait(std::nullopt) != model::WatchWake::changed) return false;
    const auto first = std::chrono::steady_clock::now();
    while (std::chrono::steady_clock::now() - first < longest_merge) {
        const model::WatchWake next = watch.wait(quiet_time);
        if (next == model::WatchWake::woken) return false;
        if (next == model::WatchWake::timed_out) break;
    }
    return true;
}

void print_start(CommandContext& context, const model::ChangeWatch& watch, const std::vector<std::string>& notes) {
    if (context.args.has_flag("--json")) {
        context.streams.out_data(json::write(json::ObjectBuilder()
                                                 .count("watching", watch.places())
                                                 .flag("demo", context.engine.demo())
                                                 .strings("notes", notes)
                                                 .done()) +
                                 "\n");
        return;
    }
    if (context.engine.demo()) {
        context.streams.out(
            "Watching the invented computer of the demonstration, which never changes by itself. Press Ctrl+C to "
            "stop.\n");
        return;
    }
    std::string text = "Watching " + std::to_string(watch.places()) +
                       " places for changes to what starts with this computer (times in UTC). Press Ctrl+C to "
                       "stop.\n";
    for (const std::string& note : notes) text += "note: " + printable(note) + "\n";
    context.streams.out(text);
}

void print_change(CommandContext& context, const engine::SeenChange& seen, std::int64_t now) {
    const engine::FoundChange& change = seen.change;
    if (context.args.has_flag("--json")) {
        context.streams.out_data(json::write(json::ObjectBuilder()
                                                 .string("time", time_text(now))
                                                 .string("id", change.id)
                                                 .string("name", change.name)
                                                 .string("change", std::string(model::word_text(change.change)))
                                                 .string("kind_label", seen.kind_label)
                                                 .string("found", change.found)
                                                 .done()) +
                                 "\n");
        return;
    }
    std::string line = time_text(now).substr(11) + "  " + std::string(model::word_text(change.change)) + "  " +
                       printable(change.name);
    if (!seen.kind_label.empty()) line += "  (" + printable(seen.kind_label) + ")";
    context.streams.out(line + "\n");
}

}  // namespace

int run_watch(CommandContext& context) {
    Result<std::shared_ptr<os::WakeSignal>> wake = os::WakeSignal::make();
    if (!wake) {
        context.streams.err(wake.error().message + "\n");
        return 1;
    }
    // From here on Ctrl+C only wakes the wait below, so the watch ends in
    // order, never in the middle of a line or of a journal record.
    const os::InterruptCatcher catcher(*wake);
    Result<std::unique_ptr<model::ChangeWatch>> watch = context.engine.platform().watch_changes(*wake);
    if (!watch) {
        context.streams.err(watch.error().message + "\n");
        return 1;
    }
    engine::ChangeFollower follower(context.engine);
    std::vector<std::string> notes = (*watch)->notes();
    if (!context.engine.demo()) {
        // The scan the changes are compared with; what it finds changed was
        // so before the watch began.
        for (std::string& note : follower.start()) notes.push_back(std::move(note));
    }
    print_start(context, **watch, notes);

    while (wait_for_change(**watch)) {
        std::vector<std::string> failures;
        const std::vector<engine::SeenChange> seen = follower.next(failures);
        const std::int64_t now = now_unix_seconds();
        for (const engine::SeenChange& change : seen) print_change(context, change, now);
        for (const std::string& failure : failures)
            context.streams.err("note: The change could not be written to the history: " + failure + "\n");
    }
    if (!context.args.has_flag("--json")) context.streams.out("Stopped watching.\n");
    return 0;
}

}  // namespace qm::cli
