// The demonstration computer: an invented Windows 11 machine that answers
// every platform operation from data held in the program, so everything can
// be tried without reading or changing anything real. Its one piece of
// changing state, the item list (with the ways its items have taken and the
// entries that start programs later), lives in memory behind one lock for
// the whole run; every other answer is built afresh from constants.
// Thread-safe.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "model/platform.h"
#include "util/result.h"

namespace qm::demo {

class DemoPlatform final : public model::Platform {
public:
    // `with_markup_item` appends one Run entry whose texts carry HTML markup,
    // to check that the window shows every text as text.
    explicit DemoPlatform(bool with_markup_item);

    model::SystemFacts system_facts() const override;
    model::ScanResult scan() override;
    model::ProgramList running_programs(const std::vector<model::StartupItem>& items) override;
    model::ProgramList installed_programs(const std::vector<model::StartupItem>& items) override;
    Result<model::ChangeOutcome> set_enabled(const model::StartupItem& item, bool on, bool stop_now) override;
    Result<model::CreatedEntry> create_entry(const model::CreateDetails& details, bool admin) override;
    Result<model::ChangeOutcome> remove_entry(const model::StartupItem& item) override;
    Result<void> restart_elevated(const std::vector<std::string>& arguments) override;
    void open_in_browser(const std::string& link) override;
    std::vector<model::Probe> doctor_probes() override;
    model::StartupCost startup_cost() override;
    Result<model::WayOutcome> set_start_way(const model::StartupItem& item, const model::WayRequest& request) override;
    // The invented computer never changes by itself: the watch only waits.
    Result<std::unique_ptr<model::ChangeWatch>> watch_changes(std::shared_ptr<os::WakeSignal> wake) override;

private:
    std::mutex items_lock_;
    std::vector<model::StartupItem> items_;  // guarded by items_lock_
    std::int64_t changes_time_ = 0;          // when its invented changes were made
};

[[nodiscard]] Result<std::unique_ptr<model::Platform>> make_demo_platform(bool with_markup_item);

}  // namespace qm::demo
