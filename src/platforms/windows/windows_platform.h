// The Windows platform: the thirteen operations on the computer the program runs
// on. Its only state is the facts read once at creation, where to ask for
// the knowledge's locations, and the data folder, so operations may run on
// several threads at once without a lock. A scan reads its sources in a fixed order (Run keys
// first), then what may have written their entries lately (tasks, services
// and installed programs, with their times); with QUILLMOOR_TIMING set it
// writes how long each took to standard error.
#pragma once

#include <memory>

#include "knowledge/knowledge_pack.h"
#include "model/platform.h"

namespace qm::windows {

class WindowsPlatform final : public model::Platform {
public:
    // `facts` decide the rights the platform acts with (tests pass their own).
    WindowsPlatform(model::SystemFacts facts, knowledge::LocationsSource locations);

    [[nodiscard]] model::SystemFacts system_facts() const override;
    [[nodiscard]] model::ScanResult scan() override;
    [[nodiscard]] model::ProgramList running_programs(const std::vector<model::StartupItem>& items) override;
    [[nodiscard]] model::ProgramList installed_programs(const std::vector<model::StartupItem>& items) override;
    [[nodiscard]] Result<model::ChangeOutcome> set_enabled(const model::StartupItem& item, bool on,
                                                           bool stop_now) override;
    [[nodiscard]] Result<model::CreatedEntry> create_entry(const model::CreateDetails& details, bool admin) override;
    [[nodiscard]] Result<model::ChangeOutcome> remove_entry(const model::StartupItem& item) override;
    [[nodiscard]] Result<void> restart_elevated(const std::vector<std::string>& arguments) override;
    void open_in_browser(const std::string& link) override;
    [[nodiscard]] std::vector<model::Probe> doctor_probes() override;
    [[nodiscard]] model::StartupCost startup_cost() override;
    [[nodiscard]] Result<model::WayOutcome> set_start_way(const model::StartupItem& item,
                                                   const model::WayRequest& request) override;
    [[nodiscard]] Result<std::unique_ptr<model::ChangeWatch>> watch_changes(
        std::shared_ptr<os::WakeSignal> wake) override;

    // Whether a scan checks program files' signatures (it does unless told
    // otherwise): the benchmark scans both ways to weigh what the checks add.
    void check_signatures(bool on) { signatures_on_ = on; }

private:
    const model::SystemFacts facts_;
    const knowledge::LocationsSource locations_;
    // Where the start types of switched-off services are remembered: the
    // folder the engine writes to, chosen by the same rule from the facts.
    const std::string data_folder_;
    bool signatures_on_ = true;
};

// The platform of this Windows computer, with the facts read from it now.
[[nodiscard]] std::unique_ptr<model::Platform> make_windows_platform(knowledge::LocationsSource locations);

}  // namespace qm::windows
