// report: one view of the startup items of many computers, from a folder of
// their lists (one file per computer, named after it), as a table, as JSON
// or as a page of its own that looks like the window.
#include <algorithm>

#include "cli/commands.h"
#include "engine/fleet_report.h"
#include "json/json.h"
#include "os/files.h"
#include "server/page_style.h"
#include "util/base64.h"
#include "util/sha256.h"
#include "util/text.h"

namespace qm::cli {

namespace {

// Bounds that keep a folder of stray files from filling the memory: a
// computer's list is a few hundred kilobytes.
constexpr std::size_t most_files = 10000;
constexpr std::uint64_t most_file_bytes = 32ull << 20;

// The computers' files in `folder`, by name; what cannot be read is a note.
Result<engine::FleetReport> read_folder(const std::string& folder, engine::FleetReportBuilder& builder) {
    Result<std::vector<os::FolderEntry>> entries = os::list_folder(folder);
    if (!entries)
        return fail("Could not read the folder " + folder + ": " + os::failure_reason(entries.error().message));
    std::vector<std::string> names;
    for (const os::FolderEntry& entry : *entries) {
        if (!entry.is_folder && to_lower_ascii(entry.name).ends_with(".json") && entry.name.size() > 5)
            names.push_back(entry.name);
    }
    if (names.empty()) return fail("The folder " + folder + " holds no computer's list (a NAME.json file).");
    std::sort(names.begin(), names.end());
    if (names.size() > most_files) {
        builder.note("The folder holds " + std::to_string(names.size()) + " lists; only the first " +
                     std::to_string(most_files) + " by name are in the report.");
        names.resize(most_files);
    }
    for (const std::string& name : names) {
        const std::string computer = name.substr(0, name.size() - 5);
        Result<std::string> text = os::read_file(os::join_path(folder, name), most_file_bytes);
        if (!text) {
            builder.note(name + " could not be read (" + os::failure_reason(text.error().message) + "), so " +
                         computer + " is left out.");
            continue;
        }
        if (text->size() > most_file_bytes) {
            builder.note(name + " is larger than 32 MiB, so " + computer + " is left out.");
            continue;
        }
        Result<json::JsonValue> list = json::parse(*text);
        if (!list) {
            builder.note(name + " is not JSON (" + list.error().message + "), so " + computer + " is left out.");
            continue;
        }
        builder.add(computer, *list);
    }
    return builder.done();
}

std::string level_text(const engine::FleetRow& row) {
    std::string text;
    for (const auto& [level, count] : row.levels)
        text += (text.empty() ? "" : "/") + std::string(model::level_name(level));
    return text;
}

// "off: web3, web7" when most have it on, "on: db1" when most have it off.
std::string differs_text(const engine::FleetRow& row) {
    if (row.differs.empty() || !row.majority) return {};
    std::string text = *row.majority == engine::FleetState::on ? "off: " : "on: ";
    for (std::size_t i = 0; i < row.differs.size(); ++i) text += (i == 0 ? "" : ", ") + row.differs[i];
    return text;
}

std::string line(std::string text) {
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text + "\n";
}

std::string table_text(const engine::FleetReport& report) {
    std::string table = line(cell("COMPUTERS", 9, 11) + cell("ON", 5, 7) + cell("OFF", 5, 7) + cell("?", 5, 7) +
                             cell("IF OFF", 16, 18) + cell("IMPACT", 12, 14) + cell("KIND", 12, 14) +
                             cell("NAME", 30, 32) + cell("DIFFERS", 7, 0));
    for (const engine::FleetRow& row : report.items) {
        table +=
            line(cell(std::to_string(row.computers), 9, 11) + cell(std::to_string(row.on), 5, 7) +
                 cell(std::to_string(row.off), 5, 7) + cell(std::to_string(row.unknown), 5, 7) +
                 cell(level_text(row), 16, 18) + cell(model::word_text(row.impact), 12, 14) +
                 cell(model::word_text(row.kind), 12, 14) + cell(row.name, 30, 32) + cell(differs_text(row), 100, 0));
    }
    table += "\n" + std::to_string(report.items.size()) + " items on " + std::to_string(report.computers.size()) +
             " computers. 'ON' and 'OFF' count the computers where an item starts or not, '?' those whose list "
             "cannot say; 'IF OFF' is the level most computers give (then the others), 'DIFFERS' the computers "
             "unlike most.\n";
    return table;
}

json::JsonValue report_json(const engine::FleetReport& report) {
    json::JsonValue computers = json::JsonValue::array();
    for (const engine::FleetComputer& computer : report.computers) {
        computers.push_back(json::ObjectBuilder()
                                .string("name", computer.name)
                                .string("form", computer.form)
                                .count("items", computer.items)
                                .done());
    }
    json::JsonValue items = json::JsonValue::array();
    for (const engine::FleetRow& row : report.items) {
        json::JsonValue levels = json::JsonValue::array();
        for (const auto& [level, count] : row.levels) {
            levels.push_back(json::ObjectBuilder()
                                 .string("level", std::string(model::level_name(level)))
                                 .count("computers", count)
                                 .done());
        }
        items.push_back(
            json::ObjectBuilder()
                .string("kind", std::string(model::word_text(row.kind)))
                .string("name", row.name)
                .count("computers", row.computers)
                .count("on", row.on)
                .count("off", row.off)
                .count("unknown", row.unknown)
                .value("majority", row.majority ? json::JsonValue(std::string(engine::fleet_state_text(*row.majority)))
                                                : json::JsonValue())
                .string("level", std::string(model::level_name(row.level)))
                .value("levels", std::move(levels))
                .string("impact", std::string(model::word_text(row.impact)))
                .strings("differs", row.differs)
                .done());
    }
    return json::ObjectBuilder()
        .value("computers", std::move(computers))
        .value("items", std::move(items))
        .strings("notes", report.notes)
        .done();
}

// Text from the lists as HTML text: markup in a name shows as the characters
// it is made of, and control characters as U+FFFD.
std::string escaped(std::string_view text) {
    std::string out;
    for (char c : replace_control_characters(text, false)) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string badge(model::Level level) {
    const std::string name(model::level_name(level));
    return "<span class=\"badge lv-" + name + "\">" + name + "</span>";
}

// The bars of the items on most computers: their length is the share of
// computers where the item starts, their colour its level.
std::string chart_svg(const engine::FleetReport& report) {
    std::vector<const engine::FleetRow*> rows;
    for (const engine::FleetRow& row : report.items) {
        if (row.on > 0) rows.push_back(&row);
    }
    std::stable_sort(rows.begin(), rows.end(), [](const engine::FleetRow* a, const engine::FleetRow* b) {
        if (a->on != b->on) return a->on > b->on;
        return to_lower_ascii(a->name) < to_lower_ascii(b->name);
    });
    if (rows.size() > 10) rows.resize(10);
    if (rows.empty()) return "<p class=\"muted\">No item starts on any of these computers.</p>\n";
    const std::size_t total = std::max<std::size_t>(report.computers.size(), 1);
    constexpr int label_width = 240, bar_width = 360, row_height = 30;
    const int height = static_cast<int>(rows.size()) * row_height + 8;
    std::string svg = "<svg id=\"chart\" class=\"chart\" viewBox=\"0 0 760 " + std::to_string(height) +
                      "\" role=\"img\" aria-labelledby=\"chart-title\">\n<title id=\"chart-title\">The " +
                      std::to_string(rows.size()) + " items that start on most computers</title>\n";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const engine::FleetRow& row = *rows[i];
        const int y = static_cast<int>(i) * row_height + 4;
        const int length = std::max(2, static_cast<int>(bar_width * row.on / total));
        const std::string level(model::level_name(row.level));
        svg += "<g class=\"bar-row\"><text class=\"bar-label\" x=\"" + std::to_string(label_width - 10) + "\" y=\"" +
               std::to_string(y + 16) + "\" text-anchor=\"end\">" + escaped(shorten(row.name, 32)) + "</text>";
        svg += "<rect class=\"bar lv-" + level + "\" x=\"" + std::to_string(label_width) + "\" y=\"" +
               std::to_string(y) + "\" width=\"" + std::to_string(length) + "\" height=\"22\" rx=\"4\"><title>" +
               escaped(row.name) + ": on " + std::to_string(row.on) + " of " + std::to_string(total) + " computers, " +
               level + " if off</title></rect>";
        svg += "<text class=\"bar-count\" x=\"" + std::to_string(label_width + length + 8) + "\" y=\"" +
               std::to_string(y + 16) + "\">" + std::to_string(row.on) + " of " + std::to_string(total) + " · " +
               level + "</text></g>\n";
    }
    return svg + "</svg>\n";
}

// What the report's page adds to the window's style sheet: the chart's bars
// take the colour of their level badge.
constexpr std::string_view report_style = R"(
.chartcard{padding:14px 18px;margin:18px 0}
.chartcard h3,.section h3{margin:0 0 8px;font-size:15px;font-weight:650}
svg.chart{width:100%;max-width:760px;height:auto;display:block}
.bar-label,.bar-count{fill:var(--text);font-size:12.5px}
.bar-count{fill:var(--muted)}
.bar.lv-safe{fill:var(--safe)}.bar.lv-low{fill:var(--low)}.bar.lv-caution{fill:var(--caution)}.bar.lv-high{fill:var(--high)}.bar.lv-critical{fill:var(--critical)}.bar.lv-unknown{fill:var(--unknown)}
.c-n{width:90px}.c-count{width:112px}.c-kind{width:90px}.c-impact{width:130px}.c-differs{width:220px}
.num{font-variant-numeric:tabular-nums}
.levels{display:flex;flex-wrap:wrap;gap:4px}
.section{margin-top:22px}
)";

// Sets the theme from the system's choice and lets the button switch it, as
// the window does; the choice lasts for this page.
constexpr std::string_view theme_script = R"(
(function () {
  'use strict';
  var root = document.documentElement;
  var dark = window.matchMedia && matchMedia('(prefers-color-scheme: dark)').matches;
  function set(theme) {
    root.dataset.theme = theme;
    var button = document.getElementById('theme');
    if (!button) return;
    button.setAttribute('aria-pressed', String(theme === 'dark'));
    button.title = theme === 'dark' ? 'Switch to the light theme' : 'Switch to the dark theme';
  }
  set(dark ? 'dark' : 'light');
  document.addEventListener('DOMContentLoaded', function () {
    set(root.dataset.theme);
    document.getElementById('theme').addEventListener('click', function () {
      set(root.dataset.theme === 'dark' ? 'light' : 'dark');
    });
  });
})();
)";

