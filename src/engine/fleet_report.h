// The fleet report: the startup items of many computers, each given as the
// JSON list one computer produced, joined into one row per item with how
// many computers have it on, off or in an unknown state, the judgement most
// of them give and the computers that differ from the rest. Two forms of
// list are read: the program's own `list --json` array, and osquery's JSON
// output of its startup_items, services or systemd_units table, whose rows
// are judged here with the knowledge in force. Plain values; a builder is
// used by one thread and keeps only what each row needs, not the lists.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "json/json.h"
#include "knowledge/assessment.h"
#include "knowledge/knowledge_store.h"
#include "model/assessment.h"
#include "model/words.h"

namespace qm::engine {

// Whether an item starts on one computer; unknown when its list cannot say.
enum class FleetState { on, off, unknown };

// One computer of the report and the form its list was read in
// ("quillmoor", "osquery startup_items", "osquery services",
// "osquery systemd_units").
struct FleetComputer {
    std::string name;
    std::string form;
    std::size_t items = 0;
};

// One item as the computers have it. `levels` holds each judgement given
// with the number of computers giving it, the most given first (the more
// serious first on a tie); `level` is the first of them.
struct FleetRow {
    model::ItemKind kind = model::ItemKind::run;
    std::string name;  // as the first computer (by name) spells it
    std::size_t computers = 0;
    std::size_t on = 0;
    std::size_t off = 0;
    std::size_t unknown = 0;
    // What most computers that say it do: on, off, or nothing on a tie or
    // when none says.
    std::optional<FleetState> majority;
    model::Level level = model::Level::unknown;
    std::vector<std::pair<model::Level, std::size_t>> levels;
    // The impact most computers measured; not measured when none did.
    model::ImpactLevel impact = model::ImpactLevel::not_measured;
    // The computers where it is on while most are off, or the other way.
    std::vector<std::string> differs;
};

struct FleetReport {
    std::vector<FleetComputer> computers;  // in the order they were added
    std::vector<FleetRow> items;           // most computers first, then by name
    std::vector<std::string> notes;
};

// The words of the JSON form and the table ("on", "off", "unknown").
[[nodiscard]] std::string_view fleet_state_text(FleetState state);

class FleetReportBuilder {
public:
    // Rows of osquery's tables are judged with this knowledge.
    explicit FleetReportBuilder(std::shared_ptr<const knowledge::LoadedKnowledge> knowledge);

    // Adds one computer's list. A list in neither form adds no computer and
    // a note naming it instead; rows that cannot be read are skipped and
    // counted in a note.
    void add(const std::string& computer, const json::JsonValue& list);
    // A note of the caller's, such as a file that could not be read.
    void note(std::string text);

    [[nodiscard]] FleetReport done();

private:
    // What one computer says of one item.
    struct Sighting {
        std::size_t computer;  // index into computers_
        FleetState state;
        model::Level level;
        model::ImpactLevel impact;
    };
    struct Entry {
        model::ItemKind kind;
        std::string name;
        std::vector<Sighting> sightings;  // one per computer
    };
    void add_item(std::size_t computer, model::ItemKind kind, const std::string& name, FleetState state,
                  model::Level level, model::ImpactLevel impact);
    [[nodiscard]] const knowledge::Assessor& assessor(std::string_view platform);

    std::shared_ptr<const knowledge::LoadedKnowledge> knowledge_;
    std::unique_ptr<knowledge::Assessor> windows_assessor_;
    std::unique_ptr<knowledge::Assessor> linux_assessor_;
    std::vector<FleetComputer> computers_;
    std::vector<Entry> entries_;
    std::map<std::string, std::size_t> entry_index_;  // by kind and compared name
    // The computers read from each osquery table, for one note per table.
    std::map<std::string, std::vector<std::string>> osquery_computers_;
    std::vector<std::string> notes_;
};

}  // namespace qm::engine
