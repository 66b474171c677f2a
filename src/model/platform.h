// Platform: the one object through which the program reads and changes the
// computer. Thirteen operations; the Windows platform and the demonstration
// implement all of them. Created once at start-up and shared by every caller
// for the whole run; operations may be called from several threads at once
// (an implementation with changing state guards it itself). No operation
// throws or ends the process: failures are one sentence for the user, and a
// failure that needs administrator rights is of the kind needs_admin.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "json/json.h"
#include "os/wake_signal.h"
#include "util/result.h"
#include "model/startup_item.h"

namespace qm::model {

// One way of making a program start with the computer ("login", "boot", ...;
// each platform names its own).
struct StartMode {
    std::string id;
    std::string label;
    std::string detail;
    bool needs_admin = false;
    bool recommended = false;
    bool at_boot = false;  // it starts when the computer starts, before anyone signs in
};

struct SystemFacts {
    std::string os;          // "windows" (the Windows platform and the demonstration) or "linux"
    std::string os_version;  // shown to the user
    std::string host;        // computer name
    std::string user;        // account name
    std::string home;        // the user's profile folder
    bool admin = false;      // the process may make machine-wide changes
    bool demo = false;       // this is the demonstration
    // Command lines are split by the POSIX shell's rules rather than Windows' own.
    bool posix_command_lines = false;
    // The ways an entry can be made for a program that no list shows (an
    // entry recreated from a backup or from the history).
    std::vector<StartMode> entry_modes;
};

struct ScanResult {
    std::vector<StartupItem> items;
    std::vector<std::string> notes;  // one per source that failed or was incomplete
    StartupCost cost;                // what the computer's records say starting costs
    // What ran lately that may have written entries: tasks, services,
    // installers, packages, each with its time (change_cause.h).
    std::vector<ChangeActor> actors;
};

// A running or installed program that could be made to start.
struct Candidate {
    std::string id;  // "proc|...", "svc|..." or "app|..."
    std::string name;
    CandidateSource source = CandidateSource::process;
    std::string exe;
    std::string command;
    std::string workdir;
    std::string user;  // account it runs under (running programs only)
    std::vector<std::uint32_t> pids;
    std::string publisher;
    std::string description;
    std::vector<StartMode> modes;
    std::vector<std::string> notes;
    std::string entry_id;  // id of the StartupItem that already starts it, or empty
    bool system = false;   // part of the operating system
};

struct ProgramList {
    std::vector<Candidate> items;
    std::vector<std::string> notes;
};

struct ChangeOutcome {
    std::string message;
    std::vector<std::string> notes;
};

// What an entry to create consists of, in this order.
struct CreateDetails {
    std::string name;
    std::string command;
    std::string exe;
    std::string workdir;
    std::string mode;  // "login", "boot", ...
    std::string user;
    std::string description;
};

// The seven details by the names their JSON forms and the journal use, in
// this order.
inline constexpr std::array<std::pair<std::string_view, std::string CreateDetails::*>, 7> create_detail_fields{{
    {"name", &CreateDetails::name},
    {"command", &CreateDetails::command},
    {"exe", &CreateDetails::exe},
    {"workdir", &CreateDetails::workdir},
    {"mode", &CreateDetails::mode},
    {"user", &CreateDetails::user},
    {"description", &CreateDetails::description},
}};

// A gentler way than off for an item: `later` (after `seconds`, which a
// service's delayed start ignores), `when_needed`, or `on_time`, which takes
// back the way the item has taken. For a sign-in program started later,
// `own_entry` is the entry of the program's own that starts it (found in the
// same scan), which `on_time` removes.
struct WayRequest {
    ChangeAction way = ChangeAction::on_time;
    std::uint32_t seconds = 0;
    const StartupItem* own_entry = nullptr;
};

struct WayOutcome {
    ChangeOutcome outcome;
    // The id of the own entry `later` made for a sign-in program, else empty.
    std::string own_entry;
};

struct CreatedEntry {
    StartupItem item;
    ChangeOutcome outcome;
};

struct Probe {
    std::string name;
    ProbeStatus status = ProbeStatus::ok;
    std::string detail;
};

// Why ChangeWatch::wait returned.
enum class WatchWake {
    changed,    // something changed in a watched place
    woken,      // the wake signal the watch was made with was raised
    timed_out,  // the time given passed with neither
};

// Waiting for the places startup items live in to change, without using the
// processor meanwhile. Made, waited on and destroyed on one thread (Windows
// ties a registry notification to the thread that asked for it); the wake
// signal it was made with may be raised from any thread.
class ChangeWatch {
public:
    virtual ~ChangeWatch() = default;
    // How many places are watched.
    [[nodiscard]] virtual std::size_t places() const = 0;
    // One sentence per place that could not be watched, or that is not there
    // and is watched for its creation.
    [[nodiscard]] virtual std::vector<std::string> notes() const = 0;
    // Blocks until a watched place changes, the wake signal is raised, or
    // `timeout` passes (none: no limit); a raised wake signal comes first.
    // The notifications are armed again before it returns.
    [[nodiscard]] virtual WatchWake wait(std::optional<std::chrono::milliseconds> timeout) = 0;
};

class Platform {
public:
    virtual ~Platform() = default;

