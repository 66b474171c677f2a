#include "platforms/windows/approval_flag.h"

#include <algorithm>
#include <chrono>

#include "util/text.h"

namespace qm::windows {

namespace {

// 100-nanosecond ticks from 1601-01-01 to 1970-01-01.
constexpr std::uint64_t file_time_of_unix_epoch = 116444736000000000ULL;

std::string approval_key_path(std::string_view approved) {
    return std::string(startup_approved_path) + "\\" + std::string(approved);
}

}  // namespace

ApprovalFlag approval_flag_of(const std::optional<RawValue>& value) {
    if (!value || value->type != REG_BINARY || value->bytes.empty()) return ApprovalFlag::none;
    return (static_cast<unsigned char>(value->bytes[0]) & 1) != 0 ? ApprovalFlag::off : ApprovalFlag::on;
}

ApprovalFlag read_approval_flag(HKEY root, std::string_view approved, std::string_view value_name) {
    RegistryResult<RegistryKey> key = open_key(root, approval_key_path(approved), KEY_READ | KEY_WOW64_64KEY);
    if (!key) return ApprovalFlag::none;
    return approval_flag_of(try_read_raw(key->get(), value_name).value_or(std::nullopt));
}

std::string approval_bytes(bool on, std::int64_t unix_seconds) {
    std::string bytes(12, '\0');
    if (on) {
        bytes[0] = '\x02';
        return bytes;
    }
    bytes[0] = '\x03';
    const std::uint64_t ticks =
        static_cast<std::uint64_t>(std::max<std::int64_t>(unix_seconds, 0)) * 10000000ULL + file_time_of_unix_epoch;
    for (int i = 0; i < 8; ++i) bytes[4 + i] = static_cast<char>((ticks >> (8 * i)) & 0xFF);
    return bytes;
}

Result<model::ChangeOutcome> switch_by_approval_flag(const model::StartupItem& item, bool on) {
    const std::string& hive = item.spec_value("hive");
    const std::string& approved = item.spec_value("approved");
    if (approved.empty()) return fail("This entry cannot be switched.");
    const std::string value_name = item.kind == model::ItemKind::folder
                                       ? std::string(file_name(item.spec_value("file")))
                                       : item.spec_value("short");

    RegistryResult<RegistryKey> key =
        create_key(registry_root(hive), approval_key_path(approved), KEY_READ | KEY_WRITE | KEY_WOW64_64KEY);
    if (!key) return fail(registry_failure(hive + "\\...\\StartupApproved\\" + approved, key.error()));

    const std::int64_t now =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch()).count();
    RegistryResult<void> written = write_value(key->get(), value_name, REG_BINARY, approval_bytes(on, now));
    if (!written) return fail(registry_failure("the start-up approval flag", written.error()));

    return model::ChangeOutcome{item.name +
                                    (on ? " will start with Windows (the entry itself is untouched)."
                                        : " will no longer start with Windows (the entry itself is untouched)."),
                                {}};
}

}  // namespace qm::windows
