// The fourth source of a scan: scheduled tasks with a sign-in or boot trigger,
// read from the task definition files under the task roots (or, when no
// definition was found and either no root exists or part of them could not
// be read, from schtasks.exe /Query /XML); switching them with
// schtasks.exe; and the program's own boot task: its definition document,
// the file it is registered from, registering and deleting it.
// A scan reads the definition files on a few threads (work_pool.h) and
// returns when they are done; every other call runs on the caller's thread.
// schtasks.exe runs through the given runner, so tests can answer in its place.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/platform.h"
#include "os/run_tool.h"
#include "platforms/windows/program_files.h"
#include "platforms/windows/task_record.h"
#include "util/result.h"

namespace qm::windows {

// The Windows folder (SystemRoot), which the task roots are below.
[[nodiscard]] std::string system_root();

// Appends task items, every task found (whatever its triggers) as an actor
// with the time it last ran where the Task Scheduler records it
// (task_cache.h), and at most one note. Each root is a folder below
// SystemRoot ("System32\Tasks"); a root that does not exist is skipped. With
// a record, definition files unchanged since it was kept are not opened
// (task_record.h).
void scan_tasks(const std::vector<std::string>& task_roots, bool admin, ProgramFacts& programs,
                model::ScanResult& result, TaskRecord* record = nullptr, const os::ToolRunner& runner = os::run_tool);

// Switches the task named by the item's `uri` spec with schtasks.exe /Change.
[[nodiscard]] Result<model::ChangeOutcome> switch_task(const model::StartupItem& item, bool on, bool admin,
                                                       const os::ToolRunner& runner = os::run_tool);

// The user this process runs as, as a SID in its standard text form
// ("S-1-5-21-…"), read from the process token.
[[nodiscard]] Result<std::string> current_user_sid();

// The definition of the program's own task that starts `command` with
// `arguments` in `workdir` 30 seconds after boot, as the local system account
// with full rights. Lines end with a line feed; the values are XML-escaped.
[[nodiscard]] std::string own_boot_task_document(std::string_view name, std::string_view command,
                                                 std::string_view arguments, std::string_view workdir);

// What the program's own task that starts a sign-in program later keeps in
// its document's RegistrationInfo/Source, where Windows keeps it and does
// nothing with it: the item it starts, and the item's approval value as it
// was before the item was switched off, so taking the later start back
// leaves the registry as it was.
struct LaterStart {
    std::string item_id;
    std::string item_name;
    bool had_approval = false;  // false: there was no approval value
    std::uint32_t approval_type = 0;
    std::string approval_bytes;
};

// The Source text: {"quillmoor":"later","item":…,"name":…,"approval":null
// or {"type":n,"bytes":"hex"}}; read back exactly, or nothing for any other text.
[[nodiscard]] std::string later_start_source(const LaterStart& later);
[[nodiscard]] std::optional<LaterStart> read_later_start_source(std::string_view source);

// The definition of the program's own task that runs `command` with
// `arguments` in `workdir` `seconds` after the user `user_sid` signs in, as
// that user with the rights of a normal sign-in (no elevation).
[[nodiscard]] std::string own_later_task_document(const LaterStart& later, std::string_view user_sid,
                                                  std::uint32_t seconds, std::string_view command,
                                                  std::string_view arguments, std::string_view workdir);

// Writes a definition as UTF-16LE with its byte-order mark to a new file
// "quillmoor-task-{32 hex digits}.xml" in SystemRoot\Temp (or, when that
// folder does not exist, the user's temporary folder) and returns its path.
// The caller removes the file once the task is registered.
[[nodiscard]] Result<std::string> write_task_file(std::string_view document);

// schtasks.exe /Create /TN {task_path} /XML {definition_file} /F (replacing a
// task of that path) and schtasks.exe /Delete /TN {task_path} /F.
[[nodiscard]] os::RunOutput register_task(std::string_view task_path, const std::string& definition_file,
                                          const os::ToolRunner& runner = os::run_tool);
[[nodiscard]] os::RunOutput delete_task(std::string_view task_path, const os::ToolRunner& runner = os::run_tool);

}  // namespace qm::windows
