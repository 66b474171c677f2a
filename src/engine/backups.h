// Backups: snapshots of every startup item, saved once as a JSON file in the
// data folder's `backups` folder (automatic ones in `backups/auto`, pruned to
// the 30 newest), listed from every folder read, and compared with the
// computer as a restore plan whose ticked rows become ordinary change
// requests. A file is never overwritten: a second backup in the same second
// gets "-2", "-3", ... before ".json". Thread-safe through the context.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine_context.h"
#include "engine/plans.h"
#include "json/json.h"
#include "util/result.h"

namespace qm::engine {

inline constexpr std::string_view automatic_backup_label = "Automatic, before changes";
inline constexpr std::size_t automatic_backups_kept = 30;
// Backup files larger than this are not read (nor listed): a computer's
// backup is well under 2 MB, and a stray huge file must not fill the memory.
inline constexpr std::uint64_t backup_read_limit = 32ull << 20;

struct BackupSummary {
    std::string name;
    std::string path;
    std::string label;
    std::string time;
    std::string host;
    std::uint64_t count = 0;
    std::uint64_t size = 0;
    bool automatic = false;
};

// What a row of a restore plan is about.
enum class RestoreRowKind {
    state,     // an item whose state differs from the backup's
    remove,    // an entry of the program's own made after the backup
    recreate,  // an entry of the program's own in the backup that is gone
    missing,   // an item in the backup that is not on the computer
    note,      // an entry of the backup that cannot be used, with why
};
[[nodiscard]] std::string_view word_text(RestoreRowKind kind);

struct RestoreRow {
    RestoreRowKind what = RestoreRowKind::note;
    std::string id;
    std::string name;
    std::string text;
    bool ticked = false;
    std::optional<ChangeRequest> request;  // none for `missing` and `note`
};

struct RestorePlan {
    std::vector<RestoreRow> rows;
    json::JsonValue header;  // created, label, host, os, os_version, tool_version, count
    std::uint64_t same = 0;
    std::uint64_t appeared = 0;
    std::uint64_t locked = 0;  // items that differ but cannot be switched here, left alone
    bool different_computer = false;
};

// "{prefix}quillmoor-backup-{computer}-{stamp}.json" before any "-N".
[[nodiscard]] std::string backup_file_name(std::string_view computer, std::string_view created, bool automatic);
[[nodiscard]] bool is_valid_backup_name(std::string_view name);

[[nodiscard]] json::JsonValue make_backup(EngineContext& context, std::string_view label);
// The path of the new file.
[[nodiscard]] Result<std::string> save_backup(EngineContext& context, const json::JsonValue& backup, bool automatic);
// Writes a backup to a file the user named, replacing it when it is a
// regular file; anything else there (a folder, link or device) is refused.
[[nodiscard]] Result<void> save_backup_as(const json::JsonValue& backup, const std::string& path);
[[nodiscard]] std::vector<BackupSummary> list_backups(EngineContext& context);
[[nodiscard]] Result<std::string> read_backup(EngineContext& context, std::string_view name);
[[nodiscard]] Result<json::JsonValue> parse_backup(std::string_view text);
[[nodiscard]] Result<void> delete_backup(EngineContext& context, std::string_view name);
[[nodiscard]] RestorePlan restore_plan(EngineContext& context, const json::JsonValue& backup);

[[nodiscard]] json::JsonValue backup_summary_json(const BackupSummary& summary);

// The folder backups are written to.
[[nodiscard]] std::string backup_folder(const EngineContext& context);

}  // namespace qm::engine
