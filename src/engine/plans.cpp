#include "engine/plans.h"

#include <algorithm>

#include "engine/backups.h"
#include "engine/journal.h"
#include "os/files.h"
#include "util/text.h"

namespace qm::engine {

namespace {

bool contains_any(std::string_view text, std::initializer_list<std::string_view> parts) {
    return std::any_of(parts.begin(), parts.end(), [&](std::string_view part) { return text.find(part) != std::string_view::npos; });
}

std::string slashed_lower(std::string_view path) {
    std::string out = to_lower_ascii(path);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

void raise_to_caution(model::Assessment& risk) {
    if (risk.level == model::Level::safe || risk.level == model::Level::low) risk.level = model::Level::caution;
}

// A program's first word as this system's command lines split it.
std::string first_word(std::string_view command, std::string_view os) {
    std::vector<std::string> words = split_command_line(command, os != "windows");
    return words.empty() ? std::string() : words.front();
}

bool looks_like_a_path(std::string_view path) {
    if (path.find('/') != std::string_view::npos) return true;
    if (path.size() >= 2 && path[1] == ':' && ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z'))) {
        return true;
    }
    return path.starts_with("\\\\");
}

PlannedChange plan_item_change(EngineContext& context, const ChangeRequest& request) {
    PlannedChange plan;
    plan.action = request.action;
    std::optional<model::StartupItem> found = context.find_item_by_id(request.id);
    if (!found) {
        plan.id = request.id;
        plan.name = request.id;
        plan.risk = model::Assessment{"This item no longer exists. Scan again.", {}, "high", model::Level::critical};
        plan.problems.push_back("The item was not found; it may have been removed since the last scan.");
        return plan;
    }
    const model::StartupItem& item = *found;
    const bool admin = context.facts().admin;
    plan.id = item.id();
    plan.name = item.name;

    if (request.action == "disable" || request.action == "enable") {
        if (item.toggle == "locked") {
            plan.problems.push_back(item.toggle_note.empty() ? "This item cannot be switched here." : item.toggle_note);
        }
        if (item.toggle == "admin" && !admin) plan.admin_needed = true;
        if (request.action == "disable" && !item.enabled) plan.problems.push_back("It is already switched off.");
        if (request.action == "enable" && item.enabled) plan.problems.push_back("It is already switched on.");
    }

    if (request.action == "disable") {
        plan.risk = item.risk;
    } else if (request.action == "enable") {
        const bool at_boot = item.scope == "machine" &&
                             (item.kind == "service" || item.kind == "systemd" || item.kind == "daemon" || item.kind == "task");
        plan.risk.level = model::Level::safe;
        plan.risk.confidence = "high";
        plan.risk.effect = std::string("It will start automatically ") +
                           (at_boot ? "when the computer starts" : "the next time the computer starts or you sign in") +
                           ". Start-up takes slightly longer, and it uses memory while it runs.";
        if (!context.demo() && !item.exe.empty() && !item.exe.starts_with("%") &&
            to_lower_ascii(item.exe).find("svchost") == std::string::npos &&
            os::path_kind(item.exe) == os::PathKind::missing) {
            plan.risk.level = model::Level::caution;
            plan.risk.effect = "Its program file is missing (" + item.exe +
                               "). Switching it on does nothing useful and may show an error at start-up.";
            plan.risk.reasons.push_back("The file named in the command does not exist.");
        }
        if (contains_any(slashed_lower(item.exe), {"/temp/", "/tmp/", "/downloads/", "/appdata/local/temp"})) {
            raise_to_caution(plan.risk);
            plan.risk.reasons.push_back(
                "Its program sits in a temporary or Downloads folder, which is where unwanted software often hides.");
        }
        if (item.publisher.empty() && item.origin != "Operating system" && item.origin != "Created by Quillmoor") {
            plan.risk.reasons.push_back("No publisher is recorded for its program file; make sure you recognise it.");
            if (plan.risk.level == model::Level::safe) plan.risk.level = model::Level::low;
        }
    } else {  // remove
        if (!item.managed) {
            plan.problems.push_back("Only startup entries created by Quillmoor can be removed. Use Disable for others.");
        }
        if (item.toggle == "admin" && !admin) plan.admin_needed = true;
        plan.risk = model::Assessment{"Deletes the startup entry Quillmoor created. The program itself is not touched, and the "
                               "removal can be undone from History.",
                               {}, "high", model::Level::low};
    }
    return plan;
}

PlannedChange plan_create(EngineContext& context, const ChangeRequest& request) {
    PlannedChange plan;
    plan.id = request.id;
    plan.name = request.create.name;
    plan.action = request.action;
    const std::optional<model::Candidate> source = context.find_program(request.id);
    const model::SystemFacts& facts = context.facts();

    if (trim(request.create.name).empty()) plan.problems.push_back("A name is required.");
    if (trim(request.create.command).empty()) plan.problems.push_back("A command is required.");
    for (const auto& [text, what] : {std::pair{&request.create.name, "name"}, std::pair{&request.create.command, "command"},
                                     std::pair{&request.create.workdir, "working folder"}, std::pair{&request.create.user, "user name"}}) {
        if (has_control_character(*text)) {
            plan.problems.push_back(std::string("The ") + what +
                                    " contains a line break or an invisible control character, which is not allowed.");
        }
    }

    std::string program = first_word(request.create.command, facts.os);
    if (program.empty()) program = request.create.exe.empty() ? program_of_command_line(request.create.command) : request.create.exe;
    if (looks_like_a_path(program) && !context.demo() && os::path_kind(program) == os::PathKind::missing) {
        plan.problems.push_back("The program file does not exist: " + program);
    }

    std::vector<std::string> allowed;
    const model::StartMode* mode = nullptr;
    if (source) {
        for (const model::StartMode& m : source->modes) {
            allowed.push_back(m.id);
            if (m.id == request.create.mode) mode = &m;
        }
    } else if (facts.os == "linux") {
        allowed = {"login", "user-service", "boot", "cron"};
    } else {
        allowed = {"login", "boot"};
    }
    if (request.create.mode.empty()) {
        plan.problems.push_back("A method is required.");
    } else if (std::find(allowed.begin(), allowed.end(), request.create.mode) == allowed.end()) {
        plan.problems.push_back("\"" + request.create.mode + "\" is not a way a program can be started on this computer.");
    }

    const bool wide_reach = mode ? mode->needs_admin
                                 : (request.create.mode == "boot" || request.create.mode == "system" || request.create.mode == "daemon" ||
                                    request.create.mode == "service-auto");
    if (wide_reach && !facts.admin) plan.admin_needed = true;

    model::Assessment& risk = plan.risk;
    risk.level = model::Level::safe;
    risk.confidence = "high";
    risk.effect = "\"" + request.create.name + "\" will start automatically " +
                  (request.create.mode == "boot" ? "when the computer starts, before anyone signs in" : "when you sign in") +
                  ". It can be switched off or removed later from this program, and the change is undoable from History.";
    risk.reasons.push_back("Method: " + (mode ? mode->label : request.create.mode) + ".");
    if (wide_reach) {
        raise_to_caution(risk);
        risk.reasons.push_back(
            "This method runs with administrator/root rights or for every user, so a mistake in the command has a wider reach.");
    }
    if (contains_any(slashed_lower(program), {"/temp/", "/tmp/", "/downloads/"})) {
        raise_to_caution(risk);
        risk.reasons.push_back(
            "The program sits in a temporary or Downloads folder; it may be moved or deleted, and unwanted software often hides there.");
    }
    if (!source) {
        raise_to_caution(risk);
        risk.reasons.push_back(
            "This entry does not come from a program Quillmoor has just listed (for example it comes from a backup file), so "
            "read the command carefully before you accept it.");
    } else if (!source->publisher.empty()) {
        risk.reasons.push_back("Published by " + source->publisher + ".");
    } else if (!source->system) {
        risk.reasons.push_back("No publisher is recorded for the program file; make sure you recognise it.");
    }
    risk.reasons.push_back("Anything a program starts with the computer slows start-up a little and uses memory while it runs.");

    // The program file is found again when the entry is made, and a new
    // entry gets no description of its own.
    plan.create = request.create;
    plan.create->exe.clear();
    return plan;
}

// Turns a platform failure into the result's message.
void take_failure(ChangeResult& result, const Error& error) {
    if (error.is(ErrorKind::needs_admin)) {
        result.message = error.message + " Use \"Restart as administrator\".";
        result.admin = true;
    } else {
        result.message = error.message;
    }
}

void make_change(EngineContext& context, const ChangeRequest& request, const PlannedChange& plan, ChangeResult& result) {
    model::Platform& platform = context.platform();
    JournalRecord record;
    record.action = request.action;
    record.stop_now = request.stop_now;

    if (request.action == "enable" || request.action == "disable") {
        std::optional<model::StartupItem> item = context.find_item_by_id(request.id);
        if (!item) {
            result.message = "The item was not found.";
            return;
        }
        for (const auto& [key, value] : request.options) item->set_spec("want_" + key, value);
        Result<model::ChangeOutcome> outcome = platform.set_enabled(*item, request.action == "enable", request.stop_now);
        if (!outcome) return take_failure(result, outcome.error());
        result.id = item->id();
        result.name = item->name;
        result.message = outcome->message;
    } else if (request.action == "remove") {
        std::optional<model::StartupItem> item = context.find_item_by_id(request.id);
        if (!item) {
            result.message = "The item was not found.";
            return;
        }
        // How to make the entry again: from the newest create record, else from the item.
        json::JsonValue saved = model::item_saved_json(*item);
        const json::JsonValue* from_item = json::get(saved, "spec");
        model::CreateDetails details = from_item ? model::create_details_from_json(*from_item) : model::CreateDetails{};
        for (const JournalRecord& earlier : read_journal(context.data_folder())) {
            if (earlier.action == "create" && earlier.ok && earlier.id == item->id()) {
                details = create_details_from_pairs(earlier.spec);
            }
        }
        Result<model::ChangeOutcome> outcome = platform.remove_entry(*item);
        if (!outcome) return take_failure(result, outcome.error());
        result.id = item->id();
        result.name = item->name;
        result.message = outcome->message;
        record.spec = create_details_pairs(details);
    } else {  // create
        model::CreateDetails details = *plan.create;
        std::optional<model::Candidate> program = context.find_program(request.id);
        if (details.exe.empty()) {
            details.exe = program && !program->exe.empty() ? program->exe
                                                           : first_word(details.command, context.facts().os);
        }
        if (details.workdir.empty() && program) details.workdir = program->workdir;
        if (details.user.empty()) details.user = program && !program->user.empty() ? program->user : context.facts().user;
        Result<model::CreatedEntry> created = platform.create_entry(details, context.facts().admin);
        if (!created) return take_failure(result, created.error());
        result.id = created->item.id();
        result.name = created->item.name;
        result.message = created->outcome.message;
        record.spec = create_details_pairs(details);
    }

    result.ok = true;
    record.id = result.id;
    record.name = result.name;
    record.detail = result.message;
    record.ok = true;
    if (Result<void> written = append_journal(context.data_folder(), std::move(record)); !written) {
        result.message += " (the history could not be written: " + written.error().message + ")";
    }
}

}  // namespace

std::vector<model::SpecPair> create_details_pairs(const model::CreateDetails& details) {
    return {{"name", details.name},   {"command", details.command}, {"exe", details.exe},
            {"workdir", details.workdir}, {"mode", details.mode},   {"user", details.user},
            {"description", details.description}};
}

model::CreateDetails create_details_from_pairs(const std::vector<model::SpecPair>& pairs) {
    auto value = [&pairs](std::string_view key) {
        for (const model::SpecPair& pair : pairs) {
            if (pair.key == key) return pair.value;
        }
        return std::string();
    };
    return model::CreateDetails{value("name"), value("command"), value("exe"), value("workdir"),
                         value("mode"), value("user"),    value("description")};
}

std::string refusal_message(const PlannedChange& plan) {
    if (plan.problems.empty()) return "Refused: " + plan.risk.effect;
    std::string out = "Refused:";
    for (const std::string& problem : plan.problems) out += " " + problem;
    return out;
}

ChangeRequest create_request(std::string id, const model::CreateDetails& details) {
    ChangeRequest request;
    request.action = "create";
    request.id = std::move(id);
    request.create = details;
    request.create.description.clear();  // a request asks for no description
    return request;
}

ChangeRequest prepare_request(EngineContext& context, ChangeRequest request) {
    if (request.action != "create") return request;
    std::optional<model::Candidate> program = context.find_program(request.id);
    if (program && !program->entry_id.empty()) {
        ChangeRequest enable;
        enable.action = "enable";
        enable.id = program->entry_id;
        enable.ack = request.ack;
        return enable;
    }
    return request;
}

PlannedChange plan_change(EngineContext& context, const ChangeRequest& request) {
    if (request.action == "disable" || request.action == "enable" || request.action == "remove") {
        return plan_item_change(context, request);
    }
    if (request.action == "create") return plan_create(context, request);
    PlannedChange plan;
    plan.id = request.id;
    plan.name = request.id;
    plan.action = request.action;
    plan.risk = model::Assessment{"Unknown action.", {}, "high", model::Level::critical};
    plan.problems.push_back("Unknown action \"" + request.action + "\".");
    return plan;
}

std::vector<PlannedChange> plan_changes(EngineContext& context, const std::vector<ChangeRequest>& requests) {
    std::vector<PlannedChange> plans;
    plans.reserve(requests.size());
    for (const ChangeRequest& request : requests) plans.push_back(plan_change(context, prepare_request(context, request)));
    return plans;
}

std::optional<std::string> ensure_automatic_backup(EngineContext& context) {
    if (context.automatic_backup_saved().load()) return std::nullopt;
    // Held while the backup is saved: a change that arrives meanwhile waits
    // for it instead of running ahead of the backup.
    std::lock_guard lock(context.automatic_backup_lock());
    if (context.automatic_backup_saved().load()) return std::nullopt;
    Result<std::string> saved = save_backup(context, make_backup(context, automatic_backup_label), true);
    if (!saved) return saved.error().message;
    context.automatic_backup_saved().store(true);
    return std::nullopt;
}

std::vector<ChangeResult> apply_changes(EngineContext& context, const std::vector<ChangeRequest>& requests) {
    // The automatic backup is taken just before the first change that is
    // really made: a batch that is refused whole changes nothing, and must
    // not prune an older automatic backup that someone may still need.
    bool backup_tried = false;
    std::optional<std::string> backup_failure;
    std::size_t first_made = 0;
    std::vector<ChangeResult> results;
    results.reserve(requests.size());
    for (const ChangeRequest& asked : requests) {
        const ChangeRequest request = prepare_request(context, asked);
        const PlannedChange plan = plan_change(context, request);
        ChangeResult result{plan.id, plan.name, request.action, "", false, false};
        if (plan.blocked()) {
            result.message = refusal_message(plan);
        } else if (plan.admin_needed) {
            result.message = "This change needs administrator rights. Use \"Restart as administrator\".";
            result.admin = true;
        } else if (plan.needs_ack() && !request.ack) {
            result.message = "Not applied: this change needs your confirmation first.";
        } else {
            if (!backup_tried) {
                backup_tried = true;
                backup_failure = ensure_automatic_backup(context);
                first_made = results.size();
            }
            make_change(context, request, plan, result);
        }
        results.push_back(std::move(result));
    }
    if (backup_failure) {
        results[first_made].message += " (No automatic backup could be saved first: " + *backup_failure + ")";
    }
    context.forget_cached_items();
    return results;
}

json::JsonValue plan_json(const PlannedChange& plan) {
    json::JsonValue spec;  // null unless the plan creates an entry
    if (plan.create) {
        spec = json::ObjectBuilder()
                .string("name", plan.create->name)
                .string("command", plan.create->command)
                .string("workdir", plan.create->workdir)
                .string("mode", plan.create->mode)
                .string("user", plan.create->user)
                .done();
    }
    return json::ObjectBuilder()
            .string("id", plan.id)
            .string("name", plan.name)
            .string("action", plan.action)
            .value("risk", model::assessment_json(plan.risk))
            .strings("problems", plan.problems)
            .flag("blocked", plan.blocked())
            .flag("admin_needed", plan.admin_needed)
            .value("spec", std::move(spec))
            .done();
}

json::JsonValue change_result_json(const ChangeResult& result) {
    return json::ObjectBuilder()
            .string("id", result.id)
            .string("name", result.name)
            .string("action", result.action)
            .flag("ok", result.ok)
            .string("message", result.message)
            .flag("admin_needed", result.admin)
            .done();
}

ChangeRequest change_request_from_json(const json::JsonValue& object) {
    const json::JsonValue* spec = json::get(object, "spec");
    ChangeRequest request = create_request(json::get_text(object, "id"), model::create_details_from_json(spec ? *spec : object));
    request.action = json::get_text(object, "action");
    // Free name/value pairs for the platform, such as a service's start type.
    if (const json::JsonValue* hints = json::get(object, "hints"); hints && hints->is_object()) {
        for (const auto& [key, value] : hints->as_object()) {
            request.options.emplace_back(key, value.is_string() ? value.as_string() : std::string());
        }
    }
    request.stop_now = json::get_flag(object, "stop_now");
    request.ack = json::get_flag(object, "ack");
    return request;
}

}  // namespace qm::engine
