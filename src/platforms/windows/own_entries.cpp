#include "platforms/windows/own_entries.h"

#include <functional>

#include "os/system_tool.h"
#include "os/environment.h"
#include "os/files.h"
#include "platforms/windows/approval_flag.h"
#include "platforms/windows/powershell.h"
#include "platforms/windows/registry.h"
#include "platforms/windows/tasks.h"
#include "util/text.h"
#include "util/time_text.h"

namespace qm::windows {

namespace {

constexpr std::string_view own_prefix = "Quillmoor-";
constexpr std::string_view user_run_path = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr std::string_view startup_sub = "Microsoft\\Windows\\Start Menu\\Programs\\Startup";

// The shortcut is made by the shell's own link object; the four values reach
// the script only through the environment, so no path needs quoting.
constexpr std::string_view shortcut_script =
    "$sh=New-Object -ComObject WScript.Shell\n"
    "$l=$sh.CreateShortcut($env:QM_LNK)\n"
    "$l.TargetPath=$env:QM_TARGET\n"
    "$l.Arguments=$env:QM_ARGS\n"
    "$l.WorkingDirectory=$env:QM_WORKDIR\n"
    "$l.Description='Created by Quillmoor'\n"
    "$l.Save()";

bool looks_like_a_path(std::string_view program) { return program.find_first_of("\\/:") != std::string_view::npos; }

// "C:\x\y.exe" → "c:\x", for comparing folders without regard to case.
std::string lower_folder_of(std::string_view path) {
    const std::size_t separator = path.find_last_of("\\/");
    std::string folder =
        to_lower_ascii(separator == std::string_view::npos ? std::string_view() : path.substr(0, separator));
    while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    return folder;
}

struct SplitCommand {
    std::string program;
    std::string arguments;  // joined by single spaces, those with spaces quoted
};

SplitCommand split_command(std::string_view command) {
    const std::vector<std::string> words = split_command_line(command, false);
    SplitCommand split;
    if (words.empty()) return split;
    split.program = words[0];
    for (std::size_t i = 1; i < words.size(); ++i) {
        if (!split.arguments.empty()) split.arguments += ' ';
        const bool quote = words[i].empty() || words[i].find(' ') != std::string::npos;
        split.arguments += quote ? "\"" + words[i] + "\"" : words[i];
    }
    return split;
}

model::StartupItem created_item(model::ItemKind kind, std::string kind_label, model::Scope scope, std::string location,
                                std::string name, const std::string& command, const std::string& exe,
                                const std::string& mode) {
    model::StartupItem item(kind, std::move(kind_label), scope, std::move(location), std::move(name));
    item.command = command;
    item.exe = exe;
    item.origin = model::Origin::own_entry;
    item.managed = true;
    item.enabled = true;
    item.set_spec("short", item.name);
    item.set_spec("mode", mode);
    return item;
}

Result<model::CreatedEntry> create_boot_task(const std::string& slug, const model::CreateDetails& details,
                                             const SplitCommand& split, const os::ToolRunner& runner) {
    const std::string task_base = std::string(own_task_folder) + std::string(own_prefix) + slug;
    const std::string path =
        free_name(task_base, [&](const std::string& candidate) { return task_exists(candidate, runner); });
    const std::string document = own_boot_task_document(details.name, split.program, split.arguments, details.workdir);
    const std::string file = QM_TRY(write_task_file(document));
    const os::RunOutput created = register_task(path, file, runner);
    (void)os::remove_file(file);
    if (!created.succeeded()) return fail("Windows could not create the task. " + os::tool_output_text(created));

    const std::string name = path.substr(own_task_folder.size());
    model::StartupItem item = created_item(model::ItemKind::task, "Scheduled task", model::Scope::machine, path, name,
                                           details.command, split.program, details.mode);
    item.set_spec("uri", path);
    item.set_spec("runs_at", "boot");
    item.state_text = "Enabled (runs at boot)";
    return model::CreatedEntry{std::move(item),
                               model::ChangeOutcome{name + " will start when the computer starts.", {}}};
}

Result<model::CreatedEntry> create_shortcut(const std::string& slug, const model::CreateDetails& details,
                                            const SplitCommand& split, const os::ToolRunner& runner) {
    const std::string folder = user_startup_folder();
    const std::string base = std::string(own_prefix) + slug;
    const std::string name = free_name(base, [&](const std::string& candidate) {
        return os::path_kind(os::join_path(folder, candidate + ".lnk")) != os::PathKind::missing;
    });
    const std::string file = os::join_path(folder, name + ".lnk");
    (void)os::create_folders(folder);
    PowerShellRun run;
    run.script = std::string(shortcut_script);
    run.environment = {{"QM_LNK", file},
                       {"QM_TARGET", split.program},
                       {"QM_ARGS", split.arguments},
                       {"QM_WORKDIR", details.workdir}};
    run.time_limit_seconds = 60;
    const os::RunOutput output = run_powershell(run, runner);
    if (os::path_kind(file) != os::PathKind::file) {
        return fail("The shortcut could not be created. " + os::tool_output_text(output));
    }

    model::StartupItem item = created_item(model::ItemKind::folder, "Startup folder (this user)", model::Scope::user,
                                           folder, name, details.command, split.program, details.mode);
    item.set_spec("hive", "HKCU");
    item.set_spec("approved", "StartupFolder");
    item.set_spec("file", file);
    item.set_spec("workdir", details.workdir);
    item.state_text = "Enabled";
    return model::CreatedEntry{std::move(item), model::ChangeOutcome{name + " will start when you sign in.", {}}};
}

Result<model::CreatedEntry> create_run_value(const std::string& slug, const model::CreateDetails& details,
                                             const SplitCommand& split) {
    RegistryResult<RegistryKey> key = create_key(HKEY_CURRENT_USER, user_run_path, KEY_READ | KEY_WRITE);
    if (!key) return fail(registry_failure("your Run list", key.error()));
    const std::string name = free_name(std::string(own_prefix) + slug, [&](const std::string& candidate) {
        // A name whose value cannot be read counts as taken.
        const RegistryResult<std::optional<RawValue>> value = try_read_raw(key->get(), candidate);
        return !value || value->has_value();
    });
    const std::string command =
        "\"" + split.program + "\"" + (split.arguments.empty() ? std::string() : " " + split.arguments);
    if (RegistryResult<void> written = write_text(key->get(), name, command); !written) {
        return fail(registry_failure("your Run list", written.error()));
    }
    // A value of the same name switched off before must not keep the new
    // entry switched off.
    if (RegistryResult<RegistryKey> approval = open_key(HKEY_CURRENT_USER, std::string(startup_approved_path) + "\\Run",
                                                        KEY_READ | KEY_WRITE | KEY_WOW64_64KEY)) {
        (void)delete_value(approval->get(), name);
    }

    model::StartupItem item = created_item(model::ItemKind::run, "Registry (Run, this user)", model::Scope::user,
                                           "HKCU\\Run\\64", name, command, split.program, details.mode);
    item.set_spec("hive", "HKCU");
    item.set_spec("approved", "Run");
    item.state_text = "Enabled";
    return model::CreatedEntry{std::move(item), model::ChangeOutcome{name + " will start when you sign in.", {}}};
}

// The approval value of an entry that is gone, so that a later entry of the
// same name starts switched on. A failure here changes nothing that matters.
void delete_approval_value(std::string_view approved, const std::string& value_name) {
    RegistryResult<RegistryKey> key =
        open_key(HKEY_CURRENT_USER, std::string(startup_approved_path) + "\\" + std::string(approved),
                 KEY_READ | KEY_WRITE | KEY_WOW64_64KEY);
    if (key) (void)delete_value(key->get(), value_name);
}

}  // namespace

std::string free_name(const std::string& base, const std::function<bool(const std::string&)>& taken) {
    if (!taken(base)) return base;
    for (int number = 2; number <= 99; ++number) {
        std::string candidate = base + " " + std::to_string(number);
        if (!taken(candidate)) return candidate;
    }
    return base + " " + std::to_string(now_unix_seconds());
}

// A query that fails means no task of that name exists.
bool task_exists(const std::string& task_path, const os::ToolRunner& runner) {
    return runner(os::ToolRun{os::system_tool("schtasks.exe"), {"/Query", "/TN", task_path}, {}, 20}).succeeded();
}

std::string user_startup_folder() { return os::join_path(os::get_env("APPDATA").value_or(""), startup_sub); }

Result<model::CreatedEntry> create_own_entry(const model::CreateDetails& details, bool admin,
                                             const os::ToolRunner& runner) {
    for (const auto& [text, field] : {std::pair{&details.name, "name"}, std::pair{&details.command, "command"},
                                      std::pair{&details.workdir, "working folder"}}) {
        if (has_control_character(*text)) {
            return fail(std::string("The ") + field +
                        " contains a line break or control character, which is not allowed.");
        }
    }
    const std::string slug = make_slug(details.name);
    if (slug.empty()) return fail("A name is required.");
    if (details.mode == "service-auto") return fail("Use the existing service entry to switch this on.");
    if (details.mode != "login" && details.mode != "boot") {
        return fail("\"" + details.mode + "\" is not a way to start a program on Windows.");
    }
    const SplitCommand split = split_command(details.command);
    if (split.program.empty()) return fail("A command is required.");
    if (looks_like_a_path(split.program) && os::path_kind(split.program) == os::PathKind::missing) {
        return fail("The program file does not exist: " + split.program);
    }

    if (details.mode == "boot") {
        if (!admin) return fail("Creating a start-up task for the whole computer needs administrator rights.");
        return create_boot_task(slug, details, split, runner);
    }
    // A working folder of its own needs a shortcut: a Run value cannot say
    // where the program starts.
    if (!details.workdir.empty() && lower_folder_of(details.workdir + "\\") != lower_folder_of(split.program)) {
        return create_shortcut(slug, details, split, runner);
    }
    return create_run_value(slug, details, split);
}

Result<model::ChangeOutcome> remove_own_entry(const model::StartupItem& item, bool admin,
                                              const os::ToolRunner& runner) {
    if (item.kind == model::ItemKind::run) {
        const std::string& value_name = item.spec_value("short");
        if (item.spec_value("hive") != "HKCU" || !value_name.starts_with(own_prefix)) {
            return fail("That entry is not one Quillmoor creates in your own Run list, so it will not be deleted.");
        }
        RegistryResult<RegistryKey> key = open_key(HKEY_CURRENT_USER, user_run_path, KEY_READ | KEY_WRITE);
        if (key) {
            if (RegistryResult<void> deleted = delete_value(key->get(), value_name); !deleted) {
                return fail("Could not delete " + item.name + ": " +
                            registry_failure("your Run list", deleted.error()));
            }
        } else if (key.error().code != ERROR_FILE_NOT_FOUND) {
            return fail("Could not delete " + item.name + ": " + registry_failure("your Run list", key.error()));
        }
        delete_approval_value("Run", value_name);
        return model::ChangeOutcome{"Removed " + item.name + " from your Run list.", {}};
    }
    if (item.kind == model::ItemKind::folder) {
        const std::string& file = item.spec_value("file");
        const std::string_view name = file_name(file);
        const std::string folder = lower_folder_of(file);
        if (folder != to_lower_ascii(user_startup_folder()) || !name.starts_with(own_prefix)) {
            return fail(
                "That shortcut is not one Quillmoor creates in your own Startup folder, so it will not be deleted.");
        }
        if (Result<void> removed = os::remove_file(file); !removed) {
            return fail("Could not delete " + file + ": " + os::failure_reason(removed.error().message));
        }
        delete_approval_value("StartupFolder", std::string(name));
        return model::ChangeOutcome{"Deleted the start-up shortcut " + item.name + ".", {}};
    }
    if (item.kind == model::ItemKind::task) {
        const std::string& uri = item.spec_value("uri");
        if (!uri.starts_with(own_task_folder)) {
            return fail("That task is not in Quillmoor's own task folder, so it will not be deleted.");
        }
        const os::RunOutput deleted = delete_task(uri, runner);
        if (!deleted.succeeded()) {
            if (!admin) return fail("Windows refused to delete the scheduled task.");
            return fail("Windows could not delete the task. " + os::tool_output_text(deleted));
        }
        return model::ChangeOutcome{"Deleted the scheduled task " + uri + ".", {}};
    }
    return fail("Only entries created by Quillmoor can be removed.");
}

}  // namespace qm::windows
