// watch: waits for the places startup items live in to change and shows each
// change as it happens, until the user interrupts it (which ends it in order,
// with exit code 0).
#include "cli/commands.h"
#include "engine/change_follower.h"
#include "json/json.h"
#include "os/console.h"
#include "os/wake_signal.h"
#include "util/time_text.h"

namespace qm::cli {

namespace {

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
        context.streams.out_data(json::write(engine::seen_change_json(seen, now)) + "\n");
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

    while (engine::wait_until_settled(**watch, std::nullopt) == model::WatchWake::changed) {
        std::vector<std::string> failures;
        const std::vector<engine::SeenChange> seen = follower.next(failures);
        const std::int64_t now = now_unix_seconds();
        for (const engine::SeenChange& change : seen) print_change(context, change, now);
        for (const std::string& failure : failures)
            context.streams.err("note: The change could not be written to the history: " + failure + "\n");
        // Nobody reads what it prints any more (the pipe it writes to was
        // closed): watching on would be watching for no one.
        if (context.streams.writes_failed()) return 1;
    }
    if (!context.args.has_flag("--json")) context.streams.out("Stopped watching.\n");
    return 0;
}

}  // namespace qm::cli