    // 1. A copy of the facts read once when the platform was created.
    [[nodiscard]] virtual SystemFacts system_facts() const = 0;
    // 2. Every startup item, read afresh.
    [[nodiscard]] virtual ScanResult scan() = 0;
    // 3, 4. `items` is the last scan; it is used only to fill entry_id.
    [[nodiscard]] virtual ProgramList running_programs(const std::vector<StartupItem>& items) = 0;
    [[nodiscard]] virtual ProgramList installed_programs(const std::vector<StartupItem>& items) = 0;
    // 5. Switches an item found in a fresh scan; reads only its kind, name and
    // spec pairs. `stop_now` matters only for services.
    [[nodiscard]] virtual Result<ChangeOutcome> set_enabled(const StartupItem& item, bool on, bool stop_now) = 0;
    // 6, 7. The program's own entries.
    [[nodiscard]] virtual Result<CreatedEntry> create_entry(const CreateDetails& details, bool admin) = 0;
    [[nodiscard]] virtual Result<ChangeOutcome> remove_entry(const StartupItem& item) = 0;
    // 8. Returns once the elevated copy has started; the caller then ends.
    [[nodiscard]] virtual Result<void> restart_elevated(const std::vector<std::string>& arguments) = 0;
    // 9. Never fails.
    virtual void open_in_browser(const std::string& link) = 0;
    // 10. Self-checks for the doctor report, in order.
    [[nodiscard]] virtual std::vector<Probe> doctor_probes() = 0;
    // 11. What the computer's records say about starting as a whole (the
    // scan's `cost`), read without reading the items.
    [[nodiscard]] virtual StartupCost startup_cost() = 0;
    // 12. Takes a way the item offers (its `ways`), or takes back the one it
    // has taken, for an item found in a fresh scan. Either the whole change
    // is made or, as far as the computer allows, none of it: a sign-in
    // program's own entry is made before the item is switched off, and the
    // item is switched on before that entry is removed.
    [[nodiscard]] virtual Result<WayOutcome> set_start_way(const StartupItem& item, const WayRequest& request) = 0;
    // 13. Starts watching the places that `scan` reads; `wake` ends a wait
    // early. A place that is missing or cannot be watched is a note, never a
    // failure; the failure is for a watch that cannot be made at all.
    [[nodiscard]] virtual Result<std::unique_ptr<ChangeWatch>> watch_changes(
        std::shared_ptr<os::WakeSignal> wake) = 0;
};

// A watch of no places: it waits for its wake signal only (the
// demonstration's computer never changes by itself).
[[nodiscard]] std::unique_ptr<ChangeWatch> wake_only_watch(std::shared_ptr<os::WakeSignal> wake);

// The ways every program can be made to start, "login" then "boot"; "login"
// is recommended unless the program is part of the operating system.
[[nodiscard]] std::vector<StartMode> program_start_modes(bool system);
// The one way offered for a running service that starts only on demand.
[[nodiscard]] StartMode service_auto_mode();

// The sentence for a kind that no part of a platform handles.
[[nodiscard]] std::string unsupported_kind_message(ItemKind kind);

// JSON forms, keys in the order of the fields above.
[[nodiscard]] json::JsonValue start_mode_json(const StartMode& mode);
[[nodiscard]] json::JsonValue candidate_json(const Candidate& candidate);
[[nodiscard]] json::JsonValue probe_json(const Probe& probe);

// The doctor's "Startup cost" check: whether this computer's records could be
// read, and which; a warning that says "Not measurable here" when none could.
[[nodiscard]] Probe startup_cost_probe(const StartupCost& cost);
[[nodiscard]] json::JsonValue system_facts_json(const SystemFacts& facts);
[[nodiscard]] json::JsonValue create_details_json(const CreateDetails& details);
// Reads the seven members leniently: a missing or non-text member is empty.
[[nodiscard]] CreateDetails create_details_from_json(const json::JsonValue& object);

}  // namespace qm::model
