// Switching a service's start type through sc.exe, and the start types that
// switching off remembers in saved.json in the data folder: one JSON object
// {service name: {"start": "2", "delayed": "1"}}. The file is only ever
// replaced whole; its read-change-write runs under one lock of this process,
// so two switches at once cannot lose each other's entry.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "json/json.h"
#include "os/system_tool.h"
#include "os/files.h"
#include "platforms/windows/services.h"
#include "util/time_text.h"
#include "util/text.h"

namespace qm::windows {

namespace {

constexpr std::string_view saved_file_name = "saved.json";
// Far more than an entry for every service of a computer; a larger file is
// never read in part and written back without the rest.
constexpr std::uint64_t saved_file_limit = 16 * 1024 * 1024;
constexpr unsigned config_time_limit = 30;
constexpr unsigned stop_time_limit = 60;
constexpr std::uint32_t access_denied = 5;

std::mutex& saved_file_lock() {
    static std::mutex lock;
    return lock;
}

struct StartType {
    std::string start;
    std::string delayed;
};

// saved.json as an object. A missing file or one whose content is not a JSON
// object reads as an empty object (`damaged` says which); a file that exists
// but cannot be read is a failure, so that it is not replaced by one without
// its other entries.
Result<json::JsonValue> read_saved(const std::string& path, bool* damaged = nullptr) {
    Result<std::string> text = os::read_file(path, saved_file_limit);
    if (!text) {
        if (os::path_kind(path) == os::PathKind::missing) return json::JsonValue::object();
        return fail(text.error());
    }
    if (text->size() > saved_file_limit) {
        return fail(path + " is larger than 16 MiB, which it never is, so Quillmoor leaves it as it is.");
    }
    Result<json::JsonValue> parsed = json::parse(*text);
    if (!parsed || !parsed->is_object()) {
        if (damaged != nullptr) *damaged = true;
        return json::JsonValue::object();
    }
    return std::move(*parsed);
}

// The first member for the service (names compared without regard to case).
const json::JsonValue* saved_entry(const json::JsonValue& saved, std::string_view service) {
    for (const json::JsonValue::Member& member : saved.as_object()) {
        if (equal_ignoring_ascii_case(member.first, service)) return &member.second;
    }
    return nullptr;
}

bool remove_entries(json::JsonValue& saved, std::string_view service) {
    json::JsonValue::Object& members = saved.as_object();
    const std::size_t before = members.size();
    std::erase_if(members, [&](const json::JsonValue::Member& member) {
        return equal_ignoring_ascii_case(member.first, service);
    });
    return members.size() != before;
}

Result<void> write_saved(const std::string& folder, const std::string& path, const json::JsonValue& saved) {
    QM_TRY_VOID(os::create_folders(folder));
    return os::write_file_replace(path, json::write(saved));
}

std::string remember_failure(const std::string& error) {
    return "The earlier start type could not be remembered (" + os::failure_reason(error) +
           "); switching the service on again makes it start automatically.";
}

// Remembers the start type before switching off. A service that is already
// disabled keeps an entry remembered earlier, so switching off twice does
// not forget how it used to start.
std::optional<std::string> remember_start_type(const std::string& folder, const std::string& service,
                                               const StartType& current) {
    if (current.start.empty()) return std::nullopt;
    const std::string path = os::join_path(folder, saved_file_name);
    std::lock_guard guard(saved_file_lock());
    bool damaged = false;
    Result<json::JsonValue> saved = read_saved(path, &damaged);
    if (!saved) return remember_failure(saved.error().message);
    // What a damaged file still holds may be all that is known of how other
    // services used to start: it is kept beside, never written over.
    if (damaged) {
        const std::string aside = path + ".damaged-" + std::to_string(now_unix_seconds());
        if (Result<void> moved = os::rename_replace(path, aside); !moved)
            return remember_failure(moved.error().message);
    }
    if (current.start == "4" && saved_entry(*saved, service) != nullptr) return std::nullopt;
    remove_entries(*saved, service);
    saved->as_object().emplace_back(
        service, json::ObjectBuilder().string("start", current.start).string("delayed", current.delayed).done());
    Result<void> written = write_saved(folder, path, *saved);
    if (!written) return remember_failure(written.error().message);
    return std::nullopt;
}

std::optional<StartType> remembered_start_type(const std::string& folder, const std::string& service) {
    std::lock_guard guard(saved_file_lock());
    Result<json::JsonValue> saved = read_saved(os::join_path(folder, saved_file_name));
    if (!saved) return std::nullopt;
    const json::JsonValue* entry = saved_entry(*saved, service);
    if (entry == nullptr) return std::nullopt;
    return StartType{json::get_text(*entry, "start"), json::get_text(*entry, "delayed")};
}

// Once the service is on again its remembered start type has served; a
// failure to forget it only leaves a stale entry that the next switch off
// replaces.
void forget_start_type(const std::string& folder, const std::string& service) {
    const std::string path = os::join_path(folder, saved_file_name);
    std::lock_guard guard(saved_file_lock());
    Result<json::JsonValue> saved = read_saved(path);
    if (!saved || !remove_entries(*saved, service)) return;
    (void)write_saved(folder, path, *saved);
}

// The failure of sc.exe. A run that ended without an exit code (it could not
// be started, or it was stopped at the time limit) counts as code -1.
Error config_failure(const os::RunOutput& output) {
    if (output.exit_code && *output.exit_code == access_denied) {
        return Error{ErrorKind::needs_admin, "Windows refused to change the service.", access_denied};
    }
    const std::string code = output.exit_code ? std::to_string(*output.exit_code) : std::string("-1");
    std::string message = "Windows could not change the service (code " + code + ").";
    const std::string said = os::tool_output_text(output);
    if (!said.empty()) message += " " + said;
    return Error{ErrorKind::failed, message, output.exit_code ? *output.exit_code : 0};
}

}  // namespace

Result<model::ChangeOutcome> switch_service(const model::StartupItem& item, bool on, bool stop_now,
                                            const std::string& data_folder, const os::ToolRunner& runner) {
    const std::string& service = item.spec_value("short");
    if (service.empty()) return fail("The service's name is missing, so it cannot be switched.");
    model::ChangeOutcome outcome;

    std::string mode = "disabled";
    if (on) {
        std::optional<StartType> wanted;
        if (!item.spec_value("want_start").empty()) {
            wanted = StartType{item.spec_value("want_start"), item.spec_value("want_delayed")};
        } else {
            wanted = remembered_start_type(data_folder, service);
        }
        mode = wanted && wanted->start == "2" && wanted->delayed == "1" ? "delayed-auto" : "auto";
    } else {
        const StartType current{item.spec_value("start"), item.spec_value("delayed")};
        if (std::optional<std::string> note = remember_start_type(data_folder, service, current)) {
            outcome.notes.push_back(std::move(*note));
        }
    }

    const os::RunOutput changed =
        runner(os::ToolRun{os::system_tool("sc.exe"), {"config", service, "start=", mode}, {}, config_time_limit});
    if (!changed.succeeded()) return fail(config_failure(changed));

    if (on) {
        forget_start_type(data_folder, service);
        outcome.message = item.name + " will start automatically at boot.";
        return outcome;
    }
    outcome.message = item.name + " is switched off for the next start.";
    if (stop_now) {
        const os::RunOutput stopped =
            runner(os::ToolRun{os::system_tool("sc.exe"), {"stop", service}, {}, stop_time_limit});
        outcome.message += stopped.succeeded()
                               ? " It was also stopped now."
                               : " It could not be stopped now and keeps running until the next restart.";
    }
    return outcome;
}

}  // namespace qm::windows
