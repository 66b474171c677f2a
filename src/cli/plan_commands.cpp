// plan export, plan apply and ansible-module: a reviewed plan written for
// other computers, applied on this one, and the same as a module of the
// configuration tool administrators reach many computers with (it starts
// the program with the path of a file of its arguments and reads one JSON
// object from its output).
#include <algorithm>

#include "cli/commands.h"
#include "engine/portable_plan.h"
#include "os/files.h"
#include "util/text.h"
#include "util/time_text.h"

namespace qm::cli {

namespace {

// "disable:NAME", "enable:NAME", "manual:NAME", "on-time:NAME" or
// "later-MINUTES:NAME".
Result<engine::PortableChange> change_of(CommandContext& context, const std::string& operand) {
    const std::size_t colon = operand.find(':');
    const std::string word = colon == std::string::npos ? std::string() : operand.substr(0, colon);
    const std::string name = colon == std::string::npos ? std::string() : operand.substr(colon + 1);
    std::uint32_t seconds = 0;
    std::optional<model::ChangeAction> action;
    if (word.starts_with("later-")) {
        const std::string minutes = word.substr(6);
        if (!minutes.empty() && minutes.size() <= 4 && minutes.find_first_not_of("0123456789") == std::string::npos &&
            std::stoul(minutes) >= 1 && std::stoul(minutes) * 60 <= model::longest_later_seconds) {
            action = model::ChangeAction::later;
            seconds = static_cast<std::uint32_t>(std::stoul(minutes) * 60);
        }
    } else if (word == "disable" || word == "enable" || word == "manual" || word == "on-time") {
        action = model::read_change_action(word);
    }
    if (!action || name.empty()) {
        return fail("\"" + printable(operand) +
                    "\" is not a change; write disable:NAME, enable:NAME, manual:NAME, on-time:NAME or "
                    "later-MINUTES:NAME.");
    }
    const model::StartupItem item = QM_TRY(find_exact_item(context, name));
    return engine::portable_change(item, *action, seconds, context.engine.facts());
}

int plan_export(CommandContext& context) {
    const std::vector<std::string>& words = context.args.positionals;
    engine::PortablePlan plan;
    plan.made = time_text(now_unix_seconds());
    plan.from = context.engine.facts().host;
    for (std::size_t i = 3; i < words.size(); ++i) {
        Result<engine::PortableChange> change = change_of(context, words[i]);
        if (!change) {
            context.streams.err(change.error().message + "\nNo plan was written.\n");
            return 1;
        }
        plan.changes.push_back(std::move(*change));
    }
    const std::string& file = context.args.positional(2);
    if (Result<void> written = os::write_file_replace(file, json::write(engine::portable_plan_json(plan)) + "\n");
        !written) {
        context.streams.err("Could not write the plan: " + written.error().message + "\n");
        return 1;
    }
    context.streams.out("Wrote a plan of " + std::to_string(plan.changes.size()) + " change(s) to " + printable(file) +
                        "; apply it on each computer with: quillmoor plan apply FILE\n");
    return 0;
}

Result<engine::PortablePlan> read_plan_file(const std::string& file) {
    Result<std::string> text = os::read_file(file, engine::portable_plan_read_limit + 1);
    if (!text) return fail("Could not read the plan: " + text.error().message);
    return engine::read_portable_plan(*text);
}

struct Outcome {
    bool changed = false;
    bool failed = false;
    std::string summary;
};

Outcome outcome_of(const std::vector<engine::PortableResult>& results, bool check) {
    Outcome outcome;
    std::vector<std::pair<std::string, int>> counts = {
        {"changed", 0}, {"unchanged", 0}, {"refused", 0}, {"skipped", 0}, {"missing", 0}, {"failed", 0}};
    for (const engine::PortableResult& result : results) {
        for (auto& [status, count] : counts) count += result.status == status ? 1 : 0;
        outcome.changed = outcome.changed || result.status == "changed";
        outcome.failed = outcome.failed || result.status == "refused" || result.status == "failed";
    }
    for (const auto& [status, count] : counts) {
        if (count == 0) continue;
        outcome.summary += (outcome.summary.empty() ? "" : ", ") + std::to_string(count) + " " +
                           (check && status == "changed" ? std::string("would change") : status);
    }
    if (outcome.summary.empty()) outcome.summary = "the plan has no changes";
    outcome.summary += ".";
    return outcome;
}

json::JsonValue results_json(const std::vector<engine::PortableResult>& results) {
    json::JsonValue list = json::JsonValue::array();
    for (const engine::PortableResult& result : results) list.as_array().push_back(engine::portable_result_json(result));
    return list;
}

int plan_apply(CommandContext& context) {
    Result<engine::PortablePlan> plan = read_plan_file(context.args.positional(2));
    if (!plan) {
        context.streams.err(plan.error().message + "\n");
        return 1;
    }
    const bool check = context.args.has_flag("--check");
    const std::vector<engine::PortableResult> results =
        engine::apply_portable_plan(context.engine, *plan, check, context.args.has_flag("--yes"));
    const Outcome outcome = outcome_of(results, check);
    if (context.args.has_flag("--json")) {
        context.streams.out_data(json::write(json::ObjectBuilder()
                                                 .flag("changed", outcome.changed)
                                                 .flag("check", check)
                                                 .value("results", results_json(results))
                                                 .done()) +
                                 "\n");
        return outcome.failed ? 1 : 0;
    }
    std::string text;
    for (const engine::PortableResult& result : results) {
        text += "  " + cell(check && result.status == "changed" ? "would change" : result.status, 13, 14) +
                cell(model::word_text(result.change.action), 9, 10) + cell(result.change.name, 40, 42) +
                printable(result.message) + "\n";
    }
    context.streams.out(text + (check ? "Checked, nothing changed: " : "") + outcome.summary + "\n");
    return outcome.failed ? 1 : 0;
}

// "name: on (Enabled)" per item the plan touches, for the diff of the module.
std::string states_text(const std::vector<engine::PortableResult>& results, bool after) {
    std::string text;
    for (const engine::PortableResult& result : results) {
        if (result.id.empty()) continue;
        const bool on = after ? result.on_after : result.on_before;
        const std::string& state = after ? result.state_after : result.state_before;
        text += result.change.name + ": " + (on ? "on" : "off") + (state.empty() ? "" : " (" + state + ")") + "\n";
    }
    return text;
}

}  // namespace

int run_plan(CommandContext& context) {
    const std::string& what = context.args.positional(1);
    if (what == "export") return plan_export(context);
    return plan_apply(context);
}

int run_ansible_module(CommandContext& context) {
    auto answer = [&](const json::JsonValue& object, int code) {
        context.streams.out_data(json::write(object) + "\n");
        return code;
    };
    auto failed = [&](const std::string& message) {
        return answer(json::ObjectBuilder().flag("changed", false).flag("failed", true).string("msg", message).done(),
                      1);
    };
    Result<std::string> text = os::read_file(context.args.positional(1), engine::portable_plan_read_limit + 1);
    if (!text) return failed("Could not read the module's arguments: " + text.error().message);
    Result<json::JsonValue> arguments = json::parse(*text);
    if (!arguments || !arguments->is_object()) return failed("The module's arguments are not a JSON object.");
    Result<engine::PortablePlan> plan = fail("The module needs the plan: give plan (a file on this computer).");
    if (const json::JsonValue* inline_plan = json::get(*arguments, "plan_content");
        inline_plan != nullptr && inline_plan->is_object()) {
        plan = engine::read_portable_plan(json::write(*inline_plan));
    } else if (!json::get_text(*arguments, "plan").empty()) {
        plan = read_plan_file(json::get_text(*arguments, "plan"));
    }
    if (!plan) return failed(plan.error().message);
    const bool check = json::get_flag(*arguments, "_ansible_check_mode");
    const std::vector<engine::PortableResult> results =
        engine::apply_portable_plan(context.engine, *plan, check, json::get_flag(*arguments, "yes"));
    const Outcome outcome = outcome_of(results, check);
    json::ObjectBuilder out;
    out.flag("changed", outcome.changed)
        .flag("failed", outcome.failed)
        .string("msg", (check ? "Checked, nothing changed: " : "") + outcome.summary)
        .value("results", results_json(results));
    if (json::get_flag(*arguments, "_ansible_diff")) {
        out.value("diff", json::ObjectBuilder()
                              .string("before", states_text(results, false))
                              .string("after", states_text(results, true))
                              .done());
    }
    return answer(out.done(), outcome.failed ? 1 : 0);
}

}  // namespace qm::cli
