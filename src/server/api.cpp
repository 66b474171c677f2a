// The JSON API under /api/: each route maps to one engine, knowledge or
// platform operation. Requests are read leniently (a missing or mistyped
// member is empty); operation failures are {"ok": false, "message"}.
#include <thread>

#include "model/data_folder.h"
#include "engine/backups.h"
#include "engine/journal.h"
#include "engine/plans.h"
#include "engine/undo.h"
#include "server/window_server.h"
#include "util/build_info.h"
#include "util/time_text.h"

namespace qm::server {

namespace {

using json::JsonValue;

JsonValue ok_object(bool ok = true) { return json::add_bool(JsonValue::object(), "ok", ok); }

JsonValue failure(std::string message) {
    return json::add_string(ok_object(false), "message", std::move(message));
}

JsonValue with_status(JsonValue answer, EngineContext& engine) {
    return json::add_value(std::move(answer), "status", engine.knowledge().status_json());
}

std::vector<ChangeRequest> changes_of(const JsonValue& body) {
    std::vector<ChangeRequest> requests;
    const JsonValue* changes = json::get(body, "changes");
    if (changes == nullptr || !changes->is_array()) return requests;
    for (const JsonValue& change : changes->as_array()) requests.push_back(change_request_from_json(change));
    return requests;
}

JsonValue state_answer(EngineContext& engine) {
    const SystemFacts& facts = engine.facts();
    JsonValue out = JsonValue::object();
    out = json::add_string(std::move(out), "version", std::string(build::version));
    out = json::add_string(std::move(out), "developer", std::string(build::developer));
    out = json::add_string(std::move(out), "company", std::string(build::company));
    out = json::add_string(std::move(out), "copyright", std::string(build::copyright));
    out = json::add_string(std::move(out), "os", facts.os);
    out = json::add_string(std::move(out), "os_version", facts.os_version);
    out = json::add_string(std::move(out), "host", facts.host);
    out = json::add_string(std::move(out), "user", facts.user);
    out = json::add_string(std::move(out), "home", facts.home);
    out = json::add_bool(std::move(out), "admin", facts.admin);
    out = json::add_bool(std::move(out), "demo", facts.demo);
    out = json::add_string(std::move(out), "journal",
                           facts.demo ? std::string(demo_shown_data_folder) : engine.data_folder().write_folder);
    return out;
}

JsonValue history_answer(EngineContext& engine) {
    JsonValue records = JsonValue::array();
    for (const HistoryEntry& entry : journal_history(engine.data_folder())) {
        const JournalRecord& r = entry.record;
        std::string command;
        for (const SpecPair& pair : r.spec) {
            if (pair.key == "command") command = pair.value;
        }
        JsonValue row = JsonValue::object();
        row = json::add_count(std::move(row), "seq", r.seq);
        row = json::add_string(std::move(row), "time", r.time);
        row = json::add_string(std::move(row), "action", r.action);
        row = json::add_string(std::move(row), "name", r.name);
        row = json::add_string(std::move(row), "command", command);
        row = json::add_string(std::move(row), "detail", r.detail);
        row = json::add_bool(std::move(row), "ok", r.ok);
        row = json::add_bool(std::move(row), "undone", entry.undone);
        row = json::add_bool(std::move(row), "can_undo", entry.undoable);
        records.as_array().push_back(std::move(row));
    }
    return json::add_value(JsonValue::object(), "records", std::move(records));
}

JsonValue scan_answer(EngineContext& engine, const std::string& what) {
    JsonValue items = JsonValue::array();
    std::vector<std::string> notes;
    if (what == "running" || what == "apps") {
        ProgramList list = what == "running" ? engine.running_programs() : engine.installed_programs();
        for (const Candidate& candidate : list.items) items.as_array().push_back(candidate_json(candidate));
        notes = std::move(list.notes);
    } else {
        ScanState state = engine.scan();
        for (const StartupItem& item : state.items) items.as_array().push_back(item_full_json(item));
        notes = std::move(state.notes);
    }
    JsonValue out = json::add_value(JsonValue::object(), "items", std::move(items));
    return json::add_strings(std::move(out), "notes", notes);
}

JsonValue change_json(const ChangeRequest& request) {
    JsonValue hints = JsonValue::object();
    for (const auto& [key, value] : request.options) hints = json::add_string(std::move(hints), key, value);
    JsonValue out = JsonValue::object();
    out = json::add_string(std::move(out), "action", request.action);
    out = json::add_string(std::move(out), "id", request.id);
    out = json::add_bool(std::move(out), "stop_now", request.stop_now);
    out = json::add_value(std::move(out), "hints", std::move(hints));
    if (request.action == "create") {
        CreateDetails details{request.name, request.command, request.exe, request.workdir, request.mode, request.user, ""};
        out = json::add_value(std::move(out), "spec", create_details_json(details));
    } else {
        out = json::add_value(std::move(out), "spec", JsonValue::object());
    }
    return out;
}

JsonValue restore_answer(EngineContext& engine, const JsonValue& body) {
    const std::string name = json::get_text(body, "name");
    Result<std::string> text = name.empty() ? Result<std::string>(json::get_text(body, "text")) : read_backup(engine, name);
    if (!text) return failure(text.error());
    Result<JsonValue> backup = parse_backup(*text);
    if (!backup) return failure(backup.error());
    RestorePlan plan = restore_plan(engine, *backup);
    JsonValue rows = JsonValue::array();
    for (const RestoreRow& row : plan.rows) {
        JsonValue out = JsonValue::object();
        out = json::add_string(std::move(out), "kind", row.what);
        out = json::add_string(std::move(out), "id", row.id);
        out = json::add_string(std::move(out), "name", row.name);
        out = json::add_string(std::move(out), "detail", row.text);
        out = json::add_bool(std::move(out), "selected", row.ticked);
        if (row.request) out = json::add_value(std::move(out), "change", change_json(*row.request));
        rows.as_array().push_back(std::move(out));
    }
    JsonValue answer = ok_object();
    answer = json::add_value(std::move(answer), "header", plan.header);
    answer = json::add_value(std::move(answer), "items", std::move(rows));
    answer = json::add_count(std::move(answer), "same", plan.same);
    answer = json::add_count(std::move(answer), "appeared", plan.appeared);
    answer = json::add_bool(std::move(answer), "wrong_machine", plan.different_computer);
    return answer;
}

std::optional<JsonValue> get_route(ServerState& state, const std::string& path) {
    EngineContext& engine = *state.engine;
    if (path == "/api/state") return state_answer(engine);
    if (path == "/api/history") return history_answer(engine);
    if (path == "/api/knowledge") return engine.knowledge().status_json();
    if (path == "/api/doctor") {
        JsonValue probes = JsonValue::array();
        for (const Probe& probe : doctor_report(engine)) probes.as_array().push_back(probe_json(probe));
        JsonValue out = json::add_value(JsonValue::object(), "probes", std::move(probes));
        return json::add_value(std::move(out), "records", JsonValue::array());
    }
    if (path == "/api/backup/list") {
        JsonValue backups = JsonValue::array();
        for (const BackupSummary& summary : list_backups(engine)) backups.as_array().push_back(backup_summary_json(summary));
        JsonValue out = json::add_value(JsonValue::object(), "backups", std::move(backups));
        return json::add_string(std::move(out), "folder", backup_folder(engine));
    }
    return std::nullopt;
}

std::optional<JsonValue> post_route(ServerState& state, const std::string& path, const JsonValue& body) {
    EngineContext& engine = *state.engine;
    if (path == "/api/ping") {
        state.window_opened.store(true);
        state.last_ping.store(now_unix_millis());
        return ok_object();
    }
    if (path == "/api/bye") {
        state.bye_at.store(now_unix_millis());
        return ok_object();
    }
    if (path == "/api/quit") return ok_object();
    if (path == "/api/scan") return scan_answer(engine, json::get_text(body, "what"));
    if (path == "/api/plan") {
        JsonValue plans = JsonValue::array();
        for (const PlannedChange& plan : plan_changes(engine, changes_of(body))) plans.as_array().push_back(plan_json(plan));
        return json::add_value(JsonValue::object(), "plans", std::move(plans));
    }
    if (path == "/api/apply") {
        JsonValue results = JsonValue::array();
        std::vector<ChangeRequest> requests = changes_of(body);
        if (!requests.empty()) {
            for (const ChangeResult& result : apply_changes(engine, requests)) results.as_array().push_back(change_result_json(result));
        }
        return json::add_value(JsonValue::object(), "results", std::move(results));
    }
    if (path == "/api/undo") {
        UndoResult result = undo_change(engine, json::get_count(body, "seq"), json::get_flag(body, "ack"));
        JsonValue out = ok_object(result.ok);
        return json::add_string(std::move(out), "message", result.message);
    }
    if (path == "/api/elevate") {
        Result<void> started = engine.platform().restart_elevated({"serve"});
        return started ? ok_object() : failure(started.error());
    }
    if (path == "/api/knowledge/update") {
        Result<std::string> report = engine.knowledge().update(json::get_text(body, "url"));
        JsonValue out = ok_object(report.has_value());
        out = json::add_string(std::move(out), "message", report ? *report : report.error());
        return with_status(std::move(out), engine);
    }
    if (path == "/api/knowledge/import") {
        Result<KnowledgePack> installed = engine.knowledge().install(json::get_text(body, "text"));
        JsonValue out = ok_object(installed.has_value());
        out = json::add_string(std::move(out), "message",
                               installed ? "Installed knowledge " + installed->version + "." : installed.error());
        return with_status(std::move(out), engine);
    }
    if (path == "/api/knowledge/rollback") {
        Result<std::string> result = engine.knowledge().rollback();
        JsonValue out = ok_object(result.has_value());
        out = json::add_string(std::move(out), "message", result ? *result : result.error());
        return with_status(std::move(out), engine);
    }
    if (path == "/api/knowledge/settings") {
        const std::string url = json::get_text(body, "url");
        if (!url.starts_with("https://")) return failure("The update address must start with https://");
        Result<void> saved = engine.knowledge().save_settings(json::get_flag(body, "auto_check"), url);
        if (!saved) return failure(saved.error());
        return with_status(ok_object(), engine);
    }
    if (path == "/api/backup/create") {
        std::string label = json::get_text(body, "label");
        if (label.empty()) label = "Manual backup";
        JsonValue backup = make_backup(engine, label);
        Result<std::string> saved = save_backup(engine, backup, false);
        if (!saved) return failure(saved.error());
        std::string name = saved->substr(saved->find_last_of("/\\") + 1);
        JsonValue out = ok_object();
        out = json::add_string(std::move(out), "name", name);
        out = json::add_string(std::move(out), "path", *saved);
        return json::add_count(std::move(out), "count", json::get_count(backup, "count"));
    }
    if (path == "/api/backup/get") {
        Result<std::string> text = read_backup(engine, json::get_text(body, "name"));
        if (!text) return failure(text.error());
        return json::add_string(ok_object(), "text", *text);
    }
    if (path == "/api/backup/delete") {
        Result<void> deleted = delete_backup(engine, json::get_text(body, "name"));
        return deleted ? ok_object() : failure(deleted.error());
    }
    if (path == "/api/restore/plan") return restore_answer(engine, body);
    return std::nullopt;
}

}  // namespace

ApiAnswer route_api(ServerState& state, const std::string& method, const std::string& path, const JsonValue& body) {
    std::optional<JsonValue> answer;
    if (method == "GET") answer = get_route(state, path);
    if (method == "POST") answer = post_route(state, path, body);
    if (!answer) return ApiAnswer{false, JsonValue()};
    return ApiAnswer{true, std::move(*answer)};
}

}  // namespace qm::server
