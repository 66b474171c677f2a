// The engine's view of the computer for one run: the platform, the system
// facts read once, the data folder, the knowledge store, the scan cache and
// the automatic-backup flag. One context serves the command line or every
// request of the window server. The cache is guarded by one lock that is
// held only while lists are copied in or out, never during a platform call;
// every function here may be called from several threads at once.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "model/data_folder.h"
#include "engine/scan_changes.h"
#include "knowledge/assessment.h"
#include "knowledge/knowledge_store.h"
#include "model/platform.h"
#include "util/result.h"

namespace qm::engine {

struct ScanState {
    std::vector<model::StartupItem> items;
    std::vector<std::string> notes;
    model::StartupCost cost;
    // What changed since the scans before, the gone items among them (the
    // items themselves carry their own change). The demonstration's come
    // from its invented computer.
    std::vector<FoundChange> changes;
};

// Each own entry that starts an item later (ways.delays) is linked to that
// item: the item gets its id, the way taken and the seconds, and its state
// says so. An own entry whose item is gone stays as it is.
void link_start_ways(std::vector<model::StartupItem>& items);

class EngineContext {
public:
    EngineContext(std::unique_ptr<model::Platform> platform, model::DataFolder data_folder);

    [[nodiscard]] model::Platform& platform() { return *platform_; }
    [[nodiscard]] const model::SystemFacts& facts() const { return facts_; }
    [[nodiscard]] const model::DataFolder& data_folder() const { return data_folder_; }
    [[nodiscard]] knowledge::KnowledgeStore& knowledge() { return knowledge_; }
    [[nodiscard]] bool demo() const { return facts_.demo; }

    // Reads the computer, marks the program's own entries from the journal,
    // judges every item and replaces the cached items.
    [[nodiscard]] ScanState scan();
    // The cached items, or a fresh scan's when the cache holds none.
    [[nodiscard]] std::vector<model::StartupItem> items();
    // Looks in the cache first, then in a fresh scan.
    [[nodiscard]] std::optional<model::StartupItem> find_item_by_id(const std::string& id);
    // The name rule: exact id, then name or short name ignoring case, then
    // part of the name. The error says why nothing single was found.
    [[nodiscard]] Result<model::StartupItem> find_item(const std::string& query);

    [[nodiscard]] model::ProgramList running_programs();
    [[nodiscard]] model::ProgramList installed_programs();
    // Among the cached running programs, then the cached installed ones.
    [[nodiscard]] std::optional<model::Candidate> find_program(const std::string& id);

    // What the records say about starting: the last scan's, or read afresh.
    [[nodiscard]] model::StartupCost startup_cost();

    // The changes found: acknowledging forgets them (all when `ids` is
    // empty), and an item on the ignore list is never marked. The real
    // computer's are kept in the data folder (scan_changes.h); the
    // demonstration's in memory for the run.
    [[nodiscard]] Result<std::size_t> acknowledge_changes(const std::vector<std::string>& ids);
    [[nodiscard]] std::vector<std::string> ignored_items();
    [[nodiscard]] Result<void> set_ignored(const std::string& id, bool ignored);

    // After every apply and every successful undo.
    void forget_cached_items();

    // The one automatic backup of this run: whether it is saved, and the lock
    // that a change holds while it is being saved, so that no other change
    // runs ahead of it.
    [[nodiscard]] std::atomic<bool>& automatic_backup_saved() { return automatic_backup_saved_; }
    [[nodiscard]] std::mutex& automatic_backup_lock() { return automatic_backup_lock_; }

    // How long a change waits for another run's change to finish (change_lock.h).
    [[nodiscard]] std::chrono::milliseconds change_lock_wait() const { return change_lock_wait_.load(); }
    void set_change_lock_wait(std::chrono::milliseconds wait) { change_lock_wait_.store(wait); }

private:
    std::unique_ptr<model::Platform> platform_;
    const model::SystemFacts facts_;
    const model::DataFolder data_folder_;
    knowledge::KnowledgeStore knowledge_;

    std::mutex cache_lock_;
    bool items_cached_ = false;                       // guarded by cache_lock_
    std::vector<model::StartupItem> cached_items_;    // guarded by cache_lock_
    std::vector<model::Candidate> cached_running_;    // guarded by cache_lock_
    std::vector<model::Candidate> cached_installed_;  // guarded by cache_lock_
    std::optional<model::StartupCost> cached_cost_;   // guarded by cache_lock_

    // The assessor of the knowledge in force, rebuilt only when the knowledge changes.
    std::mutex assessor_lock_;
    std::shared_ptr<const knowledge::LoadedKnowledge> assessor_knowledge_;  // guarded by assessor_lock_
    std::shared_ptr<const knowledge::Assessor> assessor_;                   // guarded by assessor_lock_

    std::mutex demo_changes_lock_;
    std::vector<std::string> demo_acknowledged_;  // guarded by demo_changes_lock_
    std::vector<std::string> demo_ignored_;       // guarded by demo_changes_lock_

    std::atomic<bool> automatic_backup_saved_{false};
    std::mutex automatic_backup_lock_;
    std::atomic<std::chrono::milliseconds> change_lock_wait_{std::chrono::seconds(20)};
};

// The self-check: the platform's probes, the knowledge, every knowledge file
// warning, and a write test of the data folder.
[[nodiscard]] std::vector<model::Probe> doctor_report(EngineContext& context);

}  // namespace qm::engine
