// The Windows platform: the ten operations on the computer the program runs
// on. Its only state is the facts read once at creation, where to ask for
// the knowledge's locations, and the data folder, so operations may run on
// several threads at once without a lock. A scan reads its sources in a fixed order (Run keys
// first); with QUILLMOOR_TIMING set it writes how long each took to standard
// error.
#pragma once

#include "model/platform.h"
#include "platform/system_platform.h"

namespace qm::win {

class WindowsPlatform final : public Platform {
public:
    // `facts` decide the rights the platform acts with (tests pass their own).
    WindowsPlatform(SystemFacts facts, LocationsSource locations);

    [[nodiscard]] SystemFacts system_facts() const override;
    [[nodiscard]] ScanResult scan() override;
    [[nodiscard]] ProgramList running_programs(const std::vector<StartupItem>& items) override;
    [[nodiscard]] ProgramList installed_programs(const std::vector<StartupItem>& items) override;
    [[nodiscard]] Result<ChangeOutcome> set_enabled(const StartupItem& item, bool on, bool stop_now) override;
    [[nodiscard]] Result<CreatedEntry> create_entry(const CreateDetails& details, bool admin) override;
    [[nodiscard]] Result<ChangeOutcome> remove_entry(const StartupItem& item) override;
    [[nodiscard]] Result<void> restart_elevated(const std::vector<std::string>& arguments) override;
    void open_in_browser(const std::string& link) override;
    [[nodiscard]] std::vector<Probe> doctor_probes() override;

private:
    const SystemFacts facts_;
    const LocationsSource locations_;
    // Where the start types of switched-off services are remembered: the
    // folder the engine writes to, chosen by the same rule from the facts.
    const std::string data_folder_;
};

}  // namespace qm::win
