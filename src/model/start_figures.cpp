#include "model/start_figures.h"

#include <cstdio>

namespace qm::model {
namespace {

void add(std::optional<StartFigure>& figure, std::uint64_t& sum, std::uint64_t ms) {
    if (!figure) figure.emplace();
    ++figure->measured;
    sum = ms > UINT64_MAX - sum ? UINT64_MAX : sum + ms;
}

json::JsonValue figure_json(const StartFigure& figure) {
    return json::ObjectBuilder().count("ms", figure.ms).count("measured", figure.measured).done();
}

std::optional<StartFigure> figure_from_json(const json::JsonValue& object, const char* key) {
    const json::JsonValue* figure = json::get(object, key);
    if (figure == nullptr || !figure->is_object()) return std::nullopt;
    const std::uint64_t measured = json::get_count(*figure, "measured");
    if (measured == 0 || measured > UINT32_MAX) return std::nullopt;
    return StartFigure{json::get_count(*figure, "ms"), static_cast<std::uint32_t>(measured)};
}

std::string effect_line(const char* kind, const StartFigure& before, const std::optional<StartFigure>& after) {
    // Tenths of a second throughout, so that two figures can be compared.
    auto figure = [](const StartFigure& f) {
        if (f.ms < 1000) return std::to_string(f.ms) + " ms ";
        char text[40];
        std::snprintf(text, sizeof text, "%.1f s ", static_cast<double>(f.ms) / 1000.0);
        return std::string(text);
    };
    std::string line = std::string(kind) + ": " + figure(before) + "before (" + std::to_string(before.measured) +
                       " measured)";
    if (!after) return line + "; none measured since";
    return line + ", " + figure(*after) + "after (" + std::to_string(after->measured) + " measured)";
}

}  // namespace

StartFigures start_figures(const std::vector<MeasuredStart>& starts, std::optional<std::int64_t> after) {
    StartFigures figures;
    std::uint64_t sign_in_sum = 0;
    std::uint64_t boot_sum = 0;
    for (const MeasuredStart& start : starts) {
        if (after && (!start.at || *start.at <= *after)) continue;
        if (start.kind == StartKind::sign_in) add(figures.sign_in, sign_in_sum, start.ms);
        else add(figures.boot, boot_sum, start.ms);
    }
    if (figures.sign_in) figures.sign_in->ms = sign_in_sum / figures.sign_in->measured;
    if (figures.boot) figures.boot->ms = boot_sum / figures.boot->measured;
    return figures;
}

json::JsonValue start_figures_json(const StartFigures& figures) {
    json::ObjectBuilder out;
    if (figures.sign_in) out.value("sign_in", figure_json(*figures.sign_in));
    if (figures.boot) out.value("boot", figure_json(*figures.boot));
    return out.done();
}

StartFigures start_figures_from_json(const json::JsonValue& object) {
    return StartFigures{figure_from_json(object, "sign_in"), figure_from_json(object, "boot")};
}

std::vector<std::string> change_effect_lines(const StartFigures& before, const StartFigures& after) {
    std::vector<std::string> lines;
    if (before.sign_in) lines.push_back(effect_line("Sign-in", *before.sign_in, after.sign_in));
    if (before.boot) lines.push_back(effect_line("Boot", *before.boot, after.boot));
    return lines;
}

}  // namespace qm::model