std::string csp_hash(std::string_view text) {
    Sha256 digest;
    digest.update(text);
    const Sha256::Digest bytes = digest.finish();
    return "'sha256-" + base64_encode(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size())) +
           "'";
}

std::string report_page(const engine::FleetReport& report) {
    const std::string style = std::string(server::page_style_sheet()) + std::string(report_style);
    const std::string count = std::to_string(report.computers.size());
    std::string page =
        "<!doctype html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\">\n"
        "<meta name=\"color-scheme\" content=\"light dark\">\n";
    // Nothing but the page's own style sheet and script runs, and nothing is
    // fetched: text from the lists can never become markup that does.
    page += "<meta http-equiv=\"Content-Security-Policy\" content=\"default-src 'none'; style-src " + csp_hash(style) +
            "; script-src " + csp_hash(theme_script) + "; img-src data:\">\n";
    page += "<title>Quillmoor: what starts on " + count + " computers</title>\n<style>" + style + "</style>\n<script>" +
            std::string(theme_script) + "</script>\n</head>\n<body>\n";
    page +=
        "<header class=\"top\"><div class=\"brand\"><svg viewBox=\"0 0 34 34\" aria-hidden=\"true\"><rect width=\"34\" "
        "height=\"34\" rx=\"9\" fill=\"#22698a\"/><path d=\"M11 24.5c7.5-1 12.8-7.4 13.6-15-6.5 1.2-11.8 6.3-12.8 "
        "12.8M11 24.5l-2.4 2.4M15.5 17.5l3.5.6\" fill=\"none\" stroke=\"#fff\" stroke-width=\"2.2\" "
        "stroke-linecap=\"round\" stroke-linejoin=\"round\"/></svg><div><b>Quillmoor</b><div class=\"byline\">Fleet "
        "report</div></div></div><div id=\"who\"></div><div class=\"actions\"><button class=\"btn\" id=\"theme\" "
        "type=\"button\" aria-pressed=\"false\">Theme</button></div></header>\n<main id=\"main\">\n";
    page += "<div class=\"head\"><h2>What starts on " + count + " computers</h2><p>" +
            std::to_string(report.items.size()) +
            " items. On and off count the computers where an item starts or not, unknown those whose list cannot say; "
            "the level is what switching it off could do, as most computers judge it.</p></div>\n";
    page += "<section class=\"card chartcard\"><h3>Most common items</h3>\n" + chart_svg(report) + "</section>\n";
    page +=
        "<div class=\"card tablecard\"><table class=\"list\" id=\"report-table\"><thead><tr><th "
        "class=\"c-count\">Computers</th>"
        "<th class=\"c-n\">On</th><th class=\"c-n\">Off</th><th class=\"c-n\">Unknown</th><th class=\"c-level\">If "
        "off</th>"
        "<th class=\"c-impact\">Impact</th><th class=\"c-kind\">Kind</th><th>Name</th><th "
        "class=\"c-differs\">Differs</th>"
        "</tr></thead><tbody>\n";
    for (const engine::FleetRow& row : report.items) {
        std::string levels;
        for (const auto& [level, computers] : row.levels) levels += badge(level);
        page += "<tr class=\"item\"><td class=\"num\">" + std::to_string(row.computers) + "</td><td class=\"num\">" +
                std::to_string(row.on) + "</td><td class=\"num\">" + std::to_string(row.off) +
                "</td><td class=\"num\">" + std::to_string(row.unknown) + "</td><td><span class=\"levels\">" + levels +
                "</span></td><td>" + escaped(model::word_text(row.impact)) + "</td><td>" +
                escaped(model::word_text(row.kind)) + "</td><td><span class=\"nm\">" + escaped(row.name) +
                "</span></td><td class=\"sub\">" + escaped(differs_text(row)) + "</td></tr>\n";
    }
    if (report.items.empty()) page += "<tr><td class=\"empty\" colspan=\"9\">No items in these lists.</td></tr>\n";
    page += "</tbody></table></div>\n";
    if (!report.notes.empty()) {
        page += "<ul class=\"notes\" id=\"notes\">\n";
        for (const std::string& note : report.notes) page += "<li>" + escaped(note) + "</li>\n";
        page += "</ul>\n";
    }
    page +=
        "<section class=\"section\"><h3>Computers</h3><div class=\"card tablecard\"><table class=\"list\" "
        "id=\"computers-table\"><thead><tr><th>Computer</th><th>Read from</th><th class=\"c-n\">Items</th></tr>"
        "</thead><tbody>\n";
    for (const engine::FleetComputer& computer : report.computers) {
        page += "<tr><td class=\"nm\">" + escaped(computer.name) + "</td><td>" + escaped(computer.form) +
                "</td><td class=\"num\">" + std::to_string(computer.items) + "</td></tr>\n";
    }
    page += "</tbody></table></div></section>\n</main>\n</body>\n</html>\n";
    return page;
}

}  // namespace

int run_report(CommandContext& context) {
    const std::string& folder = context.args.positional(1);
    engine::FleetReportBuilder builder(context.engine.knowledge().current());
    Result<engine::FleetReport> report = read_folder(folder, builder);
    if (!report) {
        context.streams.err(printable(report.error().message) + "\n");
        return 1;
    }
    if (context.args.has_flag("--html")) {
        const std::string& file = context.args.option_value("--html");
        if (Result<void> written = os::write_file_replace_regular(file, report_page(*report)); !written) {
            context.streams.err("The page could not be written: " + printable(written.error().message) + "\n");
            return 1;
        }
    }
    if (context.args.has_flag("--json")) {
        context.streams.out_data(json::write(report_json(*report)) + "\n");
        return 0;
    }
    context.streams.out(table_text(*report));
    for (const std::string& note : report->notes) context.streams.out("note: " + printable(note) + "\n");
    if (context.args.has_flag("--html"))
        context.streams.out("The page: " + printable(context.args.option_value("--html")) + "\n");
    return 0;
}

}  // namespace qm::cli
