// The Linux platform: the ten operations on the computer the program runs on.
// Its state is the facts read once at creation, the root folder it works
// under ("/" or a test's QUILLMOOR_LINUX_ROOT), the tool runner and where to
// ask for the knowledge's locations; nothing changes after creation, so the
// operations may run on several threads at once. A scan reads systemd units,
// then autostart files, then cron, and fills in the owning packages.
#pragma once

#include "model/platform.h"
#include "platform/linux/linux_system.h"
#include "platform/system_platform.h"

namespace qm::linux_platform {

class LinuxPlatform final : public Platform {
public:
    // Tests pass their own facts, root and runner.
    LinuxPlatform(LinuxContext context, LocationsSource locations);

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
    const LinuxContext context_;
    const LocationsSource locations_;
};

// The facts of this computer as seen under `root`: the distribution's name
// from os-release, this host and account, root rights.
[[nodiscard]] SystemFacts read_linux_facts(const LinuxRoot& root);

// PRETTY_NAME of an os-release text (quotes and escapes removed), else NAME
// and VERSION, else "Linux".
[[nodiscard]] std::string os_release_name(std::string_view text);

}  // namespace qm::linux_platform
