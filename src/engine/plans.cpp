#include "engine/plans.h"

#include <algorithm>

#include "engine/backups.h"
#include "engine/change_lock.h"
#include "engine/journal.h"
#include "os/files.h"
#include "util/text.h"

namespace qm::engine {

namespace {

using model::ChangeAction;
using model::Level;

bool contains_any(std::string_view text, std::initializer_list<std::string_view> parts) {
    return std::any_of(parts.begin(), parts.end(),
                       [&](std::string_view part) { return text.find(part) != std::string_view::npos; });
}

std::string slashed_lower(std::string_view path) {
    std::string out = to_lower_ascii(path);
    std::replace(out.begin(), out.end(), '\\', '/');
    return out;
}

void raise_to_caution(model::Assessment& risk) {
    if (risk.level == Level::safe || risk.level == Level::low) risk.level = Level::caution;
}

// A program's first word as this system's command lines split it.
std::string first_word(std::string_view command, const model::SystemFacts& facts) {
    std::vector<std::string> words = split_command_line(command, facts.posix_command_lines);
    return words.empty() ? std::string() : words.front();
}

bool looks_like_a_path(std::string_view path) {
    if (path.find('/') != std::string_view::npos) return true;
    if (path.size() >= 2 && path[1] == ':' &&
        ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z'))) {
        return true;
    }
    return path.starts_with("\\\\");
}

bool is_way(const std::optional<ChangeAction>& action) {
    return action == ChangeAction::later || action == ChangeAction::when_needed || action == ChangeAction::on_time;
}

// A gentler way is judged by what switching the item off would do, a step
// milder: the item still starts.
Level milder(Level level) {
    switch (level) {
        case Level::high:
            return Level::caution;
        case Level::safe:
            return Level::safe;
        default:
            return Level::low;
    }
}

void plan_way(PlannedChange& plan, const model::StartupItem& item, const ChangeRequest& request) {
    const ChangeAction way = *request.action;
    const model::StartWays& ways = item.ways;
    plan.seconds = way == ChangeAction::later ? request.seconds : 0;
    plan.risk.confidence = model::Confidence::high;
    if (way == ChangeAction::on_time) {
        if (!ways.taken) plan.problems.push_back("It already starts as it did before.");
        plan.risk.level = request.from_remove ? Level::caution : Level::safe;
        plan.risk.effect = model::way_meaning(way, ways.later);
        if (!ways.own_entry.empty()) {
            plan.risk.effect += " The entry Quillmoor made to start it later is removed, and its own entry is "
                                "switched on again.";
        }
        return;
    }
    if (item.risk.level == Level::critical) {
        plan.problems.push_back(
            "It is critical to the computer, so it is never made to start later or only when needed either.");
    }
    const bool offered = way == ChangeAction::when_needed ? ways.when_needed : ways.later != model::LaterKind::none;
    if (!offered) {
        plan.problems.push_back(ways.any_offered()
                                    ? "\"" + model::way_label(way, model::LaterKind::service, 0) +
                                          "\" is not a way this item can take."
                                    : model::no_gentler_way_text(item.kind));
    } else if (ways.taken) {
        plan.problems.push_back("It already " + to_lower_ascii(model::taken_text(ways).substr(0, 1)) +
                                model::taken_text(ways).substr(1) + "; choose \"Start as before\" first.");
    } else if (!item.enabled) {
        plan.problems.push_back("It is switched off; switch it on first.");
    } else if (way == ChangeAction::later && ways.later != model::LaterKind::service) {
        if (request.seconds == 0) plan.problems.push_back("Say how long after the start it should wait.");
        if (request.seconds > model::longest_later_seconds)
            plan.problems.push_back("A start more than 24 hours later is not offered.");
    }
    plan.risk.level = milder(item.risk.level);
    plan.risk.effect = way == ChangeAction::later && ways.later != model::LaterKind::service
                           ? model::way_label(way, ways.later, request.seconds) + ": " + model::way_meaning(way, ways.later)
                           : model::way_meaning(way, ways.later);
    if (!item.risk.effect.empty()) plan.risk.reasons.push_back("Switched off instead: " + item.risk.effect);
    plan.risk.reasons.push_back("It can be taken back from History, or with \"Start as before\".");
}

PlannedChange plan_item_change(EngineContext& context, const ChangeRequest& request) {
    PlannedChange plan;
    plan.action = request.action;
    std::optional<model::StartupItem> found = context.find_item_by_id(request.id);
    if (!found) {
        plan.id = request.id;
        plan.name = request.id;
        plan.risk =
            model::Assessment{"This item no longer exists. Scan again.", {}, model::Confidence::high, Level::critical};
        plan.problems.push_back("The item was not found; it may have been removed since the last scan.");
        return plan;
    }
    const model::StartupItem& item = *found;
    const bool admin = context.facts().admin;
    plan.id = item.id();
    plan.name = item.name;

    if (request.action == ChangeAction::disable || request.action == ChangeAction::enable || is_way(request.action)) {
        if (item.toggle == model::Toggle::locked) {
            plan.problems.push_back(item.toggle_note.empty() ? "This item cannot be switched here." : item.toggle_note);
        }
        if (item.toggle == model::Toggle::admin && !admin) plan.admin_needed = true;
        if (request.action == ChangeAction::disable && !item.enabled)
            plan.problems.push_back("It is already switched off.");
        if (request.action == ChangeAction::enable && item.enabled)
            plan.problems.push_back("It is already switched on.");
    }

    // Units the platform switches together with this one (spec "also", names
    // separated by spaces) are named in the review.
    auto name_also = [&] {
        if (const std::string& also = item.spec_value("also"); !also.empty())
            plan.risk.reasons.push_back("It is switched together with " + also + ", which change with it.");
    };
    if (is_way(request.action)) {
        plan_way(plan, item, request);
        name_also();
    } else if (request.action == ChangeAction::disable) {
        plan.risk = item.risk;
        name_also();
        // Risky to switch off, and a gentler way would do: it is named first.
        const model::StartWays& ways = item.ways;
        if ((item.risk.level == Level::high || item.risk.level == Level::caution) && ways.any_offered() &&
            !ways.taken && item.enabled) {
            plan.suggested = ways.when_needed ? ChangeAction::when_needed : ChangeAction::later;
            const std::uint32_t seconds =
                ways.later == model::LaterKind::service ? 0 : model::later_minutes_offered[2] * 60;
            plan.risk.reasons.insert(plan.risk.reasons.begin(),
                                     "Gentler: " + model::way_label(*plan.suggested, ways.later, seconds) + ". " +
                                         model::way_meaning(*plan.suggested, ways.later));
        }
    } else if (request.action == ChangeAction::enable) {
        const bool at_boot = item.scope == model::Scope::machine && model::starts_at_boot_for_machine(item.kind);
        plan.risk.level = Level::safe;
        plan.risk.confidence = model::Confidence::high;
        plan.risk.effect = std::string("It will start automatically ") +
                           (at_boot ? "when the computer starts" : "the next time the computer starts or you sign in") +
                           ". Start-up takes slightly longer, and it uses memory while it runs.";
        // A platform that reads another root than this machine's says itself
        // whether the program file is there ("exe_found").
        const std::string& found = item.spec_value("exe_found");
        if (!context.demo() && !item.exe.empty() && !item.exe.starts_with("%") &&
            to_lower_ascii(item.exe).find("svchost") == std::string::npos &&
            (found.empty() ? os::path_kind(item.exe) == os::PathKind::missing : found == "0")) {
            plan.risk.level = Level::caution;
            plan.risk.effect = "Its program file is missing (" + item.exe +
                               "). Switching it on does nothing useful and may show an error at start-up.";
            plan.risk.reasons.push_back("The file named in the command does not exist.");
        }
        // What the platform knows to be risky to switch on (spec "enable_risk":
        // the sentence that says why) needs a decision like any risky change.
        if (const std::string& why = item.spec_value("enable_risk"); !why.empty()) {
            plan.risk.level = Level::high;
            plan.risk.effect = why;
            plan.risk.reasons.push_back("Switching it on is known to be risky.");
        }
        name_also();
        if (contains_any(slashed_lower(item.exe), {"/temp/", "/tmp/", "/downloads/", "/appdata/local/temp"})) {
            raise_to_caution(plan.risk);
            plan.risk.reasons.push_back(
                "Its program sits in a temporary or Downloads folder, which is where unwanted software often hides.");
        }
        if (item.publisher.empty() && item.origin != model::Origin::operating_system &&
            item.origin != model::Origin::own_entry) {
            plan.risk.reasons.push_back("No publisher is recorded for its program file; make sure you recognise it.");
            if (plan.risk.level == Level::safe) plan.risk.level = Level::low;
        }
    } else {  // remove
        if (!item.managed) {
            plan.problems.push_back(
                "Only startup entries created by Quillmoor can be removed. Use Disable for others.");
        }
        if (item.toggle == model::Toggle::admin && !admin) plan.admin_needed = true;
        plan.risk = model::Assessment{
            "Deletes the startup entry Quillmoor created. The program itself is not touched, and the "
            "removal can be undone from History.",
            {},
            model::Confidence::high,
            Level::low};
    }
    plan.item = std::move(found);
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
    for (const auto& [text, what] :
         {std::pair{&request.create.name, "name"}, std::pair{&request.create.command, "command"},
          std::pair{&request.create.workdir, "working folder"}, std::pair{&request.create.user, "user name"}}) {
        if (has_control_character(*text)) {
            plan.problems.push_back(std::string("The ") + what +
                                    " contains a line break or an invisible control character, which is not allowed.");
        }
    }

    std::string program = first_word(request.create.command, facts);
    if (program.empty())
        program = request.create.exe.empty() ? program_of_command_line(request.create.command) : request.create.exe;
    if (looks_like_a_path(program) && !context.demo() && os::path_kind(program) == os::PathKind::missing) {
        plan.problems.push_back("The program file does not exist: " + program);
    }

    // The ways offered: the listed program's own, or else the platform's for
    // an entry made from a backup or the history.
    const std::vector<model::StartMode>& offered = source ? source->modes : facts.entry_modes;
    const auto found_mode = std::find_if(offered.begin(), offered.end(),
                                         [&](const model::StartMode& m) { return m.id == request.create.mode; });
    const model::StartMode* mode = found_mode == offered.end() ? nullptr : &*found_mode;
    if (request.create.mode.empty()) {
        plan.problems.push_back("A method is required.");
    } else if (!mode) {
        plan.problems.push_back("\"" + request.create.mode +
                                "\" is not a way a program can be started on this computer.");
    }

    const bool wide_reach = mode && mode->needs_admin;
    if (wide_reach && !facts.admin) plan.admin_needed = true;

    model::Assessment& risk = plan.risk;
    risk.level = Level::safe;
    risk.confidence = model::Confidence::high;
    risk.effect =
        "\"" + request.create.name + "\" will start automatically " +
        (mode && mode->at_boot ? "when the computer starts, before anyone signs in" : "when you sign in") +
        ". It can be switched off or removed later from this program, and the change is undoable from History.";
    // A program's own way is named by its label; one from a backup by its word.
    risk.reasons.push_back("Method: " + (source && mode ? mode->label : request.create.mode) + ".");
    if (wide_reach) {
        raise_to_caution(risk);
        risk.reasons.push_back(
            "This method runs with administrator/root rights or for every user, so a mistake in the command has a "
            "wider reach.");
    }
    if (contains_any(slashed_lower(program), {"/temp/", "/tmp/", "/downloads/"})) {
        raise_to_caution(risk);
        risk.reasons.push_back(
            "The program sits in a temporary or Downloads folder; it may be moved or deleted, and unwanted software "
            "often hides there.");
    }
    if (!source) {
        raise_to_caution(risk);
        // The decision names what would run: an entry from a backup or the
        // history comes from a file, not from what the user has just seen.
        risk.effect += " It would run: " + replace_control_characters(request.create.command, false);
        risk.reasons.push_back(
            "This entry does not come from a program Quillmoor has just listed (for example it comes from a backup "
            "file), so "
            "read the command carefully before you accept it.");
    } else if (!source->publisher.empty()) {
        risk.reasons.push_back("Published by " + source->publisher + ".");
    } else if (!source->system) {
        risk.reasons.push_back("No publisher is recorded for the program file; make sure you recognise it.");
    }
    risk.reasons.push_back(
        "Anything a program starts with the computer slows start-up a little and uses memory while it runs.");

    // The program file is found again when the entry is made, and a new
    // entry gets no description of its own.
    plan.create = request.create;
    plan.create->exe.clear();
    return plan;
}

// The journal record of a change made: the change itself, or the undo of a
// journalled one.
JournalRecord record_of(const ChangeRequest& request, const MadeChange& made) {
    JournalRecord record;
    record.ok = true;
    record.detail = made.message;
    if (request.undoes) {
        record.action = ChangeAction::undo;
        record.id = request.undoes->id;
        record.name = request.undoes->name;
        record.of = request.undoes->seq;
        return record;
    }
    record.action = *request.action;
    record.id = made.id;
    record.name = made.name;
    record.stop_now = request.stop_now;
    return record;
}

// What the journal keeps of a remove or a create, worked out before the
// computer is changed so that the intent holds it too: how to make the
// entry again, and for a create the details it is made with.
std::vector<model::SpecPair> details_before(EngineContext& context, const ChangeRequest& request,
                                            const PlannedChange& plan, const JournalQuery& journal,
                                            model::CreateDetails& create) {
    if (request.action == ChangeAction::remove) {
        const model::StartupItem& item = *plan.item;
        // How to make the entry again: from the newest create record, else from the item.
        model::CreateDetails details;
        if (const JournalRecord* created = journal.newest_create(item.id())) {
            details = create_details_from_pairs(created->spec);
        } else {
            const json::JsonValue saved = model::item_saved_json(item);
            const json::JsonValue* from_item = json::get(saved, "spec");
            if (from_item) details = model::create_details_from_json(*from_item);
        }
        return create_details_pairs(details);
    }
    if (request.action == ChangeAction::later) return {{"seconds", std::to_string(plan.seconds)}};
    if (request.action == ChangeAction::on_time) {
        // What is taken back, so that undoing it takes the same way again.
        const model::StartWays& ways = plan.item->ways;
        if (!ways.taken) return {};
        return {{"was", std::string(model::word_text(*ways.taken))}, {"seconds", std::to_string(ways.taken_seconds)}};
    }
    if (request.action != ChangeAction::create) return {};
    create = *plan.create;
    const std::optional<model::Candidate> program = context.find_program(request.id);
    const model::SystemFacts& facts = context.facts();
    // The program file: the listed program's, else the one the history
    // recorded for an entry made again, else the command's first word.
    if (create.exe.empty()) {
        if (program && !program->exe.empty()) {
            create.exe = program->exe;
        } else if (request.undoes) {
            create.exe = request.create.exe;
        } else {
            create.exe = first_word(create.command, facts);
        }
    }
    if (create.workdir.empty() && program) create.workdir = program->workdir;
    if (create.user.empty()) create.user = program && !program->user.empty() ? program->user : facts.user;
    return create_details_pairs(create);
}

// The platform call of a change that was decided "go".
Result<MadeChange> call_platform(EngineContext& context, const ChangeRequest& request, const PlannedChange& plan,
                                 const model::CreateDetails& create) {
    model::Platform& platform = context.platform();
    switch (*request.action) {
        case ChangeAction::enable:
        case ChangeAction::disable: {
            model::StartupItem item = *plan.item;
            for (const auto& [key, value] : request.options) item.set_spec("want_" + key, value);
            model::ChangeOutcome outcome =
                QM_TRY(platform.set_enabled(item, request.action == ChangeAction::enable, request.stop_now));
            return MadeChange{item.id(), item.name, std::move(outcome.message), false, {}};
        }
        case ChangeAction::remove: {
            const model::StartupItem& item = *plan.item;
            model::ChangeOutcome outcome = QM_TRY(platform.remove_entry(item));
            return MadeChange{item.id(), item.name, std::move(outcome.message), false, {}};
        }
        case ChangeAction::create: {
            model::CreatedEntry created = QM_TRY(platform.create_entry(create, context.facts().admin));
            std::string message =
                request.undoes ? "Recreated " + created.item.name + "." : std::move(created.outcome.message);
            return MadeChange{created.item.id(), created.item.name, std::move(message), false, {}};
        }
        case ChangeAction::later:
        case ChangeAction::when_needed:
        case ChangeAction::on_time: {
            const model::StartupItem& item = *plan.item;
            std::optional<model::StartupItem> own;
            if (request.action == ChangeAction::on_time && !item.ways.own_entry.empty())
                own = context.find_item_by_id(item.ways.own_entry);
            const model::WayRequest way{*request.action, plan.seconds, own ? &*own : nullptr};
            model::WayOutcome done = QM_TRY(platform.set_start_way(item, way));
            return MadeChange{item.id(), item.name, std::move(done.outcome.message), false, std::move(done.own_entry)};
        }
        case ChangeAction::undo:
        case ChangeAction::observed:
            break;
    }
    return fail("That change cannot be made.");
}

}  // namespace

Decision decide(const PlannedChange& plan, bool ack) {
    if (plan.blocked()) return Decision::refused;
    if (plan.admin_needed) return Decision::needs_admin;
    if (plan.needs_ack() && !ack) return Decision::needs_decision;
    return Decision::go;
}

std::string refusal_message(const PlannedChange& plan) {
    if (plan.problems.empty()) return "Refused: " + plan.risk.effect;
    std::string out = "Refused:";
    for (const std::string& problem : plan.problems) out += " " + problem;
    return out;
}

ChangeRequest prepare_request(EngineContext& context, ChangeRequest request) {
    if (request.undoes) return request;
    // Switching on an item that has taken a gentler way, or removing the own
    // entry that starts it later, starts it as before: switching on alone
    // would start a sign-in program twice, and a service set to start later
    // is on already.
    if (request.action == ChangeAction::enable || request.action == ChangeAction::remove) {
        const std::optional<model::StartupItem> item = context.find_item_by_id(request.id);
        if (item && request.action == ChangeAction::enable && item->ways.taken) {
            request.action = ChangeAction::on_time;
        } else if (item && request.action == ChangeAction::remove && !item->ways.delays.empty()) {
            request.action = ChangeAction::on_time;
            request.id = item->ways.delays;
            request.from_remove = true;
        }
        return request;
    }
    if (request.action != ChangeAction::create) return request;
    std::optional<model::Candidate> program = context.find_program(request.id);
    if (program && !program->entry_id.empty()) {
        ChangeRequest enable;
        enable.action = ChangeAction::enable;
        enable.id = program->entry_id;
        enable.ack = request.ack;
        return enable;
    }
    return request;
}

PlannedChange plan_change(EngineContext& context, const ChangeRequest& request) {
    if (request.action == ChangeAction::disable || request.action == ChangeAction::enable ||
        request.action == ChangeAction::remove || is_way(request.action)) {
        return plan_item_change(context, request);
    }
    if (request.action == ChangeAction::create) return plan_create(context, request);
    PlannedChange plan;
    plan.id = request.id;
    plan.name = request.id;
    plan.action = request.action;
    plan.unknown_action = request.unknown_action;
    plan.risk = model::Assessment{"Unknown action.", {}, model::Confidence::high, Level::critical};
    plan.problems.push_back("Unknown action \"" + action_text(request.action, request.unknown_action) + "\".");
    return plan;
}

std::vector<PlannedChange> plan_changes(EngineContext& context, const std::vector<ChangeRequest>& requests) {
    std::vector<PlannedChange> plans;
    plans.reserve(requests.size());
    for (const ChangeRequest& request : requests)
        plans.push_back(plan_change(context, prepare_request(context, request)));
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

std::optional<std::string> ready_to_change(EngineContext& context) {
    if (std::optional<std::string> failure = ensure_automatic_backup(context)) {
        return "Nothing was changed: no automatic backup could be saved first (" + os::failure_reason(*failure) + ").";
    }
    return std::nullopt;
}

Result<MadeChange> make_change(EngineContext& context, const ChangeRequest& request, const PlannedChange& plan,
                               const JournalQuery& journal) {
    const model::DataFolder& folder = context.data_folder();
    model::CreateDetails create;
    std::vector<model::SpecPair> details = details_before(context, request, plan, journal, create);

    // The number is the journal's next under the change lock, which the
    // caller holds; the intent takes it before the computer is touched, so
    // a run killed in the middle leaves a trace the next run settles.
    JournalIntent intent;
    const JournalContents written = read_journal_contents(os::join_path(folder.write_folder, journal_file_name));
    intent.record.seq = next_journal_seq(written.highest_seq + 1);
    intent.record.action = request.action;
    intent.record.id = plan.item ? plan.item->id() : plan.id;
    intent.record.name = plan.name;
    intent.record.stop_now = request.stop_now;
    intent.record.spec = details;
    intent.record.startup_before = model::start_figures(context.startup_cost().starts);
    if (request.undoes) {
        intent.record.of = request.undoes->seq;
        intent.undone_id = request.undoes->id;
        intent.undone_name = request.undoes->name;
    }
    if (Result<void> noted = append_intent(folder, intent); !noted) {
        return fail("Nothing was changed, since its history could not be written: " + noted.error().message + ".");
    }

    Result<MadeChange> made = call_platform(context, request, plan, create);
    if (!made) {
        (void)append_failed_outcome(folder, intent.record.seq);
        return made;
    }
    JournalRecord record = record_of(request, *made);
    record.seq = intent.record.seq;
    record.time = intent.record.time;
    record.startup_before = intent.record.startup_before;
    if (!request.undoes) record.spec = std::move(details);
    // The own entry that now starts the item later belongs to the program,
    // whether made by a change or by an undo.
    if (!made->own_entry.empty()) record.spec.push_back({"entry", made->own_entry});
    if (Result<void> recorded = append_journal(folder, std::move(record)); !recorded) {
        made->history_failed = true;
        made->message += "\nWARNING: the change was made, but it could not be written to the history (" +
                         recorded.error().message +
                         "). The next run that can write the history will record it; until then it cannot be undone.";
    }
    return made;
}

std::vector<ChangeResult> apply_changes(EngineContext& context, const std::vector<ChangeRequest>& requests) {
    std::optional<JournalQuery> journal(std::in_place, context.data_folder());
    // The change lock is taken, and the automatic backup saved, just before
    // the first change that is really made: a batch that is refused whole
    // changes nothing, and must not prune an older automatic backup that
    // someone may still need. Once taken, the lock is held to the end.
    std::optional<os::FileLock> lock;
    std::optional<std::string> cannot_change;  // then no change of this batch is made
    std::vector<ChangeResult> results;
    results.reserve(requests.size());
    for (const ChangeRequest& asked : requests) {
        ChangeRequest request = prepare_request(context, asked);
        ChangeResult result;
        result.plan = plan_change(context, request);
        result.decision = decide(result.plan, request.ack);
        if (result.decision == Decision::go && !lock && !cannot_change) {
            Result<os::FileLock> taken = lock_for_changes(context);
            if (!taken) {
                cannot_change = taken.error().message;
            } else {
                lock = std::move(*taken);
                // Planned again under the lock: another run may have made
                // this change, or one that stands in its way, meanwhile.
                context.forget_cached_items();
                journal.emplace(context.data_folder());
                request = prepare_request(context, asked);
                result.plan = plan_change(context, request);
                result.decision = decide(result.plan, request.ack);
                if (result.decision == Decision::go) cannot_change = ready_to_change(context);
            }
        }
        result.id = result.plan.id;
        result.name = result.plan.name;
        result.action = request.action;
        result.unknown_action = request.unknown_action;
        switch (result.decision) {
            case Decision::refused:
                result.message = refusal_message(result.plan);
                break;
            case Decision::needs_admin:
                result.message = "This change needs administrator rights. Use \"Restart as administrator\".";
                result.admin = true;
                break;
            case Decision::needs_decision:
                result.message = "Not applied: this change needs your confirmation first.";
                break;
            case Decision::go: {
                if (cannot_change) {
                    result.message = *cannot_change;
                    break;
                }
                Result<MadeChange> made = make_change(context, request, result.plan, *journal);
                if (made) {
                    result.ok = true;
                    result.id = std::move(made->id);
                    result.name = std::move(made->name);
                    result.message = std::move(made->message);
                    result.history_failed = made->history_failed;
                } else if (made.error().is(ErrorKind::needs_admin)) {
                    result.message = made.error().message + " Use \"Restart as administrator\".";
                    result.admin = true;
                } else {
                    result.message = made.error().message;
                }
                break;
            }
        }
        results.push_back(std::move(result));
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
        .string("action", action_text(plan.action, plan.unknown_action))
        .value("risk", model::assessment_json(plan.risk))
        .strings("problems", plan.problems)
        .flag("blocked", plan.blocked())
        .flag("admin_needed", plan.admin_needed)
        .value("spec", std::move(spec))
        .count("seconds", plan.seconds)
        .string("suggested", plan.suggested ? std::string(model::word_text(*plan.suggested)) : std::string())
        .done();
}

json::JsonValue change_result_json(const ChangeResult& result) {
    return json::ObjectBuilder()
        .string("id", result.id)
        .string("name", result.name)
        .string("action", action_text(result.action, result.unknown_action))
        .flag("ok", result.ok)
        .string("message", result.message)
        .flag("admin_needed", result.admin)
        .flag("history_failed", result.history_failed)
        .done();
}

}  // namespace qm::engine
