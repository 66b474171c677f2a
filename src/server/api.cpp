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
#include "util/text.h"
#include "util/time_text.h"

namespace qm::server {

namespace {

using json::JsonValue;

JsonValue ok_object(bool ok = true) { return json::ObjectBuilder().flag("ok", ok).done(); }

JsonValue failure(std::string message) {
    return json::ObjectBuilder(ok_object(false)).string("message", std::move(message)).done();
}

JsonValue with_status(JsonValue answer, engine::EngineContext& engine) {
    return json::ObjectBuilder(std::move(answer)).value("status", engine.knowledge().status_json()).done();
}

// More changes than the window ever sends in one request are refused before
// any is planned, so one request cannot make the server plan, hold and answer
// an unbounded list.
bool too_many_changes(const JsonValue& body) {
    const JsonValue* changes = json::get(body, "changes");
    return changes != nullptr && changes->is_array() && changes->as_array().size() > max_changes_per_request;
}

std::vector<engine::ChangeRequest> changes_of(const JsonValue& body) {
    std::vector<engine::ChangeRequest> requests;
    const JsonValue* changes = json::get(body, "changes");
    if (changes == nullptr || !changes->is_array()) return requests;
    for (const JsonValue& change : changes->as_array()) requests.push_back(engine::change_request_from_json(change));
    return requests;
}

JsonValue state_answer(engine::EngineContext& engine) {
    const model::SystemFacts& facts = engine.facts();
    return json::ObjectBuilder()
            .string("version", std::string(build::version))
            .string("developer", std::string(build::developer))
            .string("company", std::string(build::company))
            .string("copyright", std::string(build::copyright))
            .members(model::system_facts_json(facts))
            .string("journal",
                    facts.demo ? std::string(model::demo_shown_data_folder) : engine.data_folder().write_folder)
            .done();
}

JsonValue history_answer(engine::EngineContext& engine) {
    JsonValue records = JsonValue::array();
    for (const engine::HistoryEntry& entry : engine::journal_history(engine.data_folder())) {
        const engine::JournalRecord& r = entry.record;
        std::string command;
        for (const model::SpecPair& pair : r.spec) {
            if (pair.key == "command") command = pair.value;
        }
        JsonValue row = json::ObjectBuilder()
                .count("seq", r.seq)
                .string("time", r.time)
                .string("action", r.action)
                .string("name", r.name)
                .string("command", command)
                .string("detail", r.detail)
                .flag("ok", r.ok)
                .flag("undone", entry.undone)
                .flag("can_undo", entry.undoable)
                .done();
        records.as_array().push_back(std::move(row));
    }
    return json::ObjectBuilder().value("records", std::move(records)).done();
}

JsonValue scan_answer(engine::EngineContext& engine, const std::string& what) {
    JsonValue items = JsonValue::array();
    std::vector<std::string> notes;
    if (what == "running" || what == "apps") {
        model::ProgramList list = what == "running" ? engine.running_programs() : engine.installed_programs();
        for (const model::Candidate& candidate : list.items) items.as_array().push_back(model::candidate_json(candidate));
        notes = std::move(list.notes);
    } else {
        engine::ScanState state = engine.scan();
        for (const model::StartupItem& item : state.items) items.as_array().push_back(model::item_full_json(item));
        notes = std::move(state.notes);
    }
    return json::ObjectBuilder().value("items", std::move(items)).strings("notes", notes).done();
}

JsonValue change_json(const engine::ChangeRequest& request) {
    json::ObjectBuilder hints;
    for (const auto& [key, value] : request.options) hints.string(key, value);
    JsonValue spec = request.action == "create" ? model::create_details_json(request.create) : JsonValue::object();
    return json::ObjectBuilder()
            .string("action", request.action)
            .string("id", request.id)
            .flag("stop_now", request.stop_now)
            .value("hints", hints.done())
            .value("spec", std::move(spec))
            .done();
}

JsonValue restore_answer(engine::EngineContext& engine, const JsonValue& body) {
    const std::string name = json::get_text(body, "name");
    Result<std::string> text = name.empty() ? Result<std::string>(json::get_text(body, "text")) : engine::read_backup(engine, name);
    if (!text) return failure(text.error().message);
    Result<JsonValue> backup = engine::parse_backup(*text);
    if (!backup) return failure(backup.error().message);
    engine::RestorePlan plan = engine::restore_plan(engine, *backup);
    JsonValue rows = JsonValue::array();
    for (const engine::RestoreRow& row : plan.rows) {
        JsonValue out = json::ObjectBuilder()
                .string("kind", row.what)
                .string("id", row.id)
                .string("name", row.name)
                .string("detail", row.text)
                .flag("selected", row.ticked)
                .done();
        if (row.request) out = json::ObjectBuilder(std::move(out)).value("change", change_json(*row.request)).done();
        rows.as_array().push_back(std::move(out));
    }
    return json::ObjectBuilder(ok_object())
            .value("header", plan.header)
            .value("items", std::move(rows))
            .count("same", plan.same)
            .count("appeared", plan.appeared)
            .flag("wrong_machine", plan.different_computer)
            .done();
}

std::optional<JsonValue> get_route(ServerState& state, const std::string& path) {
    engine::EngineContext& engine = *state.engine;
    if (path == "/api/state") return state_answer(engine);
    if (path == "/api/history") return history_answer(engine);
    if (path == "/api/knowledge") return engine.knowledge().status_json();
    if (path == "/api/doctor") {
        JsonValue probes = JsonValue::array();
        for (const model::Probe& probe : engine::doctor_report(engine)) probes.as_array().push_back(model::probe_json(probe));
        return json::ObjectBuilder().value("probes", std::move(probes)).value("records", JsonValue::array()).done();
    }
    if (path == "/api/backup/list") {
        JsonValue backups = JsonValue::array();
        for (const engine::BackupSummary& summary : engine::list_backups(engine)) backups.as_array().push_back(engine::backup_summary_json(summary));
        return json::ObjectBuilder().value("backups", std::move(backups)).string("folder", engine::backup_folder(engine)).done();
    }
    return std::nullopt;
}

std::optional<JsonValue> post_route(ServerState& state, const std::string& path, const JsonValue& body) {
    engine::EngineContext& engine = *state.engine;
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
        for (const engine::PlannedChange& plan : engine::plan_changes(engine, changes_of(body))) plans.as_array().push_back(engine::plan_json(plan));
        return json::ObjectBuilder().value("plans", std::move(plans)).done();
    }
    if (path == "/api/apply") {
        JsonValue results = JsonValue::array();
        std::vector<engine::ChangeRequest> requests = changes_of(body);
        if (!requests.empty()) {
            for (const engine::ChangeResult& result : engine::apply_changes(engine, requests)) results.as_array().push_back(engine::change_result_json(result));
        }
        return json::ObjectBuilder().value("results", std::move(results)).done();
    }
    if (path == "/api/undo") {
        engine::UndoResult result = engine::undo_change(engine, json::get_count(body, "seq"), json::get_flag(body, "ack"));
        return json::ObjectBuilder(ok_object(result.ok)).string("message", result.message).done();
    }
    if (path == "/api/elevate") {
        Result<void> started = engine.platform().restart_elevated({"serve"});
        return started ? ok_object() : failure(started.error().message);
    }
    if (path == "/api/knowledge/update") {
        Result<std::string> report = engine.knowledge().update(json::get_text(body, "url"));
        JsonValue out =
                json::ObjectBuilder(ok_object(report.has_value())).string("message", report ? *report : report.error().message).done();
        return with_status(std::move(out), engine);
    }
    if (path == "/api/knowledge/import") {
        Result<knowledge::KnowledgePack> installed = engine.knowledge().install(json::get_text(body, "text"));
        JsonValue out = json::ObjectBuilder(ok_object(installed.has_value()))
                .string("message", installed ? "Installed knowledge " + installed->version + "." : installed.error().message)
                .done();
        return with_status(std::move(out), engine);
    }
    if (path == "/api/knowledge/rollback") {
        Result<std::string> result = engine.knowledge().rollback();
        JsonValue out =
                json::ObjectBuilder(ok_object(result.has_value())).string("message", result ? *result : result.error().message).done();
        return with_status(std::move(out), engine);
    }
    if (path == "/api/knowledge/settings") {
        const std::string url = json::get_text(body, "url");
        if (!url.starts_with("https://")) return failure("The update address must start with https://");
        Result<void> saved = engine.knowledge().save_settings(json::get_flag(body, "auto_check"), url);
        if (!saved) return failure(saved.error().message);
        return with_status(ok_object(), engine);
    }
    if (path == "/api/backup/create") {
        std::string label = json::get_text(body, "label");
        if (label.empty()) label = "Manual backup";
        JsonValue backup = engine::make_backup(engine, label);
        Result<std::string> saved = engine::save_backup(engine, backup, false);
        if (!saved) return failure(saved.error().message);
        return json::ObjectBuilder(ok_object())
                .string("name", std::string(file_name(*saved)))
                .string("path", *saved)
                .count("count", json::get_count(backup, "count"))
                .done();
    }
    if (path == "/api/backup/get") {
        Result<std::string> text = engine::read_backup(engine, json::get_text(body, "name"));
        if (!text) return failure(text.error().message);
        return json::ObjectBuilder(ok_object()).string("text", *text).done();
    }
    if (path == "/api/backup/delete") {
        Result<void> deleted = engine::delete_backup(engine, json::get_text(body, "name"));
        return deleted ? ok_object() : failure(deleted.error().message);
    }
    if (path == "/api/restore/plan") return restore_answer(engine, body);
    return std::nullopt;
}

}  // namespace

ApiAnswer route_api(ServerState& state, const std::string& method, const std::string& path, const JsonValue& body) {
    std::optional<JsonValue> answer;
    ApiAnswer out;
    if (method == "POST" && (path == "/api/plan" || path == "/api/apply") && too_many_changes(body)) {
        out.status = 400;
        out.error = "A request may carry at most " + std::to_string(max_changes_per_request) + " changes.";
        return out;
    }
    if (method == "GET") answer = get_route(state, path);
    if (method == "POST") answer = post_route(state, path, body);
    if (!answer) {
        out.known = false;
        return out;
    }
    out.body = std::move(*answer);
    return out;
}

}  // namespace qm::server
