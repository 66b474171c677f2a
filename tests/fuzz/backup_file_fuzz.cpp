// libFuzzer target for backup files: any bytes are refused with a message or
// read as a backup, every item field is read, and the restore plan against
// the demonstration computer holds together: only entries that name an item
// once and say whether it was on become changes, and each change follows
// what that entry says.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

#include "platforms/demo/demo_platform.h"
#include "engine/backups.h"
#include "engine/engine_context.h"
#include "json/json.h"
#include "model/platform.h"
#include "util/decode.h"

namespace {

qm::engine::EngineContext& fuzz_context() {
    // A data folder that does not exist: nothing is read from or written to disk.
    static qm::engine::EngineContext context(std::make_unique<qm::demo::DemoPlatform>(false),
                                             qm::model::data_folder_override("/nonexistent/quillmoor-backup-fuzz"));
    return context;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text = qm::decode_text(std::string_view(reinterpret_cast<const char*>(data), size));
    const qm::Result<qm::json::JsonValue> backup = qm::engine::parse_backup(text);
    if (!backup) {
        if (backup.error().message.empty()) __builtin_trap();
        return 0;
    }

    // The first entry of every id, as the plan must use it.
    std::unordered_map<std::string, const qm::json::JsonValue*> first;
    for (const qm::json::JsonValue& entry : qm::json::get(*backup, "items")->as_array()) {
        for (const char* key : {"id", "name", "state_text", "kind", "scope", "location", "command"}) {
            (void)qm::json::get_text(entry, key);
        }
        (void)qm::json::get_flag(entry, "managed");
        if (const qm::json::JsonValue* spec = qm::json::get(entry, "spec"))
            (void)qm::model::create_details_from_json(*spec);
        const qm::json::JsonValue* id = qm::json::get(entry, "id");
        if (id != nullptr && id->is_string()) first.try_emplace(id->as_string(), &entry);
    }

    const qm::engine::RestorePlan plan = qm::engine::restore_plan(fuzz_context(), *backup);
    std::unordered_map<std::string, int> changes;
    for (const qm::engine::RestoreRow& row : plan.rows) {
        const bool needs_request = row.what == qm::engine::RestoreRowKind::state ||
                                   row.what == qm::engine::RestoreRowKind::recreate ||
                                   row.what == qm::engine::RestoreRowKind::remove;
        if (needs_request != row.request.has_value()) __builtin_trap();
        if (row.what == qm::engine::RestoreRowKind::state) {
            auto found = first.find(row.id);
            if (found == first.end()) __builtin_trap();
            const qm::json::JsonValue* enabled = qm::json::get(*found->second, "enabled");
            if (enabled == nullptr || !enabled->is_bool()) __builtin_trap();
            if (row.request->action !=
                (enabled->as_bool() ? qm::model::ChangeAction::enable : qm::model::ChangeAction::disable))
                __builtin_trap();
        }
        if (row.request && ++changes[row.id] > 1) __builtin_trap();
    }
    (void)qm::json::write(plan.header);
    return 0;
}
