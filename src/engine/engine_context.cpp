#include "engine/engine_context.h"

#include <unordered_map>

#include <algorithm>
#include <unordered_set>

#include "model/data_folder.h"
#include "engine/change_causes.h"
#include "engine/journal_query.h"
#include "knowledge/assessment.h"
#include "os/files.h"
#include "util/text.h"
#include "util/time_text.h"

namespace qm::engine {

namespace {

bool contains(const std::vector<std::string>& list, const std::string& text) {
    return std::find(list.begin(), list.end(), text) != list.end();
}

}  // namespace

EngineContext::EngineContext(std::unique_ptr<model::Platform> platform, model::DataFolder data_folder)
    : platform_(std::move(platform)),
      facts_(platform_->system_facts()),
      data_folder_(std::move(data_folder)),
      knowledge_(data_folder_) {}

void link_start_ways(std::vector<model::StartupItem>& items) {
    std::unordered_map<std::string, std::size_t> by_id;
    for (std::size_t i = 0; i < items.size(); ++i) by_id.emplace(items[i].id(), i);
    for (const model::StartupItem& entry : items) {
        if (entry.ways.delays.empty()) continue;
        const auto found = by_id.find(entry.ways.delays);
        if (found == by_id.end()) continue;
        model::StartupItem& item = items[found->second];
        item.ways.taken = model::ChangeAction::later;
        item.ways.taken_seconds = entry.ways.taken_seconds;
        item.ways.own_entry = entry.id();
        item.state_text = model::taken_text(item.ways);
    }
}

ScanState EngineContext::scan() {
    model::ScanResult result = platform_->scan();
    link_start_ways(result.items);

    // An entry counts as the program's own only when the history says it made it.
    const JournalQuery journal(data_folder_);
    std::shared_ptr<const knowledge::LoadedKnowledge> knowledge = knowledge_.current();
    std::shared_ptr<const knowledge::Assessor> assessor;
    {
        std::lock_guard lock(assessor_lock_);
        if (assessor_knowledge_ != knowledge) {
            assessor_ = std::make_shared<const knowledge::Assessor>(*knowledge->builtin, knowledge->installed,
                                                                    knowledge->installed_source(), facts_.os);
            assessor_knowledge_ = knowledge;
        }
        assessor = assessor_;
    }
    for (model::StartupItem& item : result.items) {
        if (item.managed && !journal.created(item.id())) {
            item.managed = false;
            item.origin = model::Origin::installed_program;
        }
        item.risk = assessor->assess(item);
    }

    // The real computer's scans are compared with the one before; the
    // demonstration's items say what changed on its invented computer.
    std::vector<FoundChange> changes;
    if (!facts_.demo) {
        changes = note_scan(data_folder_, result.items, journal);
        std::unordered_map<std::string, model::ItemChange> by_id;
        for (const FoundChange& change : changes) by_id.emplace(change.id, change.change);
        for (model::StartupItem& item : result.items) {
            const auto found = by_id.find(item.id());
            if (found != by_id.end()) item.change = found->second;
        }
    } else {
        std::lock_guard lock(demo_changes_lock_);
        for (model::StartupItem& item : result.items) {
            if (item.change == model::ItemChange::none) continue;
            if (contains(demo_acknowledged_, item.id()) || contains(demo_ignored_, item.id())) {
                item.change = model::ItemChange::none;
                continue;
            }
            // Found by the scan of today, against the one of a day before.
            changes.push_back(FoundChange{item.id(), item.name, item.change, time_text(item.changed.time),
                                          time_text(item.changed.time - 24 * 60 * 60)});
        }
    }
    name_causes(result.items, result.actors);

    {
        std::lock_guard lock(cache_lock_);
        cached_items_ = result.items;
        items_cached_ = true;
        cached_cost_ = result.cost;
    }
    return ScanState{std::move(result.items), std::move(result.notes), std::move(result.cost), std::move(changes)};
}

Result<std::size_t> EngineContext::acknowledge_changes(const std::vector<std::string>& ids) {
    std::size_t forgotten = 0;
    if (!facts_.demo) {
        forgotten = QM_TRY(engine::acknowledge_changes(data_folder_, ids));
    } else {
        for (const model::StartupItem& item : items()) {
            if (item.change == model::ItemChange::none || (!ids.empty() && !contains(ids, item.id()))) continue;
            std::lock_guard lock(demo_changes_lock_);
            demo_acknowledged_.push_back(item.id());
            ++forgotten;
        }
    }
    if (forgotten != 0) forget_cached_items();
    return forgotten;
}

std::vector<std::string> EngineContext::ignored_items() {
    if (!facts_.demo) return read_ignored(data_folder_);
    std::lock_guard lock(demo_changes_lock_);
    return demo_ignored_;
}

Result<void> EngineContext::set_ignored(const std::string& id, bool ignored) {
    if (!facts_.demo) {
        QM_TRY_VOID(engine::set_ignored(data_folder_, id, ignored));
    } else {
        std::lock_guard lock(demo_changes_lock_);
        std::erase(demo_ignored_, id);
        if (ignored) demo_ignored_.push_back(id);
    }
    forget_cached_items();
    return {};
}

std::vector<model::StartupItem> EngineContext::items() {
    {
        std::lock_guard lock(cache_lock_);
        if (items_cached_) return cached_items_;
    }
    return scan().items;
}

std::optional<model::StartupItem> EngineContext::find_item_by_id(const std::string& id) {
    auto find_in = [&id](const std::vector<model::StartupItem>& list) -> std::optional<model::StartupItem> {
        for (const model::StartupItem& item : list) {
            if (item.id() == id) return item;
        }
        return std::nullopt;
    };
    {
        std::lock_guard lock(cache_lock_);
        if (items_cached_) {
            if (std::optional<model::StartupItem> found = find_in(cached_items_)) return found;
        }
    }
    return find_in(scan().items);
}

Result<model::StartupItem> EngineContext::find_item(const std::string& query) {
    const std::vector<model::StartupItem> all = items();
    for (const model::StartupItem& item : all) {
        if (item.id() == query) return item;
    }

    const std::string lowered = to_lower_ascii(query);
    std::vector<const model::StartupItem*> called;
    for (const model::StartupItem& item : all) {
        if (to_lower_ascii(item.name) == lowered || to_lower_ascii(item.spec_value("short")) == lowered) {
            called.push_back(&item);
        }
    }
    if (called.size() == 1) return *called[0];
    if (called.size() > 1) {
        std::string message = std::to_string(called.size()) + " items are called \"" +
                              replace_control_characters(query, false) + "\"; use the full id:\n";
        for (std::size_t i = 0; i < called.size(); ++i) {
            if (i > 0) message += "\n";
            message += "  " + replace_control_characters(called[i]->id(), false);
        }
        return fail(message);
    }

    std::vector<const model::StartupItem*> matching;
    if (!lowered.empty()) {
        for (const model::StartupItem& item : all) {
            if (to_lower_ascii(item.name).find(lowered) != std::string::npos) matching.push_back(&item);
        }
    }
    if (matching.size() == 1) return *matching[0];
    if (matching.size() > 1) {
        std::string message = std::to_string(matching.size()) + " items match \"" +
                              replace_control_characters(query, false) + "\"; be more exact or use the id:\n";
        // The id is shown beside each name, since the message asks for it.
        for (std::size_t i = 0; i < matching.size() && i < 12; ++i) {
            if (i > 0) message += "\n";
            // Names and ids come from the computer: each stays on its line.
            message += "  " + replace_control_characters(matching[i]->name, false) + "  (" +
                       replace_control_characters(matching[i]->kind_label, false) + ")  " +
                       replace_control_characters(matching[i]->id(), false);
        }
        return fail(message);
    }
    return fail("nothing matches \"" + replace_control_characters(query, false) + "\"");
}

model::ProgramList EngineContext::running_programs() {
    model::ProgramList list = platform_->running_programs(items());
    std::lock_guard lock(cache_lock_);
    cached_running_ = list.items;
    return list;
}

model::ProgramList EngineContext::installed_programs() {
    model::ProgramList list = platform_->installed_programs(items());
    std::lock_guard lock(cache_lock_);
    cached_installed_ = list.items;
    return list;
}

std::optional<model::Candidate> EngineContext::find_program(const std::string& id) {
    std::lock_guard lock(cache_lock_);
    for (const auto* list : {&cached_running_, &cached_installed_}) {
        for (const model::Candidate& candidate : *list) {
            if (candidate.id == id) return candidate;
        }
    }
    return std::nullopt;
}

void EngineContext::forget_cached_items() {
    std::lock_guard lock(cache_lock_);
    cached_items_.clear();
    items_cached_ = false;
    cached_cost_.reset();
}

model::StartupCost EngineContext::startup_cost() {
    {
        std::lock_guard lock(cache_lock_);
        if (cached_cost_) return *cached_cost_;
    }
    model::StartupCost cost = platform_->startup_cost();
    std::lock_guard lock(cache_lock_);
    cached_cost_ = cost;
    return cost;
}

std::vector<model::Probe> doctor_report(EngineContext& context) {
    std::vector<model::Probe> probes = context.platform().doctor_probes();

    std::shared_ptr<const knowledge::LoadedKnowledge> knowledge = context.knowledge().current();
    std::size_t total = 0;
    for (const auto& list : knowledge->builtin->rules) total += list.size();
    bool broken = std::any_of(knowledge->notes.begin(), knowledge->notes.end(),
                              [](const std::string& note) { return note.starts_with("broken: "); });
    std::string detail = "Built-in " + knowledge->builtin->version + " (" + std::to_string(total) + " rules)";
    if (!knowledge->pack_version.empty()) detail += ", update " + knowledge->pack_version + " installed";
    if (knowledge->local_rules > 0) detail += ", " + std::to_string(knowledge->local_rules) + " of your own rules";
    probes.push_back(
        model::Probe{"Knowledge", broken ? model::ProbeStatus::fail : model::ProbeStatus::ok, detail + "."});
    for (const std::string& note : knowledge->notes) {
        if (!note.starts_with("broken: "))
            probes.push_back(model::Probe{"Knowledge file", model::ProbeStatus::warn, note});
    }

    const std::string& folder = context.data_folder().write_folder;
    const std::string shown = context.demo() ? std::string(model::demo_shown_data_folder) : folder;
    if (os::path_kind(folder) != os::PathKind::folder) {
        probes.push_back(
            model::Probe{"History and backups folder", model::ProbeStatus::ok,
                         shown + " (it does not exist yet; it is made when the first change or backup is saved)"});
    } else {
        const std::string test_file = os::join_path(folder, ".write-test");
        bool writable = os::write_file_replace(test_file, "x").has_value();
        (void)os::remove_file(test_file);
        probes.push_back(model::Probe{"History and backups folder",
                                      writable ? model::ProbeStatus::ok : model::ProbeStatus::fail, shown});
    }
    return probes;
}

}  // namespace qm::engine
