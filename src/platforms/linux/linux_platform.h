// The Linux platform: the thirteen operations on the computer the program runs on.
// Its state is the facts read once at creation, the root folder it works
// under ("/" or a test's QUILLMOOR_LINUX_ROOT), the tool runner and where to
// ask for the knowledge's locations; nothing changes after creation, so the
// operations may run on several threads at once. A scan reads systemd units,
// then autostart files, then cron, and fills in the owning packages.
#pragma once

#include <memory>

#include "knowledge/knowledge_pack.h"
#include "model/platform.h"
#include "platforms/linux/linux_system.h"

namespace qm::linux {

class LinuxPlatform final : public model::Platform {
public:
    // Tests pass their own facts, root and runner.
    LinuxPlatform(LinuxContext context, knowledge::LocationsSource locations);

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

private:
    const LinuxContext context_;
    const knowledge::LocationsSource locations_;
};

// The facts of this computer as seen under `root`: the distribution's name
// from os-release, this host and account, root rights.
[[nodiscard]] model::SystemFacts read_linux_facts(const LinuxRoot& root);

// PRETTY_NAME of an os-release text (quotes and escapes removed), else NAME
// and VERSION, else "Linux".
[[nodiscard]] std::string os_release_name(std::string_view text);

// The platform of this Linux computer, or of the test root that
// QUILLMOOR_LINUX_ROOT names, with the facts read from it now.
[[nodiscard]] std::unique_ptr<model::Platform> make_linux_platform(knowledge::LocationsSource locations);

}  // namespace qm::linux
