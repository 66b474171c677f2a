// The closed sets of words that items, changes and checks are described by,
// as types. Inside the program they are enum values; they become text only
// where JSON, the journal, backups or the screen need it (word_text), and
// text becomes a value again only through the strict readers (read_...),
// which know exactly the words written here and nothing else. The texts are
// the stored and shown ones and must never change.
#pragma once

#include <optional>
#include <ostream>
#include <string_view>

namespace qm::model {

// The kind of place an item starts from.
enum class ItemKind {
    run,           // a registry Run value (Windows)
    folder,        // a file in a Startup folder (Windows)
    service,       // a Windows service
    task,          // a scheduled task with a sign-in or boot trigger (Windows)
    systemd,       // a systemd unit of the whole computer (Linux)
    systemd_user,  // a systemd user unit (Linux)
    launchd,       // a launchd job (macOS; known to the knowledge, read by no platform yet)
    cron,          // an @reboot line of a crontab (Linux)
    autostart,     // an XDG autostart file (Linux)
};

// Whom an item applies to.
enum class Scope { machine, user };

// Whether an item can be switched here.
enum class Toggle {
    ok,      // by anyone who runs the program
    admin,   // only with administrator (root) rights
    locked,  // not at all; the item's toggle note says why
};

// Who put an item there, in words for people.
enum class Origin {
    none,                    // not said
    operating_system,        // "Operating system"
    installed_program,       // "Installed program"
    own_entry,               // "Created by Quillmoor"
    added_for_this_account,  // "Added for this account"
};

// How sure an assessment is.
enum class Confidence { low, medium, high };

// The outcome of one self-check of the doctor.
enum class ProbeStatus { ok, warn, fail };

// Where a program that could be made to start was found.
enum class CandidateSource { process, service, app };

// A change to an item, as planned and as journalled; `undo` is only ever a
// journal record (the undoing itself is one of the others). Then the gentler
// ways than off: start later ("later"), start only when needed ("manual",
// the start type it gives a service), and start again as it did before
// either ("on-time"). `observed` is only ever a journal record too: a change
// on the computer that a watch saw and the program did not make, which
// nothing undoes. The words fit the history's column.
enum class ChangeAction { enable, disable, create, remove, undo, later, when_needed, on_time, observed };

// What changed about an item since the scans before ("new", "came back",
// "command changed", "gone"); none when nothing did.
enum class ItemChange { none, added, came_back, command_changed, gone };

// What an item was measured to cost when the computer starts or its user
// signs in ("high", "medium", "low", "not measured").
enum class ImpactLevel { high, medium, low, not_measured };

// Which records measured it ("", "sign-in records", "boot log", "systemd").
enum class MeasuredBy {
    nothing,
    sign_in_records,  // Windows' records of what ran after a sign-in
    boot_log,         // Windows' boot-performance log
    systemd,          // the times systemd keeps for the current boot
};

[[nodiscard]] std::string_view word_text(ItemKind kind);
[[nodiscard]] std::string_view word_text(Scope scope);
[[nodiscard]] std::string_view word_text(Toggle toggle);
[[nodiscard]] std::string_view word_text(Origin origin);
[[nodiscard]] std::string_view word_text(Confidence confidence);
[[nodiscard]] std::string_view word_text(ProbeStatus status);
[[nodiscard]] std::string_view word_text(CandidateSource source);
[[nodiscard]] std::string_view word_text(ChangeAction action);
[[nodiscard]] std::string_view word_text(ImpactLevel level);
[[nodiscard]] std::string_view word_text(ItemChange change);
[[nodiscard]] std::string_view word_text(MeasuredBy source);

[[nodiscard]] std::optional<ItemKind> read_item_kind(std::string_view text);
[[nodiscard]] std::optional<Scope> read_scope(std::string_view text);
[[nodiscard]] std::optional<ChangeAction> read_change_action(std::string_view text);
[[nodiscard]] std::optional<ItemChange> read_item_change(std::string_view text);

// What a kind of place means for starting and for judging an item.
// A service the system manages: its program file names it as well as its name.
[[nodiscard]] bool is_service_kind(ItemKind kind);
// An entry that starts with one account's sign-in, which the operating
// system does not depend on.
[[nodiscard]] bool starts_at_sign_in(ItemKind kind);
// An ordinary entry that any program or user can add, so a system
// component's name there proves nothing.
[[nodiscard]] bool anyone_can_add(ItemKind kind);
// An item of the whole computer of this kind starts when the computer
// starts, before anyone signs in.
[[nodiscard]] bool starts_at_boot_for_machine(ItemKind kind);

// Printed as their text, so that a failed test names the word.
std::ostream& operator<<(std::ostream& out, ItemKind kind);
std::ostream& operator<<(std::ostream& out, Scope scope);
std::ostream& operator<<(std::ostream& out, Toggle toggle);
std::ostream& operator<<(std::ostream& out, Origin origin);
std::ostream& operator<<(std::ostream& out, Confidence confidence);
std::ostream& operator<<(std::ostream& out, ProbeStatus status);
std::ostream& operator<<(std::ostream& out, CandidateSource source);
std::ostream& operator<<(std::ostream& out, ChangeAction action);

}  // namespace qm::model
