// list, running, apps, assess and doctor: the read-only commands.
#include <algorithm>

#include "cli/commands.h"
#include "engine/scan_changes.h"
#include "json/json.h"
#include "util/text.h"

namespace qm::cli {

namespace {

// Table lines end at their last visible character.
std::string line(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text + "\n";
}

// "Spotify came back; likely cause: Updater ran 2 minutes before ..." and,
// when the cause can be switched, the command that switches both off.
std::string cause_line(const model::StartupItem& item) {
    const model::ChangeCause& cause = *item.cause;
    std::string text = printable(item.name) + " " + std::string(model::word_text(item.change)) + "; " +
                       (cause.likely ? "likely" : "possible") + " cause: " + printable(cause.why) + "\n";
    if (!cause.item_id.empty() && item.enabled) {
        text += "    To switch off both: quillmoor disable \"" + printable(item.name) + "\" --and-cause\n";
    }
    return text;
}

void print_notes(const os::Streams& streams, const std::vector<std::string>& notes) {
    for (const std::string& note : notes) streams.out("note: " + printable(note) + "\n");
}

int print_programs(CommandContext& context, model::ProgramList list) {
    if (!context.args.has_flag("--all")) {
        std::erase_if(list.items, [](const model::Candidate& candidate) { return candidate.system; });
    }
    std::stable_sort(list.items.begin(), list.items.end(), [](const model::Candidate& a, const model::Candidate& b) {
        return to_lower_ascii(a.name) < to_lower_ascii(b.name);
    });
    if (context.args.has_flag("--json")) {
        json::JsonValue items = json::JsonValue::array();
        for (const model::Candidate& candidate : list.items)
            items.as_array().push_back(model::candidate_json(candidate));
        json::JsonValue out =
            json::ObjectBuilder().value("items", std::move(items)).strings("notes", list.notes).done();
        context.streams.out_data(json::write(out) + "\n");
        return 0;
    }
    std::string table = line(cell("NAME", 40, 42) + cell("SOURCE", 10, 10));
    for (const model::Candidate& candidate : list.items) {
        table += line(cell(candidate.name, 40, 42) + cell(model::word_text(candidate.source), 10, 10) +
                      cell(candidate.exe, 70, 0));
    }
    table += "\n" + std::to_string(list.items.size()) +
             " programs not set to start with the computer. Make one start with it: quillmoor add NAME\n";
    context.streams.out(table);
    print_notes(context.streams, list.notes);
    return 0;
}

}  // namespace

std::string cell(std::string_view text, std::size_t limit, std::size_t width) {
    // A cell is one line: a line break or escape sequence in a name must not
    // fake rows or hide the ones after it.
    std::string out = shorten(replace_control_characters(text, false), limit);
    std::size_t shown = count_characters(out);
    if (shown < width) out.append(width - shown, ' ');
    return out;
}

namespace {

// A cell cut, when it must be, after its last whole word that fits with "…".
std::string word_cell(std::string_view text, std::size_t limit, std::size_t width) {
    std::string shown = replace_control_characters(text, false);
    if (count_characters(shown) > limit) {
        std::string cut = shorten(shown, limit);
        cut.resize(cut.size() - std::string_view("…").size());
        const std::size_t space = cut.rfind(' ');
        if (space != std::string::npos && space > 0) cut.resize(space);
        while (!cut.empty() && (cut.back() == ',' || cut.back() == '(')) cut.pop_back();
        shown = cut + "…";
    }
    return cell(shown, limit, width);
}

// The signature column's word: the verdict, with the two that say the file
// is not what it should be in capitals so they stand out in a long list.
std::string signature_mark(const model::Signature& signature) {
    switch (signature.verdict) {
        case model::SignatureVerdict::signed_untrusted:
            return "untrusted";
        case model::SignatureVerdict::tampered:
            return "TAMPERED";
        case model::SignatureVerdict::modified:
            return "MODIFIED";
        case model::SignatureVerdict::not_checked:
            return "-";
        case model::SignatureVerdict::verified:
        case model::SignatureVerdict::unsigned_file:
        case model::SignatureVerdict::catalog:
        case model::SignatureVerdict::unpackaged:
            break;
    }
    return std::string(model::word_text(signature.verdict));
}

}  // namespace

int run_list(CommandContext& context) {
    engine::ScanState state = context.engine.scan();
    const ParsedArgs& args = context.args;

    const std::string filter = to_lower_ascii(args.option_value("--filter"));
    const std::string& level = args.option_value("--level");
    std::vector<model::StartupItem> shown;
    for (model::StartupItem& item : state.items) {
        if (!filter.empty() && to_lower_ascii(item.name).find(filter) == std::string::npos &&
            to_lower_ascii(item.command).find(filter) == std::string::npos &&
            to_lower_ascii(item.kind_label).find(filter) == std::string::npos) {
            continue;
        }
        if (args.has_flag("--on") && !item.enabled) continue;
        if (args.has_flag("--off") && item.enabled) continue;
        if (!level.empty() && model::level_name(item.risk.level) != level) continue;
        if (args.has_flag("--changes") && item.change == model::ItemChange::none) continue;
        shown.push_back(std::move(item));
    }
    // Items that are gone are shown as their last scan saw them, after the rest.
    std::vector<engine::FoundChange> gone;
    for (const engine::FoundChange& change : state.changes) {
        if (change.change != model::ItemChange::gone) continue;
        if (!filter.empty() && to_lower_ascii(change.name).find(filter) == std::string::npos) continue;
        if (args.has_flag("--on") || !level.empty()) continue;
        gone.push_back(change);
    }
    if (args.has_flag("--ack")) {
        std::vector<std::string> ids;
        for (const model::StartupItem& item : shown) {
            if (item.change != model::ItemChange::none) ids.push_back(item.id());
        }
        for (const engine::FoundChange& change : gone) ids.push_back(change.id);
        if (!ids.empty()) {
            if (Result<std::size_t> forgotten = context.engine.acknowledge_changes(ids);
                !forgotten) {
                context.streams.err("The changes could not be acknowledged: " + forgotten.error().message + "\n");
                return 1;
            }
        }
        context.streams.out(std::to_string(ids.size()) + " change(s) acknowledged.\n");
        return 0;
    }

    if (args.has_flag("--by-impact")) {
        // Costliest first; the measured figure breaks a tie within a level.
        auto weight = [](const model::Impact& impact) {
            return std::max({impact.processor_ms.value_or(0), impact.delay_ms.value_or(0)});
        };
        std::stable_sort(shown.begin(), shown.end(), [&](const model::StartupItem& a, const model::StartupItem& b) {
            if (a.impact.level != b.impact.level) return a.impact.level < b.impact.level;
            return weight(a.impact) > weight(b.impact);
        });
    }

    if (args.has_flag("--json")) {
        json::JsonValue out = json::JsonValue::array();
        for (const model::StartupItem& item : shown) out.as_array().push_back(model::item_full_json(item));
        for (const engine::FoundChange& change : gone) out.as_array().push_back(engine::found_change_json(change));
        context.streams.out_data(json::write(out) + "\n");
        return 0;
    }

    // The column of changes is there only when something changed.
    const bool changes_shown = !gone.empty() || std::any_of(shown.begin(), shown.end(), [](const auto& item) {
        return item.change != model::ItemChange::none;
    });
    auto change_cell = [&](model::ItemChange change) {
        return changes_shown ? cell(model::word_text(change), 15, 17) : std::string();
    };
    // So is the column of signatures, when any program file was checked.
    const bool signatures_shown =
        std::any_of(shown.begin(), shown.end(), [](const auto& item) { return item.signature.has_value(); });
    auto signature_cell = [&](const model::StartupItem* item) {
        if (!signatures_shown) return std::string();
        return cell(item != nullptr && item->signature ? signature_mark(*item->signature) : "", 10, 12);
    };
    std::string table = line(cell("ON", 3, 5) + cell("IF OFF", 8, 10) + cell("IMPACT", 12, 14) +
                             (changes_shown ? cell("CHANGE", 15, 17) : std::string()) +
                             (signatures_shown ? cell("SIGNED", 10, 12) : std::string()) + cell("NAME", 30, 32) +
                             cell("TYPE", 22, 24));
    for (const model::StartupItem& item : shown) {
        table += line(cell(item.enabled ? "yes" : "no", 3, 5) + cell(model::level_name(item.risk.level), 8, 10) +
                      cell(model::word_text(item.impact.level), 12, 14) + change_cell(item.change) +
                      signature_cell(&item) + cell(item.name, 30, 32) + word_cell(item.kind_label, 22, 24) +
                      cell(item.command, 70, 0));
    }
    for (const engine::FoundChange& change : gone) {
        table += line(cell("-", 3, 5) + cell("", 8, 10) + cell("", 12, 14) + change_cell(change.change) +
                      signature_cell(nullptr) + cell(change.name, 30, 32) +
                      cell("(found " + change.found + ")", 40, 0));
    }
    table += "\n" + std::to_string(shown.size()) +
             " items. 'IF OFF' is the level of what switching an item off could do, 'IMPACT' what it was measured "
             "to cost at sign-in or boot; try: quillmoor assess NAME\n";
    if (signatures_shown) {
        table += "'SIGNED' says whether the program file is what its signer signed or its package installed; "
                 "quillmoor assess NAME names the signer.\n";
    }
    if (changes_shown) {
        table += "'CHANGE' says what changed since an earlier scan; quillmoor list --changes --ack acknowledges "
                 "what it shows.\n";
        for (const model::StartupItem& item : shown) {
            if (item.cause) table += cause_line(item);
        }
    }
    context.streams.out(table);
    print_notes(context.streams, state.notes);
    return 0;
}

int run_running(CommandContext& context) { return print_programs(context, context.engine.running_programs()); }

int run_apps(CommandContext& context) { return print_programs(context, context.engine.installed_programs()); }

namespace {

// The gentler ways than off: the one taken, else those offered with what
// each means and the command that takes it, else why there are none.
std::string gentler_ways_text(const model::StartupItem& item) {
    const model::StartWays& ways = item.ways;
    if (ways.taken) {
        return "  " + model::taken_text(ways) + ". To start it as before: quillmoor enable \"" + printable(item.name) +
               "\"\n";
    }
    if (!ways.delays.empty() || item.toggle == model::Toggle::locked) return {};
    if (!ways.any_offered()) return "  Gentler than off: none. " + model::no_gentler_way_text(item.kind) + "\n";
    const std::string name = "\"" + printable(item.name) + "\"";
    std::string text = "  Gentler than off:\n";
    if (ways.when_needed) {
        text += "    - " + model::way_label(model::ChangeAction::when_needed, ways.later, 0) + ": " +
                model::way_meaning(model::ChangeAction::when_needed, ways.later) + "\n      quillmoor disable " + name +
                " --manual\n";
    }
    if (ways.later == model::LaterKind::service) {
        text += "    - " + model::way_label(model::ChangeAction::later, ways.later, 0) + ": " +
                model::way_meaning(model::ChangeAction::later, ways.later) + "\n      quillmoor delay " + name + "\n";
    } else if (ways.later != model::LaterKind::none) {
        std::string minutes;
        for (const std::uint32_t offered : model::later_minutes_offered)
            minutes += (minutes.empty() ? "" : ", ") + std::to_string(offered);
        text += "    - " + model::way_label(model::ChangeAction::later, ways.later, 0) + " (" + minutes + "): " +
                model::way_meaning(model::ChangeAction::later, ways.later) + "\n      quillmoor delay " + name +
                " --minutes N\n";
    }
    return text;
}

}  // namespace

int run_assess(CommandContext& context) {
    Result<model::StartupItem> found = context.engine.find_item(context.args.positional(1));
    if (!found) {
        context.streams.err(found.error().message + "\n");
        return 1;
    }
    const model::StartupItem& item = *found;
    std::string text = printable(item.name) + "  (" + printable(item.kind_label) + ")\n";
    text += "  If switched off: " + std::string(model::level_name(item.risk.level)) + " (" +
            std::string(model::word_text(item.risk.confidence)) + " confidence)\n";
    text += "  " + printable(item.risk.effect) + "\n";
    for (const std::string& reason : item.risk.reasons) text += "    - " + printable(reason) + "\n";
    if (item.signature) text += "  Signed: " + printable(model::signature_text(*item.signature)) + "\n";
    text += "  Impact at start: " + std::string(model::word_text(item.impact.level)) + "\n";
    text += "  " + (item.command.empty() ? std::string("(no command recorded)") : printable(item.command)) + "\n";
    text += "  State: " + printable(item.state_text) + "; " + (item.running ? "running now" : "not running") + "\n";
    if (item.toggle == model::Toggle::locked) {
        text += "  It cannot be switched here: " + printable(item.toggle_note) + "\n";
    }
    text += gentler_ways_text(item);
    if (item.change != model::ItemChange::none) {
        text += "  Since an earlier scan: " + std::string(model::word_text(item.change)) + "\n";
        if (item.cause) text += "  " + cause_line(item);
    }
    context.streams.out(text);
    return 0;
}

int run_doctor(CommandContext& context) {
    std::vector<model::Probe> probes = engine::doctor_report(context.engine);
    std::string text;
    std::size_t not_working = 0;
    for (const model::Probe& probe : probes) {
        std::string mark = probe.status == model::ProbeStatus::ok     ? "ok  "
                           : probe.status == model::ProbeStatus::warn ? "WARN"
                                                                      : "FAIL";
        if (probe.status != model::ProbeStatus::ok) ++not_working;
        text += "[" + mark + "] " + probe.name + ": " + printable(probe.detail) + "\n";
    }
    if (not_working == 0) {
        text += "\nEverything Quillmoor reads on this computer is working.\n";
    } else {
        text += "\n" + std::to_string(not_working) +
                " source(s) did not work. The rest of the program still runs; for each failed line the matching "
                "part of the list will be missing or incomplete.\n"
                "A knowledge update may cover a changed location (quillmoor knowledge update). If it does not, "
                "this operating system version needs a newer Quillmoor.\n";
    }
    context.streams.out(text);
    return 0;
}

}  // namespace qm::cli
