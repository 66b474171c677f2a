#include "platforms/windows/sign_in_later.h"

#include <charconv>
#include <optional>
#include <string>
#include <string_view>

#include "model/start_ways.h"
#include "os/files.h"
#include "platforms/windows/approval_flag.h"
#include "platforms/windows/own_entries.h"
#include "platforms/windows/registry.h"
#include "platforms/windows/tasks.h"
#include "util/hex.h"
#include "util/text.h"

namespace qm::windows {

namespace {

constexpr std::string_view later_prefix = "Quillmoor-later-";

struct LaterCommand {
    std::string program;
    std::string arguments;  // as the entry has them
    std::string workdir;
};

// What the entry starts: a shortcut's target, arguments and working folder
// (the scan writes its command as the quoted target and the arguments); a
// Run value's program, read as Windows reads it, and the rest of its text
// unchanged, so the task starts exactly what the entry started.
std::optional<LaterCommand> later_command(const model::StartupItem& item) {
    const std::string command = trim(item.command);
    LaterCommand out;
    std::string_view rest;
    if (command.starts_with('"')) {
        const std::size_t close = command.find('"', 1);
        if (close == std::string::npos) return std::nullopt;
        out.program = command.substr(1, close - 1);
        rest = std::string_view(command).substr(close + 1);
    } else if (!item.exe.empty() && command.size() >= item.exe.size() &&
               equal_ignoring_ascii_case(std::string_view(command).substr(0, item.exe.size()), item.exe) &&
               (command.size() == item.exe.size() || command[item.exe.size()] == ' ')) {
        // An unquoted path with spaces, as the scan resolved it.
        out.program = item.exe;
        rest = std::string_view(command).substr(item.exe.size());
    } else {
        const std::size_t space = command.find(' ');
        out.program = command.substr(0, space);
        if (space != std::string::npos) rest = std::string_view(command).substr(space);
    }
    if (out.program.empty() || (!rest.empty() && rest.front() != ' ')) return std::nullopt;
    out.arguments = trim(rest);
    if (item.kind == model::ItemKind::folder) out.workdir = item.spec_value("workdir");
    return out;
}

std::string approval_path(const model::StartupItem& item) {
    return std::string(startup_approved_path) + "\\" + item.spec_value("approved");
}

std::string approval_value_name(const model::StartupItem& item) {
    return item.kind == model::ItemKind::folder ? std::string(file_name(item.spec_value("file")))
                                                : item.spec_value("short");
}

// Writes the approval value as it was: `value` absent means there was none.
Result<void> put_approval_value(HKEY key, const std::string& name, const std::optional<RawValue>& value) {
    RegistryResult<void> done = value ? write_value(key, name, value->type, value->bytes) : delete_value(key, name);
    if (!done) return fail(registry_failure("the start-up approval flag", done.error()));
    return {};
}

}  // namespace

bool can_start_later(const model::StartupItem& item) {
    if (item.kind != model::ItemKind::run && item.kind != model::ItemKind::folder) return false;
    if (item.spec_value("hive") != "HKCU" || item.spec_value("approved").empty()) return false;
    if (item.toggle == model::Toggle::locked || item.unreadable) return false;
    // A file Windows opens itself (a document, an Internet shortcut) is no
    // command a task can run.
    if (item.kind == model::ItemKind::folder && item.command == item.spec_value("file")) return false;
    return later_command(item).has_value();
}

Result<model::WayOutcome> start_after_sign_in(const model::StartupItem& item, std::uint32_t seconds,
                                              const os::ToolRunner& runner) {
    if (!can_start_later(item)) return fail(item.name + " cannot be made to start later here.");
    if (seconds == 0 || seconds > model::longest_later_seconds) {
        return fail("A start between 1 second and 24 hours after sign-in can be chosen.");
    }
    const LaterCommand command = *later_command(item);
    const Result<std::string> user = current_user_sid();
    if (!user) return fail("Your account could not be read, so " + item.name + " was left as it was.");

    // The approval value as it is, kept in the task for taking it back.
    LaterStart later;
    later.item_id = item.id();
    later.item_name = item.name;
    RegistryResult<std::optional<RegistryKey>> key =
        try_open_key(HKEY_CURRENT_USER, approval_path(item), KEY_READ | KEY_WOW64_64KEY);
    if (!key) return fail(registry_failure("the start-up approval flag", key.error()));
    if (*key) {
        RegistryResult<std::optional<RawValue>> value = try_read_raw((*key)->get(), approval_value_name(item));
        if (!value) return fail(registry_failure("the start-up approval flag", value.error()));
        if (*value) {
            later.had_approval = true;
            later.approval_type = (*value)->type;
            later.approval_bytes = (*value)->bytes;
        }
    }

    const std::string path = free_name(std::string(own_task_folder) + std::string(later_prefix) + make_slug(item.name),
                                       [&](const std::string& candidate) { return task_exists(candidate, runner); });
    const std::string document =
        own_later_task_document(later, *user, seconds, command.program, command.arguments, command.workdir);
    const std::string file = QM_TRY(write_task_file(document));
    const os::RunOutput created = register_task(path, file, runner);
    (void)os::remove_file(file);
    if (!created.succeeded()) return fail("Windows could not create the task. " + os::tool_output_text(created));

    // The approval flag written without the data folder: the task keeps what
    // was there before, and only the task's record is used to take it back.
    Result<model::ChangeOutcome> off = switch_by_approval_flag(item, false);
    if (!off) {
        (void)delete_task(path, runner);
        return fail(off.error());
    }
    const std::string name = path.substr(own_task_folder.size());
    const model::StartupItem task(model::ItemKind::task, "Scheduled task", model::Scope::machine, path, name);
    return model::WayOutcome{
        model::ChangeOutcome{item.name + " will start " + model::seconds_text(seconds) + " after you sign in.", {}},
        task.id()};
}

Result<model::WayOutcome> start_on_time(const model::StartupItem& item, const model::StartupItem* own_entry,
                                        const os::ToolRunner& runner) {
    if (own_entry == nullptr) {
        return fail("The task that starts " + item.name + " later was not found, so nothing was changed.");
    }
    const std::string& uri = own_entry->spec_value("uri");
    if (!uri.starts_with(own_task_folder) || own_entry->spec_value("delays") != item.id()) {
        return fail("That task is not the one Quillmoor made to start " + item.name + " later, so it is left alone.");
    }
    if (item.spec_value("hive") != "HKCU" || item.spec_value("approved").empty()) {
        return fail(item.name + " is not an entry whose later start Quillmoor can take back.");
    }
    // "none", or "{type}:{hex}" as the scan read it from the task.
    std::optional<RawValue> before;
    const std::string& recorded = own_entry->spec_value("approval");
    if (recorded != "none") {
        const std::size_t colon = recorded.find(':');
        const std::optional<std::string> bytes =
            colon == std::string::npos ? std::nullopt : from_hex(std::string_view(recorded).substr(colon + 1));
        std::uint32_t type = 0;
        const bool typed =
            colon != std::string::npos &&
            std::from_chars(recorded.data(), recorded.data() + colon, type).ptr == recorded.data() + colon;
        if (!bytes || !typed) {
            return fail("The task that starts " + item.name +
                        " later does not say how it was before, so it is "
                        "left as it is.");
        }
        before = RawValue{static_cast<DWORD>(type), *bytes};
    }

    RegistryResult<RegistryKey> key =
        create_key(HKEY_CURRENT_USER, approval_path(item), KEY_READ | KEY_WRITE | KEY_WOW64_64KEY);
    if (!key) return fail(registry_failure("the start-up approval flag", key.error()));
    const std::string value_name = approval_value_name(item);
    RegistryResult<std::optional<RawValue>> now = try_read_raw(key->get(), value_name);
    if (!now) return fail(registry_failure("the start-up approval flag", now.error()));
    QM_TRY_VOID(put_approval_value(key->get(), value_name, before));

    const os::RunOutput deleted = delete_task(uri, runner);
    if (!deleted.succeeded()) {
        // Both would start otherwise: the entry goes back to how the task left it.
        (void)put_approval_value(key->get(), value_name, *now);
        return fail("Windows could not delete the task that starts " + item.name +
                    " later, so nothing was "
                    "changed. " +
                    os::tool_output_text(deleted));
    }
    return model::WayOutcome{model::ChangeOutcome{item.name + " will start as it did before.", {}}, {}};
}

}  // namespace qm::windows
