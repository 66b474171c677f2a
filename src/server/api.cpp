// The JSON API under /api/: one table of routes, each a method and an exact
// path with the engine, knowledge or platform operation that answers it.
// Requests are read leniently (a missing or mistyped member is empty);
// operation failures are {"ok": false, "message"}.
#include <array>
#include <optional>
#include <string_view>
#include <thread>

#include "model/data_folder.h"
#include "engine/change_effects.h"
#include "engine/change_lock.h"
#include "engine/backups.h"
#include "engine/journal.h"
#include "engine/plans.h"
#include "engine/portable_plan.h"
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
        .string("journal", facts.demo ? std::string(model::demo_shown_data_folder) : engine.data_folder().write_folder)
        .done();
}

JsonValue history_answer(engine::EngineContext& engine) {
    engine::settle_when_idle(engine);
    JsonValue records = JsonValue::array();
    std::vector<engine::HistoryEntry> history = engine::journal_history(engine.data_folder());
    engine::add_startup_effects(engine, history);
    for (const engine::HistoryEntry& entry : history) {
        const engine::JournalRecord& r = entry.record;
        std::string command;
        for (const model::SpecPair& pair : r.spec) {
            if (pair.key == "command") command = pair.value;
        }
        JsonValue row = json::ObjectBuilder()
                            .count("seq", r.seq)
                            .string("time", r.time)
                            .string("action", engine::action_text(r.action, r.unknown_action))
                            .string("name", r.name)
                            .string("command", command)
                            .string("detail", r.detail)
                            .flag("ok", r.ok)
                            .flag("undone", entry.undone)
                            .flag("can_undo", entry.undoable)
                            .flag("interrupted", r.interrupted)
                            .flag("own", r.own)
                            .strings("startup", entry.startup_effects)
                            .done();
        records.as_array().push_back(std::move(row));
    }
    return json::ObjectBuilder()
        .value("records", std::move(records))
        .string("startup_note", std::string(engine::startup_effects_note))
        .done();
}

JsonValue scan_answer(engine::EngineContext& engine, const std::string& what) {
    JsonValue items = JsonValue::array();
    std::vector<std::string> notes;
    std::optional<model::StartupCost> cost;
    JsonValue changes = JsonValue::array();
    if (what == "running" || what == "apps") {
        model::ProgramList list = what == "running" ? engine.running_programs() : engine.installed_programs();
        for (const model::Candidate& candidate : list.items)
            items.as_array().push_back(model::candidate_json(candidate));
        notes = std::move(list.notes);
    } else {
        engine::ScanState state = engine.scan();
        for (const model::StartupItem& item : state.items) items.as_array().push_back(model::item_full_json(item));
        notes = std::move(state.notes);
        cost = std::move(state.cost);
        for (const engine::FoundChange& change : state.changes) changes.as_array().push_back(engine::found_change_json(change));
    }
    json::ObjectBuilder answer;
    answer.value("items", std::move(items)).strings("notes", notes);
    if (cost) {
        answer.value("startup", model::startup_cost_json(*cost))
            .value("changes", std::move(changes))
            .strings("ignored", engine.ignored_items());
    }
    return answer.done();
}

JsonValue restore_answer(engine::EngineContext& engine, const JsonValue& body) {
    const std::string name = json::get_text(body, "name");
    Result<std::string> text =
        name.empty() ? Result<std::string>(json::get_text(body, "text")) : engine::read_backup(engine, name);
    if (!text) return failure(text.error().message);
    Result<JsonValue> backup = engine::parse_backup(*text);
    if (!backup) return failure(backup.error().message);
    engine::RestorePlan plan = engine::restore_plan(engine, *backup);
    JsonValue rows = JsonValue::array();
    for (const engine::RestoreRow& row : plan.rows) {
        JsonValue out = json::ObjectBuilder()
                            .string("kind", std::string(engine::word_text(row.what)))
                            .string("id", row.id)
                            .string("name", row.name)
                            .string("detail", row.text)
                            .flag("selected", row.ticked)
                            .done();
        if (row.request)
            out = json::ObjectBuilder(std::move(out)).value("change", engine::change_request_json(*row.request)).done();
        rows.as_array().push_back(std::move(out));
    }
    return json::ObjectBuilder(ok_object())
        .value("header", plan.header)
        .value("items", std::move(rows))
        .count("same", plan.same)
        .count("appeared", plan.appeared)
        .count("locked", plan.locked)
        .flag("wrong_machine", plan.different_computer)
        .done();
}

// Whether a route refuses, before planning anything, a request that carries
// more changes than the window ever sends in one.
enum class Changes { unbounded, bounded };

// One call of the API: a method and an exact path, and what answers it from
// the request's body (an empty object for a GET).
struct Route {
    std::string_view method;
    std::string_view path;
    JsonValue (*answer)(ServerState& state, engine::EngineContext& engine, const JsonValue& body);
    Changes changes = Changes::unbounded;
};

