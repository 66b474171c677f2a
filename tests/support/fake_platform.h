// A small platform for engine tests: items and facts set by the test, every
// call counted, changes recorded instead of made.
#pragma once

#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "model/platform.h"

namespace qm::test {

class FakePlatform : public model::Platform {
public:
    model::SystemFacts facts{"windows",
                             "Windows 11 (test)",
                             "TEST-PC",
                             "tester",
                             "C:\\Users\\tester",
                             true,
                             false,
                             false,
                             model::program_start_modes(false)};
    std::vector<model::StartupItem> items;
    std::vector<std::string> notes;
    model::StartupCost cost;  // guarded by lock_ once the test runs
    std::vector<model::ChangeActor> actors;
    std::atomic<int> scans{0};

    model::SystemFacts system_facts() const override { return facts; }
    model::ScanResult scan() override {
        ++scans;
        std::lock_guard lock(lock_);
        return model::ScanResult{items, notes, cost, actors};
    }
    model::ProgramList running_programs(const std::vector<model::StartupItem>&) override { return {}; }
    model::ProgramList installed_programs(const std::vector<model::StartupItem>&) override { return {}; }
    Result<model::ChangeOutcome> set_enabled(const model::StartupItem& item, bool on, bool) override {
        std::lock_guard lock(lock_);
        for (model::StartupItem& stored : items) {
            if (stored.id() == item.id()) {
                stored.enabled = on;
                return model::ChangeOutcome{item.name + (on ? " switched on." : " switched off."), {}};
            }
        }
        return fail("The item was not found.");
    }
    Result<model::CreatedEntry> create_entry(const model::CreateDetails& details, bool) override {
        model::StartupItem item(model::ItemKind::run, "Registry (Run, this user)", model::Scope::user, "HKCU\\Run\\64",
                                "Quillmoor-" + details.name);
        item.managed = true;
        std::lock_guard lock(lock_);
        items.push_back(item);
        return model::CreatedEntry{item, model::ChangeOutcome{"Created.", {}}};
    }
    Result<model::ChangeOutcome> remove_entry(const model::StartupItem& item) override {
        std::lock_guard lock(lock_);
        std::erase_if(items, [&](const model::StartupItem& s) { return s.id() == item.id(); });
        return model::ChangeOutcome{"Removed.", {}};
    }
    Result<void> restart_elevated(const std::vector<std::string>&) override { return fail("not here"); }
    void open_in_browser(const std::string&) override {}
    std::vector<model::Probe> doctor_probes() override {
        return {model::Probe{"Test source", model::ProbeStatus::ok, "Fine."}};
    }
    model::StartupCost startup_cost() override {
        std::lock_guard lock(lock_);
        return cost;
    }
    // A sign-in program started later gets an own Run entry that names it;
    // any other item takes the way on itself.
    Result<model::WayOutcome> set_start_way(const model::StartupItem& item, const model::WayRequest& request) override {
        std::lock_guard lock(lock_);
        auto stored = std::find_if(items.begin(), items.end(), [&](const auto& s) { return s.id() == item.id(); });
        if (stored == items.end()) return fail("The item was not found.");
        model::WayOutcome done;
        done.outcome.message = item.name + " now " + std::string(model::word_text(request.way)) + ".";
        if (item.ways.later != model::LaterKind::after_sign_in) {
            stored->ways.taken.reset();
            if (request.way != model::ChangeAction::on_time) stored->ways.taken = request.way;
            stored->ways.taken_seconds = request.seconds;
            return done;
        }
        if (request.way == model::ChangeAction::on_time) {
            stored->enabled = true;
            const std::string own = request.own_entry ? request.own_entry->id() : std::string();
            std::erase_if(items, [&](const model::StartupItem& s) { return s.id() == own; });
            return done;
        }
        stored->enabled = false;
        model::StartupItem entry(model::ItemKind::task, "Scheduled task", model::Scope::user, "\\Quillmoor\\",
                                 "Quillmoor-later-" + item.name);
        entry.managed = true;
        entry.enabled = true;
        entry.ways.delays = item.id();
        entry.ways.taken_seconds = request.seconds;
        done.own_entry = entry.id();
        items.push_back(std::move(entry));
        return done;
    }

    Result<std::unique_ptr<model::ChangeWatch>> watch_changes(std::shared_ptr<os::WakeSignal> wake) override {
        return model::wake_only_watch(std::move(wake));
    }

private:
    std::mutex lock_;
};

}  // namespace qm::test
