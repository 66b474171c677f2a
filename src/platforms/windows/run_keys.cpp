#include "platforms/windows/run_keys.h"

#include <optional>

#include "platforms/windows/approval_flag.h"
#include "platforms/windows/registry.h"

namespace qm::windows {

namespace {

constexpr std::string_view own_name_prefix = "Quillmoor-";

// The location's approval key, opened once for all its values; none when it
// does not exist yet (every value then counts as switched on).
std::optional<RegistryKey> open_approval_key(const knowledge::RunKeyLocation& location) {
    RegistryResult<RegistryKey> key =
        open_key(registry_root(location.hive), std::string(startup_approved_path) + "\\" + location.approved,
                 KEY_READ | KEY_WOW64_64KEY);
    if (!key) return std::nullopt;
    return std::move(*key);
}

void scan_location(const knowledge::RunKeyLocation& location, bool admin, ProgramFacts& programs,
                   std::vector<model::StartupItem>& items) {
    const REGSAM access = KEY_READ | view_flag(registry_view(location.view));
    RegistryResult<RegistryKey> key = open_key(registry_root(location.hive), location.path, access);
    if (!key) return;
    const std::string location_text = run_location_text(location);
    const bool locked = !location.locked.empty();
    std::optional<RegistryKey> approval_key;
    if (!locked) approval_key = open_approval_key(location);

    for (const EnumeratedValue& value : enumerate_values(key->get())) {
        if (value.name.empty() || (value.type != REG_SZ && value.type != REG_EXPAND_SZ)) continue;
        std::string command = decode_registry_text(value.bytes);
        if (value.type == REG_EXPAND_SZ) command = expand_references(command);

        model::StartupItem item(model::ItemKind::run, location.label, location.scope, location_text, value.name);
        item.command = std::move(command);
        programs.fill(item);
        item.set_spec("short", value.name);
        item.set_spec("hive", location.hive);
        item.set_spec("approved", location.approved);
        if (!locked) {
            const ApprovalFlag flag =
                approval_key ? approval_flag_of(read_raw(approval_key->get(), value.name)) : ApprovalFlag::none;
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
                   std::vector<model::StartupItem>& items) {
    for (const knowledge::RunKeyLocation& location : locations) scan_location(location, admin, programs, items);
}

}  // namespace qm::windows
