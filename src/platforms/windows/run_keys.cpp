#include "platforms/windows/run_keys.h"

#include <optional>

#include "platforms/windows/approval_flag.h"
#include "platforms/windows/registry.h"
#include "platforms/windows/sign_in_later.h"

namespace qm::windows {

namespace {

constexpr std::string_view own_name_prefix = "Quillmoor-";

// The note for a key that is there but could not be read, with Windows' code.
std::string unreadable_note(const knowledge::RunKeyLocation& location, std::string_view path, RegistryError error) {
    return location.label + ": " + location.hive + "\\" + std::string(path) + " could not be read (Windows error " +
           std::to_string(error.code) + ").";
}

// The location's approval key, opened once for all its values; none when it
// does not exist yet, or cannot be read (every value then counts as
// switched on, and a note says why).
std::optional<RegistryKey> open_approval_key(const knowledge::RunKeyLocation& location,
                                             std::vector<std::string>& notes) {
    const std::string path = std::string(startup_approved_path) + "\\" + location.approved;
    RegistryResult<std::optional<RegistryKey>> key =
        try_open_key(registry_root(location.hive), path, KEY_READ | KEY_WOW64_64KEY);
    if (!key) {
        notes.push_back(unreadable_note(location, path, key.error()));
        return std::nullopt;
    }
    return std::move(*key);
}

void scan_location(const knowledge::RunKeyLocation& location, bool admin, ProgramFacts& programs,
                   std::vector<model::StartupItem>& items, std::vector<std::string>& notes) {
    const REGSAM access = KEY_READ | view_flag(registry_view(location.view));
    RegistryResult<std::optional<RegistryKey>> key = try_open_key(registry_root(location.hive), location.path, access);
    if (!key) {
        notes.push_back(unreadable_note(location, location.path, key.error()));
        return;
    }
    if (!*key) return;  // no such key: nothing starts from it
    const std::string location_text = run_location_text(location);
    const bool locked = !location.locked.empty();
    // The flags are read with one enumeration rather than one call per value.
    std::optional<ValueTable> approval_flags;
    // When each key was last written: the registry keeps a time per key, not
    // per value, so an item's entry is known to have been written no later
    // than its key's time, and that is the closest the computer records.
    const std::int64_t run_written = formats::unix_seconds_of_file_time(key_last_write((*key)->get()));
    std::int64_t approval_written = 0;
    if (!locked) {
        if (const std::optional<RegistryKey> approval_key = open_approval_key(location, notes)) {
            approval_flags.emplace(approval_key->get());
            approval_written = formats::unix_seconds_of_file_time(key_last_write(approval_key->get()));
        }
    }

    const std::vector<EnumeratedValue> values = enumerate_values((*key)->get());
    // The command of a value that names one.
    const auto command_of = [](const EnumeratedValue& value) -> std::optional<std::string> {
        if (value.name.empty() || (value.type != REG_SZ && value.type != REG_EXPAND_SZ)) return std::nullopt;
        std::string command = decode_registry_text(value.bytes);
        if (value.type == REG_EXPAND_SZ) command = expand_references(command);
        return command;
    };
    // The version information of every program named, read at once.
    std::vector<std::string> named;
    for (const EnumeratedValue& value : values) {
        if (const std::optional<std::string> command = command_of(value)) {
            std::string program = programs.command(*command).program;
            if (!program.empty()) named.push_back(std::move(program));
        }
    }
    programs.read_versions(named);

    for (const EnumeratedValue& value : values) {
        std::optional<std::string> command = command_of(value);
        if (!command) continue;

        model::StartupItem item(model::ItemKind::run, location.label, location.scope, location_text, value.name);
        item.command = std::move(*command);
        item.changed = model::ChangeTime{run_written, "the Run value was written"};
        programs.fill(item);
        item.set_spec("short", value.name);
        item.set_spec("hive", location.hive);
        item.set_spec("approved", location.approved);
        if (!value.exact_name) {
            // Its approval flag could be neither read nor written under the name.
            item.toggle = model::Toggle::locked;
            item.toggle_note = std::string(inexact_name_note);
            item.enabled = true;
            item.state_text = "Enabled";
        } else if (!locked) {
            const ApprovalFlag flag =
                approval_flags ? approval_flag_of(approval_flags->find(value.name)) : ApprovalFlag::none;
            // The approval key's time counts only for an item with a flag in it.
            if (flag != ApprovalFlag::none && approval_written > run_written) {
                item.changed = model::ChangeTime{approval_written, "its switch under StartupApproved was written"};
            }
            item.enabled = flag != ApprovalFlag::off;
            item.state_text = item.enabled ? "Enabled" : "Disabled";
            if (location.hive == "HKLM" && !admin) item.toggle = model::Toggle::admin;
        } else {
            item.toggle = model::Toggle::locked;
            item.toggle_note = location.locked;
            item.enabled = true;
            item.state_text = "Runs";
        }
        if (value.name.starts_with(own_name_prefix)) {
            item.managed = true;
            item.origin = model::Origin::own_entry;
        }
        if (can_start_later(item)) item.ways.later = model::LaterKind::after_sign_in;
        items.push_back(std::move(item));
    }
}

}  // namespace

std::string run_location_text(const knowledge::RunKeyLocation& location) {
    const std::size_t last_separator = location.path.rfind('\\');
    const std::string last_part =
        last_separator == std::string::npos ? location.path : location.path.substr(last_separator + 1);
    return location.hive + "\\" + last_part + "\\" + (location.view == "32" ? "32" : "64");
}

void scan_run_keys(const std::vector<knowledge::RunKeyLocation>& locations, bool admin, ProgramFacts& programs,
                   model::ScanResult& result) {
    for (const knowledge::RunKeyLocation& location : locations) {
        scan_location(location, admin, programs, result.items, result.notes);
    }
}

}  // namespace qm::windows
