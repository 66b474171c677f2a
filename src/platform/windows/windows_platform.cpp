#include "platform/windows/windows_platform.h"

#include <chrono>

#include "model/data_folder.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "platform/windows/approval_flag.h"
#include "platform/windows/elevation.h"
#include "platform/windows/program_files.h"
#include "platform/windows/program_lists.h"
#include "platform/windows/run_keys.h"
#include "platform/windows/services.h"
#include "platform/windows/startup_folders.h"
#include "platform/windows/tasks.h"
#include "util/time_text.h"

namespace qm::win {

namespace {

// Runs one source of the scan; with timing on, says how long it took.
template <class Source>
void timed_step(bool timing, std::string_view label, Source&& source) {
    const auto started = std::chrono::steady_clock::now();
    source();
    if (!timing) return;
    const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - started);
    // A closed standard error must not stop a scan.
    (void)os::write_stderr(std::string(label) + ": " + elapsed_text(elapsed.count()) + "\n");
}

std::size_t count_of_kind(const std::vector<StartupItem>& items, std::string_view kind) {
    std::size_t count = 0;
    for (const StartupItem& item : items) count += item.kind == kind ? 1 : 0;
    return count;
}

}  // namespace

WindowsPlatform::WindowsPlatform(SystemFacts facts, LocationsSource locations)
    : facts_(std::move(facts)),
      locations_(std::move(locations)),
      data_folder_(resolve_data_folder(facts_).write_folder) {}

SystemFacts WindowsPlatform::system_facts() const { return facts_; }

ScanResult WindowsPlatform::scan() {
    ScanResult result;
    const KnowledgeLocations locations = locations_();
    const bool timing = os::get_env("QUILLMOOR_TIMING").has_value();
    ProgramFacts programs;
    timed_step(timing, "run keys",
               [&] { scan_run_keys(locations.run_keys, facts_.admin, programs, result.items); });
    timed_step(timing, "folders",
               [&] { scan_startup_folders(locations.startup_folders, facts_.admin, programs, result.items); });
    timed_step(timing, "services", [&] { scan_services(facts_.admin, programs, result); });
    timed_step(timing, "tasks", [&] { scan_tasks(locations.task_roots, facts_.admin, programs, result); });
    return result;
}

ProgramList WindowsPlatform::running_programs(const std::vector<StartupItem>& items) {
    return list_running_programs(items);
}

ProgramList WindowsPlatform::installed_programs(const std::vector<StartupItem>& items) {
    return list_installed_programs(items);
}

Result<ChangeOutcome> WindowsPlatform::set_enabled(const StartupItem& item, bool on, bool stop_now) {
    if (item.kind == "run" || item.kind == "folder") return switch_by_approval_flag(item, on);
    if (item.kind == "service") return switch_service(item, on, stop_now, data_folder_);
    if (item.kind == "task") return switch_task(item, on, facts_.admin);
    return fail(unsupported_kind_message(item.kind));
}

Result<CreatedEntry> WindowsPlatform::create_entry(const CreateDetails&, bool) {
    return fail("This version of Quillmoor cannot create entries on Windows yet.");
}

Result<ChangeOutcome> WindowsPlatform::remove_entry(const StartupItem&) {
    return fail("This version of Quillmoor cannot remove entries on Windows yet.");
}

Result<void> WindowsPlatform::restart_elevated(const std::vector<std::string>& arguments) {
    return win::restart_elevated(arguments);
}

void WindowsPlatform::open_in_browser(const std::string& link) { win::open_in_browser(link, facts_.admin); }

std::vector<Probe> WindowsPlatform::doctor_probes() {
    std::vector<Probe> probes;
    probes.push_back(Probe{"Operating system", "ok",
                           facts_.os_version + (facts_.admin ? ", running as administrator" : ", ordinary rights")});
    const ScanResult scanned = scan();
    const std::size_t run_entries = count_of_kind(scanned.items, "run");
    probes.push_back(Probe{"Run keys", run_entries > 0 ? "ok" : "warn",
                           std::to_string(run_entries) + " entries read from the registry."});
    probes.push_back(
        Probe{"Startup folders", "ok", std::to_string(count_of_kind(scanned.items, "folder")) + " shortcuts read."});
    for (const std::string& note : scanned.notes) probes.push_back(Probe{"Note", "warn", note});
    return probes;
}

}  // namespace qm::win
