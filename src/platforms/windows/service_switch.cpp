// Switching a service's start type through sc.exe, and the start types that
// switching off, or taking a gentler way, remembers in saved.json in the data
// folder: one JSON object {service name: {"start": "2", "delayed": "1"}},
// with "way": "when-needed" or "later" on an entry remembered for a way. The file is only ever
// replaced whole; its read-change-write runs under one lock of this process,
// so two switches at once cannot lose each other's entry.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "json/json.h"
#include "model/start_ways.h"
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

// Whether the start type is the one the way (its word) gives.
bool start_type_of_way(std::string_view way, const StartType& current) {
    if (way == model::word_text(model::ChangeAction::when_needed)) return current.start == "3";
    if (way == model::word_text(model::ChangeAction::later)) return current.start == "2" && current.delayed == "1";
    return false;
}

// Remembers the start type before switching off, or before taking `way`
// (its word, recorded with the entry). A service that is already disabled
// keeps an entry remembered earlier, so switching off twice does not forget
// how it used to start; nor does switching off a service that still has the
// start type of a way taken before: the start type from before the way stays.
std::optional<std::string> remember_start_type(const std::string& folder, const std::string& service,
                                               const StartType& current, std::string_view way = {}) {
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
    StartType remembered = current;
    if (const json::JsonValue* earlier = saved_entry(*saved, service); earlier != nullptr && way.empty()) {
        if (current.start == "4") return std::nullopt;
        if (start_type_of_way(json::get_text(*earlier, "way"), current)) {
            remembered = StartType{json::get_text(*earlier, "start"), json::get_text(*earlier, "delayed")};
        }
    }
    remove_entries(*saved, service);
    json::ObjectBuilder entry;
    entry.string("start", remembered.start).string("delayed", remembered.delayed);
    if (!way.empty()) entry.string("way", std::string(way));
    saved->as_object().emplace_back(service, entry.done());
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

os::RunOutput configure(const os::ToolRunner& runner, const std::string& service, std::string_view mode) {
    return runner(os::ToolRun{
        os::system_tool("sc.exe"), {"config", service, "start=", std::string(mode)}, {}, config_time_limit});
}

}  // namespace

std::map<std::string, std::string> remembered_service_ways(const std::string& data_folder) {
    std::map<std::string, std::string> ways;
    if (data_folder.empty()) return ways;
    std::lock_guard guard(saved_file_lock());
    Result<json::JsonValue> saved = read_saved(os::join_path(data_folder, saved_file_name));
    if (!saved) return ways;
    for (const json::JsonValue::Member& member : saved->as_object()) {
        if (!member.second.is_object()) continue;
        std::string way = json::get_text(member.second, "way");
        if (!way.empty()) ways.emplace(to_lower_ascii(member.first), std::move(way));
    }
    return ways;
}

bool service_way_taken(std::string_view way, std::uint32_t start, bool delayed) {
    return start_type_of_way(way, StartType{std::to_string(start), delayed ? "1" : "0"});
}

Result<model::WayOutcome> set_service_way(const model::StartupItem& item, model::ChangeAction way,
                                          const std::string& data_folder, const os::ToolRunner& runner) {
    const std::string& service = item.spec_value("short");
    if (service.empty()) return fail("The service's name is missing, so it cannot be changed.");
    model::WayOutcome done;
    if (way == model::ChangeAction::on_time) {
        // The start type from before the way; a service whose entry is gone
        // starts automatically, as switching on makes it.
        const std::optional<StartType> wanted = remembered_start_type(data_folder, service);
        const bool delayed = wanted && wanted->start == "2" && wanted->delayed == "1";
        const os::RunOutput changed = configure(runner, service, delayed ? "delayed-auto" : "auto");
        if (!changed.succeeded()) return fail(config_failure(changed));
        forget_start_type(data_folder, service);
        done.outcome.message = item.name + " will start as it did before.";
        return done;
    }
    if (way != model::ChangeAction::when_needed && way != model::ChangeAction::later) {
        return fail(item.name + " offers no such way here.");
    }
    const StartType current{item.spec_value("start"), item.spec_value("delayed")};
    if (current.start != "2") return fail(item.name + " does not start automatically, so it has no gentler way.");
    // Without the start type from before, the way could not be taken back
    // exactly, so nothing is changed.
    if (remember_start_type(data_folder, service, current, model::word_text(way))) {
        return fail("The start type of " + item.name + " could not be remembered, so it was left as it was.");
    }
    const bool when_needed = way == model::ChangeAction::when_needed;
    const os::RunOutput changed = configure(runner, service, when_needed ? "demand" : "delayed-auto");
    if (!changed.succeeded()) {
        forget_start_type(data_folder, service);
        return fail(config_failure(changed));
    }
    done.outcome.message = item.name + (when_needed ? " will start only when needed."
                                                    : " will start a little later, once the computer has started.");
    return done;
}

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