constexpr auto routes = std::to_array<Route>({
    {"GET", "/api/state", [](ServerState&, engine::EngineContext& engine, const JsonValue&) {
        return state_answer(engine);
    }},
    {"GET", "/api/history", [](ServerState&, engine::EngineContext& engine, const JsonValue&) {
        return history_answer(engine);
    }},
    {"GET", "/api/knowledge", [](ServerState&, engine::EngineContext& engine, const JsonValue&) {
        return engine.knowledge().status_json();
    }},
    {"GET", "/api/doctor", [](ServerState&, engine::EngineContext& engine, const JsonValue&) {
        JsonValue probes = JsonValue::array();
        for (const model::Probe& probe : engine::doctor_report(engine)) {
            probes.as_array().push_back(model::probe_json(probe));
        }
        return json::ObjectBuilder().value("probes", std::move(probes)).value("records", JsonValue::array()).done();
    }},
    {"GET", "/api/backup/list", [](ServerState&, engine::EngineContext& engine, const JsonValue&) {
        JsonValue backups = JsonValue::array();
        for (const engine::BackupSummary& summary : engine::list_backups(engine)) {
            backups.as_array().push_back(engine::backup_summary_json(summary));
        }
        return json::ObjectBuilder()
            .value("backups", std::move(backups))
            .string("folder", engine::backup_folder(engine))
            .done();
    }},
    {"POST", "/api/ping", [](ServerState& state, engine::EngineContext&, const JsonValue&) {
        state.window_opened.store(true);
        state.last_ping.store(now_unix_millis());
        return ok_object();
    }},
    {"POST", "/api/bye", [](ServerState& state, engine::EngineContext&, const JsonValue&) {
        state.bye_at.store(now_unix_millis());
        state.watch.stop();
        return ok_object();
    }},
    // {"after": N}: waits until the watch sees a change numbered after N, or
    // about 25 seconds; without "after" (the first poll, which starts the
    // watch) until the watch is ready.
    {"POST", "/api/watch", [](ServerState& state, engine::EngineContext& engine, const JsonValue& body) {
        const std::optional<std::uint64_t> after =
            json::get(body, "after") != nullptr ? std::optional(json::get_count(body, "after")) : std::nullopt;
        return state.watch.poll(engine, after);
    }},
    {"POST", "/api/watch/stop", [](ServerState& state, engine::EngineContext&, const JsonValue&) {
        state.watch.stop();
        return ok_object();
    }},
    // The server ends the process once this answer is sent.
    {"POST", "/api/quit", [](ServerState&, engine::EngineContext&, const JsonValue&) { return ok_object(); }},
    {"POST", "/api/scan", [](ServerState&, engine::EngineContext& engine, const JsonValue& body) {
        return scan_answer(engine, json::get_text(body, "what"));
    }},
    {"POST", "/api/plan", [](ServerState&, engine::EngineContext& engine, const JsonValue& body) {
        JsonValue plans = JsonValue::array();
        for (const engine::PlannedChange& plan : engine::plan_changes(engine, changes_of(body))) {
            plans.as_array().push_back(engine::plan_json(plan));
        }
        return json::ObjectBuilder().value("plans", std::move(plans)).done();
    }, Changes::bounded},
    // The reviewed changes as a plan for other computers (plan apply there):
    // {"text": the document, "name": a file name}. Only changes that travel.
    {"POST", "/api/plan/export", [](ServerState&, engine::EngineContext& engine, const JsonValue& body) {
        engine::PortablePlan plan;
        plan.made = time_text(now_unix_seconds());
        plan.from = engine.facts().host;
        for (const engine::ChangeRequest& request : changes_of(body)) {
            const std::optional<model::StartupItem> item = engine.find_item_by_id(request.id);
            if (!request.action || !item) continue;
            const model::ChangeAction action = *request.action;
            if (action == model::ChangeAction::create || action == model::ChangeAction::remove ||
                action == model::ChangeAction::undo)
                continue;
            plan.changes.push_back(engine::portable_change(*item, action, request.seconds, engine.facts()));
        }
        if (plan.changes.empty()) return failure("None of these changes can be applied on other computers.");
        return json::ObjectBuilder(ok_object())
            .string("text", json::write(engine::portable_plan_json(plan)) + "\n")
            .string("name", "quillmoor-plan-" + engine.facts().host + ".json")
            .count("count", plan.changes.size())
            .done();
    }, Changes::bounded},
    {"POST", "/api/apply", [](ServerState&, engine::EngineContext& engine, const JsonValue& body) {
        JsonValue results = JsonValue::array();
        std::vector<engine::ChangeRequest> requests = changes_of(body);
        if (!requests.empty()) {
            for (const engine::ChangeResult& result : engine::apply_changes(engine, requests)) {
                results.as_array().push_back(engine::change_result_json(result));
            }
        }
        return json::ObjectBuilder().value("results", std::move(results)).done();
    }, Changes::bounded},
    {"POST", "/api/undo", [](ServerState&, engine::EngineContext& engine, const JsonValue& body) {
        Result<std::string> undone =
            engine::undo_change(engine, json::get_count(body, "seq"), json::get_flag(body, "ack"));
        if (undone) return json::ObjectBuilder(ok_object()).string("message", *undone).done();
        // The window asks again with ack when the message is a question.
        const std::string& said = undone.error().message;
        return failure(undone.error().is(ErrorKind::needs_decision) ? "CONFIRM: " + said : said);
    }},
    {"POST", "/api/elevate", [](ServerState&, engine::EngineContext& engine, const JsonValue&) {
        Result<void> started = engine.platform().restart_elevated({"serve"});
        return started ? ok_object() : failure(started.error().message);
    }},
    {"POST", "/api/knowledge/update", [](ServerState&, engine::EngineContext& engine, const JsonValue& body) {
        Result<std::string> report = engine.knowledge().update(json::get_text(body, "url"));
        JsonValue out = json::ObjectBuilder(ok_object(report.has_value()))
                            .string("message", report ? *report : report.error().message)
                            .done();
        return with_status(std::move(out), engine);
    }},
    {"POST", "/api/knowledge/import", [](ServerState&, engine::EngineContext& engine, const JsonValue& body) {
        Result<knowledge::KnowledgePack> installed = engine.knowledge().install(json::get_text(body, "text"));
        JsonValue out =
            json::ObjectBuilder(ok_object(installed.has_value()))
                .string("message",
                        installed ? "Installed knowledge " + installed->version + "." : installed.error().message)
                .done();
        return with_status(std::move(out), engine);
    }},
    {"POST", "/api/knowledge/rollback", [](ServerState&, engine::EngineContext& engine, const JsonValue&) {
        Result<std::string> result = engine.knowledge().rollback();
        JsonValue out = json::ObjectBuilder(ok_object(result.has_value()))
                            .string("message", result ? *result : result.error().message)
                            .done();
        return with_status(std::move(out), engine);
    }},
    {"POST", "/api/knowledge/settings", [](ServerState&, engine::EngineContext& engine, const JsonValue& body) {
        const std::string url = json::get_text(body, "url");
        if (!url.starts_with("https://")) return failure("The update address must start with https://");
        Result<void> saved = engine.knowledge().save_settings(json::get_flag(body, "auto_check"), url);
        if (!saved) return failure(saved.error().message);
        return with_status(ok_object(), engine);
    }},
    {"POST", "/api/backup/create", [](ServerState&, engine::EngineContext& engine, const JsonValue& body) {
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
    }},
    {"POST", "/api/backup/get", [](ServerState&, engine::EngineContext& engine, const JsonValue& body) {
        Result<std::string> text = engine::read_backup(engine, json::get_text(body, "name"));
        if (!text) return failure(text.error().message);
        return json::ObjectBuilder(ok_object()).string("text", *text).done();
    }},
    {"POST", "/api/backup/delete", [](ServerState&, engine::EngineContext& engine, const JsonValue& body) {
        Result<void> deleted = engine::delete_backup(engine, json::get_text(body, "name"));
        return deleted ? ok_object() : failure(deleted.error().message);
    }},
    {"POST", "/api/restore/plan", [](ServerState&, engine::EngineContext& engine, const JsonValue& body) {
        return restore_answer(engine, body);
    }},
    // {"ids": [...]}: forgets the changes found for those items (all, when empty).
    {"POST", "/api/changes/ack", [](ServerState&, engine::EngineContext& engine, const JsonValue& body) {
        std::vector<std::string> ids;
        if (const JsonValue* list = json::get(body, "ids"); list != nullptr && list->is_array()) {
            for (const JsonValue& id : list->as_array()) {
                if (id.is_string()) ids.push_back(id.as_string());
            }
        }
        Result<std::size_t> forgotten = engine.acknowledge_changes(ids);
        return forgotten ? json::ObjectBuilder(ok_object()).count("acknowledged", *forgotten).done()
                         : failure(forgotten.error().message);
    }},
    // {"id": ..., "ignored": true|false}: puts an item on the ignore list or takes it off.
    {"POST", "/api/changes/ignore", [](ServerState&, engine::EngineContext& engine, const JsonValue& body) {
        const std::string id = json::get_text(body, "id");
        if (id.empty()) return failure("Which item? The request names none.");
        Result<void> set = engine.set_ignored(id, json::get_flag(body, "ignored"));
        return set ? ok_object() : failure(set.error().message);
    }},
});

// The route for exactly this method and path, or nullptr.
const Route* find_route(const std::string& method, const std::string& path) {
    for (const Route& route : routes) {
        if (route.method == method && route.path == path) return &route;
    }
    return nullptr;
}

}  // namespace

ApiAnswer route_api(ServerState& state, const std::string& method, const std::string& path, const JsonValue& body) {
    ApiAnswer out;
    const Route* route = find_route(method, path);
    if (route == nullptr) {
        out.known = false;
        return out;
    }
    if (route->changes == Changes::bounded && too_many_changes(body)) {
        out.status = 400;
        out.error = "A request may carry at most " + std::to_string(max_changes_per_request) + " changes.";
        return out;
    }
    out.body = route->answer(state, *state.engine, body);
    return out;
}

}  // namespace qm::server
