#include "platforms/windows/windows_platform.h"

#include <algorithm>
#include <chrono>
#include <optional>

#include "knowledge/knowledge_store.h"
#include "model/data_folder.h"
#include "os/system_tool.h"
#include "os/console.h"
#include "os/timed_step.h"
#include "os/environment.h"
#include "os/files.h"
#include "os/run_tool.h"
#include "platforms/windows/approval_flag.h"
#include "platforms/windows/change_watch.h"
#include "platforms/windows/elevation.h"
#include "platforms/windows/own_entries.h"
#include "platforms/windows/program_files.h"
#include "platforms/windows/program_lists.h"
#include "platforms/windows/run_keys.h"
#include "platforms/windows/service_record.h"
#include "platforms/windows/services.h"
#include "platforms/windows/signatures.h"
#include "platforms/windows/sign_in_later.h"
#include "platforms/windows/startup_cost.h"
#include "platforms/windows/startup_folders.h"
#include "platforms/windows/system_facts.h"
#include "platforms/windows/task_record.h"
#include "platforms/windows/tasks.h"
#include "platforms/windows/uninstall_entries.h"
#include "util/text.h"
#include "util/time_text.h"

namespace qm::windows {

WindowsPlatform::WindowsPlatform(model::SystemFacts facts, knowledge::LocationsSource locations)
    : facts_(std::move(facts)),
      locations_(std::move(locations)),
      data_folder_(model::resolve_data_folder(facts_).write_folder) {}

model::SystemFacts WindowsPlatform::system_facts() const {
    model::SystemFacts facts = facts_;
    facts.entry_modes = model::program_start_modes(false);
    return facts;
}

model::ScanResult WindowsPlatform::scan() {
    model::ScanResult result;
    const knowledge::KnowledgeLocations locations = locations_();
    const bool timing = os::get_env("QUILLMOOR_TIMING").has_value();
    ProgramFacts programs(data_folder_);
    const std::uint64_t now = file_time_now();
    ServiceRecord service_record(data_folder_, now);
    TaskRecord task_record(data_folder_, now);
    os::timed_step(timing, "run keys", [&] { scan_run_keys(locations.run_keys, facts_.admin, programs, result); });
    os::timed_step(timing, "folders",
                   [&] { scan_startup_folders(locations.startup_folders, facts_.admin, programs, result); });
    os::timed_step(timing, "services",
                   [&] { scan_services(facts_.admin, programs, result, &service_record, data_folder_); });
    os::timed_step(timing, "tasks",
                   [&] { scan_tasks(locations.task_roots, facts_.admin, programs, result, &task_record); });
    os::timed_step(timing, "installed programs", [&] { add_installer_actors(result.actors); });
    os::timed_step(timing, "startup cost", [&] {
        const Result<std::string> sid = current_user_sid();
        const StartupRecords records = read_startup_records(sid ? *sid : std::string());
        apply_startup_records(records, result.items);
        result.cost = startup_cost_summary(records);
    });
    // A scan without the checks leaves their record as it was.
    std::optional<SignatureChecks> signatures;
    if (signatures_on_) {
        signatures.emplace(data_folder_, now);
        os::timed_step(timing, "signatures", [&] { signatures->check(result.items, &programs); });
    }
    os::timed_step(timing, "saving the records", [&] {
        programs.save_cache();
        if (signatures) signatures->save();
        service_record.save();
        task_record.save();
    });
    return result;
}

Result<model::WayOutcome> WindowsPlatform::set_start_way(const model::StartupItem& item,
                                                         const model::WayRequest& request) {
    if (item.kind == model::ItemKind::service) return set_service_way(item, request.way, data_folder_);
    if (item.kind == model::ItemKind::run || item.kind == model::ItemKind::folder) {
        if (request.way == model::ChangeAction::later) return start_after_sign_in(item, request.seconds);
        if (request.way == model::ChangeAction::on_time) return start_on_time(item, request.own_entry);
    }
    return fail(item.name + " offers no such way here.");
}

Result<std::unique_ptr<model::ChangeWatch>> WindowsPlatform::watch_changes(std::shared_ptr<os::WakeSignal> wake) {
    return watch_places(watched_places(locations_()), std::move(wake));
}

model::StartupCost WindowsPlatform::startup_cost() {
    const Result<std::string> sid = current_user_sid();
    return startup_cost_summary(read_startup_records(sid ? *sid : std::string()));
}

model::ProgramList WindowsPlatform::running_programs(const std::vector<model::StartupItem>& items) {
    return list_running_programs(items);
}

model::ProgramList WindowsPlatform::installed_programs(const std::vector<model::StartupItem>& items) {
    return list_installed_programs(items);
}

Result<model::ChangeOutcome> WindowsPlatform::set_enabled(const model::StartupItem& item, bool on, bool stop_now) {
    if (item.kind == model::ItemKind::run || item.kind == model::ItemKind::folder)
        return switch_by_approval_flag(item, on, data_folder_);
    if (item.kind == model::ItemKind::service) return switch_service(item, on, stop_now, data_folder_);
    if (item.kind == model::ItemKind::task) return switch_task(item, on, facts_.admin);
    return fail(model::unsupported_kind_message(item.kind));
}

Result<model::CreatedEntry> WindowsPlatform::create_entry(const model::CreateDetails& details, bool admin) {
    return create_own_entry(details, admin);
}

Result<model::ChangeOutcome> WindowsPlatform::remove_entry(const model::StartupItem& item) {
    return remove_own_entry(item, facts_.admin);
}

Result<void> WindowsPlatform::restart_elevated(const std::vector<std::string>& arguments) {
    return windows::restart_elevated(arguments);
}

void WindowsPlatform::open_in_browser(const std::string& link) { windows::open_in_browser(link, facts_.admin); }

std::vector<model::Probe> WindowsPlatform::doctor_probes() {
    std::vector<model::Probe> probes;
    auto add = [&](std::string name, bool ok, std::string detail,
                   model::ProbeStatus otherwise = model::ProbeStatus::warn) {
        probes.push_back(model::Probe{std::move(name), ok ? model::ProbeStatus::ok : otherwise, std::move(detail)});
    };
    add("Operating system", true,
        facts_.os_version + (facts_.admin ? ", running as administrator" : ", ordinary rights"));

    const model::ScanResult scanned = scan();
    const std::size_t run_entries = model::count_of_kind(scanned.items, model::ItemKind::run);
    // A check that is not met says what it expects.
    auto expecting = [](bool met, std::string detail, std::string_view rule) {
        return met ? detail : detail.substr(0, detail.size() - 1) + "; " + std::string(rule) + ".";
    };
    add("Run keys", run_entries > 0,
        expecting(run_entries > 0, std::to_string(run_entries) + " entries read from the registry.",
                  "a Windows computer has at least one"));
    add("Startup folders", true,
        std::to_string(model::count_of_kind(scanned.items, model::ItemKind::folder)) + " shortcuts read.");
    // A working Windows has far more than twenty services; fewer means the
    // registry or the manager could not be read as they should.
    const std::size_t services = model::count_of_kind(scanned.items, model::ItemKind::service);
    add("Services", services >= 21,
        expecting(services >= 21, std::to_string(services) + " services read from the registry.",
                  "a Windows computer has at least 21"),
        model::ProbeStatus::fail);
    const std::size_t states = read_service_states().size();
    add("Service states", states >= 21,
        expecting(states >= 21, std::to_string(states) + " services reported by the Service Control Manager.",
                  "a Windows computer has at least 21"),
        model::ProbeStatus::fail);

    const std::size_t tasks = model::count_of_kind(scanned.items, model::ItemKind::task);
    const bool tasks_need_rights =
        tasks == 0 && !facts_.admin &&
        std::any_of(scanned.notes.begin(), scanned.notes.end(), [](const std::string& note) {
            return note.find("could not be read without administrator rights") != std::string::npos;
        });
    add("Scheduled tasks", tasks > 0,
        tasks_need_rights ? "None could be read without administrator rights. Restart as administrator to see them."
                          : expecting(tasks > 0, std::to_string(tasks) + " tasks with a sign-in or boot trigger read.",
                                      "a Windows computer has at least one"));

    const ProcessCensus census = count_processes();
    add("Running programs", census.inspected >= 6,
        expecting(census.inspected >= 6, std::to_string(census.inspected) + " programs could be inspected.",
                  "a Windows computer runs at least 6"),
        model::ProbeStatus::fail);
    add("Command lines", census.with_command_line > 0,
        expecting(census.with_command_line > 0,
                  std::to_string(census.with_command_line) + " of them gave their command line.",
                  "at least one should"));

    const std::string explorer = os::join_path(os::get_env("SystemRoot").value_or("C:\\Windows"), "explorer.exe");
    const std::string publisher = read_version_strings(explorer).publisher;
    add("Publisher information", !publisher.empty(),
        publisher.empty() ? "The file version reader returned nothing for explorer.exe."
                          : "Read the publisher of explorer.exe: " + publisher + ".");
    // Windows' own files are signed through its catalogs, some (like
    // explorer.exe on some versions) on their own; either shows the checks
    // work. Anything else is said as it is: Wine's files carry no signature.
    const model::Signature explorer_signature = check_signature(explorer);
    const bool signature_works = model::vouches(explorer_signature.verdict);
    add("Signature checks", signature_works,
        signature_works ? "explorer.exe is " + model::signature_text(explorer_signature) + "."
                        : "explorer.exe gave \"" + model::signature_text(explorer_signature) +
                              "\"; a Windows file should give catalog or verified, so the verdicts shown here may "
                              "not be reliable.");
    probes.push_back(model::startup_cost_probe(scanned.cost));

    // A tool is missing when it cannot be started at all; what it prints is
    // not used.
    auto tool_present = [](std::string program, std::vector<std::string> arguments) {
        const os::RunOutput output = os::run_tool(os::ToolRun{std::move(program), std::move(arguments), {}, 20});
        const std::string err = to_lower_ascii(output.err);
        return output.exit_code.has_value() ||
               (err.find("program not found") == std::string::npos && err.find("cannot find") == std::string::npos);
    };
    const bool sc = tool_present(os::system_tool("sc.exe"), {"query", "type=", "service", "state=", "inactive"});
    add("Tool: sc.exe", sc, sc ? "sc.exe is present." : "sc.exe was not found.");
    const bool schtasks = tool_present(os::system_tool("schtasks.exe"), {"/Query", "/?"});
    add("Tool: schtasks.exe", schtasks, schtasks ? "schtasks.exe is present." : "schtasks.exe was not found.");
    const bool curl = tool_present(knowledge::curl_program(), {"--version"});
    add("Tool: curl.exe", curl,
        curl ? "curl.exe is present."
             : "curl.exe is missing, so knowledge updates cannot be downloaded (importing a file still works).");

    for (const std::string& note : scanned.notes) add("Note", false, note);
    return probes;
}

std::unique_ptr<model::Platform> make_windows_platform(knowledge::LocationsSource locations) {
    return std::make_unique<WindowsPlatform>(read_system_facts(), std::move(locations));
}

}  // namespace qm::windows
