#include "platforms/windows/approval_flag.h"

#include <algorithm>
#include <chrono>
#include <mutex>

#include "json/json.h"
#include "os/files.h"
#include "util/text.h"

namespace qm::windows {

namespace {

std::string approval_key_path(std::string_view approved) {
    return std::string(startup_approved_path) + "\\" + std::string(approved);
}

constexpr std::string_view created_file_name = "approval-flags.json";
// Far more than a name for every entry of a computer; a larger file is never
// read in part and written back without the rest.
constexpr std::uint64_t created_file_limit = 16u << 20;

std::mutex& created_file_lock() {
    static std::mutex lock;
    return lock;
}

// The flags the program created where there was none, as an object whose
// names are "{hive}\\{approved}\\{value name}" lower-cased (value names
// ignore case). A missing file is an empty object; a damaged or unreadable
// one is a failure, so it is never replaced by one without its names.
Result<json::JsonValue> read_created(const std::string& path) {
    Result<std::string> text = os::read_file(path, created_file_limit);
    if (!text) {
        if (os::path_kind(path) == os::PathKind::missing) return json::JsonValue::object();
        return fail(text.error());
    }
    if (text->size() > created_file_limit) return fail(path + " is larger than 16 MiB, which it never is.");
    Result<json::JsonValue> parsed = json::parse(*text);
    if (!parsed || !parsed->is_object()) return fail(path + " is damaged.");
    return std::move(*parsed);
}

// Adds or removes one name; whether the name was there before.
Result<bool> update_created(const std::string& folder, const std::string& name, bool add) {
    const std::string path = os::join_path(folder, created_file_name);
    std::lock_guard guard(created_file_lock());
    json::JsonValue created = QM_TRY(read_created(path));
    json::JsonValue::Object& members = created.as_object();
    const std::size_t before = members.size();
    std::erase_if(members, [&](const json::JsonValue::Member& member) { return member.first == name; });
    const bool was_there = members.size() != before;
    if (add) members.emplace_back(name, json::JsonValue(true));
    if (!add && !was_there) return false;
    QM_TRY_VOID(os::create_folders(folder));
    QM_TRY_VOID(os::write_file_replace(path, json::write(created)));
    return was_there;
}

bool remembered_as_created(const std::string& folder, const std::string& name) {
    std::lock_guard guard(created_file_lock());
    Result<json::JsonValue> created = read_created(os::join_path(folder, created_file_name));
    if (!created) return false;
    for (const json::JsonValue::Member& member : created->as_object()) {
        if (member.first == name) return true;
    }
    return false;
}

}  // namespace

ApprovalFlag approval_flag_of(const std::optional<RawValue>& value) {
    if (!value || value->type != REG_BINARY) return ApprovalFlag::none;
    return formats::approval_flag_of_bytes(value->bytes);
}

ApprovalFlag read_approval_flag(HKEY root, std::string_view approved, std::string_view value_name) {
    RegistryResult<RegistryKey> key = open_key(root, approval_key_path(approved), KEY_READ | KEY_WOW64_64KEY);
    if (!key) return ApprovalFlag::none;
    return approval_flag_of(try_read_raw(key->get(), value_name).value_or(std::nullopt));
}

Result<model::ChangeOutcome> switch_by_approval_flag(const model::StartupItem& item, bool on,
                                                     const std::string& data_folder) {
    const std::string& hive = item.spec_value("hive");
    const std::string& approved = item.spec_value("approved");
    if (approved.empty()) return fail("This entry cannot be switched.");
    const std::string value_name = item.kind == model::ItemKind::folder
                                       ? std::string(file_name(item.spec_value("file")))
                                       : item.spec_value("short");

    RegistryResult<RegistryKey> key =
        create_key(registry_root(hive), approval_key_path(approved), KEY_READ | KEY_WRITE | KEY_WOW64_64KEY);
    if (!key) return fail(registry_failure(hive + "\\...\\StartupApproved\\" + approved, key.error()));

    model::ChangeOutcome outcome{item.name +
                                     (on ? " will start with Windows (the entry itself is untouched)."
                                         : " will no longer start with Windows (the entry itself is untouched)."),
                                 {}};
    const std::string memory_name = to_lower_ascii(hive + "\\" + approved + "\\" + value_name);
    const bool remembers = !data_folder.empty();
    if (on && remembers && remembered_as_created(data_folder, memory_name)) {
        // The flag is the program's own: with it gone the entry starts, as before.
        RegistryResult<void> deleted = delete_value(key->get(), value_name);
        if (!deleted) return fail(registry_failure("the start-up approval flag", deleted.error()));
        (void)update_created(data_folder, memory_name, false);
        return outcome;
    }
    bool had_flag = true;
    if (!on && remembers) {
        RegistryResult<std::optional<RawValue>> current = try_read_raw(key->get(), value_name);
        had_flag = !current || current->has_value();
        // A flag that is there now is not the program's own any more, even
        // where the program once made it: another program (an updater that
        // switched the item back on) wrote it since, and switching on must
        // then leave it "on" rather than delete it.
        if (current && current->has_value()) (void)update_created(data_folder, memory_name, false);
    }

    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    RegistryResult<void> written = write_value(key->get(), value_name, REG_BINARY, approval_bytes(on, now));
    if (!written) return fail(registry_failure("the start-up approval flag", written.error()));
    if (!had_flag) {
        if (Result<bool> noted = update_created(data_folder, memory_name, true); !noted) {
            outcome.notes.push_back("That the flag is new could not be remembered (" + noted.error().message +
                                    "); switching it on again leaves an \"on\" flag behind.");
        }
    }
    return outcome;
}

}  // namespace qm::windows
