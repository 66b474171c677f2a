// A small platform for engine tests: items and facts set by the test, every
// call counted, changes recorded instead of made.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "model/platform.h"

namespace qm::test {

class FakePlatform : public Platform {
public:
    SystemFacts facts{"windows", "Windows 11 (test)", "TEST-PC", "tester", "C:\\Users\\tester", true, false};
    std::vector<StartupItem> items;
    std::vector<std::string> notes;
    std::atomic<int> scans{0};

    SystemFacts system_facts() const override { return facts; }
    ScanResult scan() override {
        ++scans;
        std::lock_guard lock(lock_);
        return ScanResult{items, notes};
    }
    ProgramList running_programs(const std::vector<StartupItem>&) override { return {}; }
    ProgramList installed_programs(const std::vector<StartupItem>&) override { return {}; }
    Result<ChangeOutcome> set_enabled(const StartupItem& item, bool on, bool) override {
        std::lock_guard lock(lock_);
        for (StartupItem& stored : items) {
            if (stored.id() == item.id()) {
                stored.enabled = on;
                return ChangeOutcome{item.name + (on ? " switched on." : " switched off."), {}};
            }
        }
        return fail("The item was not found.");
    }
    Result<CreatedEntry> create_entry(const CreateDetails& details, bool) override {
        StartupItem item("run", "Registry (Run, this user)", "user", "HKCU\\Run\\64", "Quillmoor-" + details.name);
        item.managed = true;
        std::lock_guard lock(lock_);
        items.push_back(item);
        return CreatedEntry{item, ChangeOutcome{"Created.", {}}};
    }
    Result<ChangeOutcome> remove_entry(const StartupItem& item) override {
        std::lock_guard lock(lock_);
        std::erase_if(items, [&](const StartupItem& s) { return s.id() == item.id(); });
        return ChangeOutcome{"Removed.", {}};
    }
    Result<void> restart_elevated(const std::vector<std::string>&) override { return fail("not here"); }
    void open_in_browser(const std::string&) override {}
    std::vector<Probe> doctor_probes() override { return {Probe{"Test source", "ok", "Fine."}}; }

private:
    std::mutex lock_;
};

}  // namespace qm::test
