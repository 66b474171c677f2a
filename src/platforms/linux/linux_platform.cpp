#include "platforms/linux/linux_platform.h"

#include "platforms/linux/change_facts.h"

#include <chrono>
#include <future>

#include "os/console.h"
#include "os/timed_step.h"
#include "os/environment.h"
#include "os/files.h"
#include "os/run_tool.h"
#include "knowledge/knowledge_store.h"
#include "model/data_folder.h"
#include "platforms/linux/autostart.h"
#include "platforms/linux/change_facts.h"
#include "platforms/linux/change_watch.h"
#include "platforms/linux/cron_reboot.h"
#include "platforms/linux/own_entries.h"
#include "platforms/linux/packages.h"
#include "platforms/linux/program_lists.h"
#include "platforms/linux/start_later.h"
#include "platforms/linux/systemd_units.h"
#include "platforms/linux/unit_costs.h"
#include "util/text.h"
#include "util/time_text.h"

namespace qm::linux {

namespace {

std::string unquoted(std::string_view value) {
    std::string text = trim(value);
    if (text.size() >= 2 && (text.front() == '"' || text.front() == '\'') && text.back() == text.front()) {
        text = text.substr(1, text.size() - 2);
    }
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) ++i;
        out.push_back(text[i]);
    }
    return out;
}

// A program on PATH (of this machine: tools are never taken from a test root).
std::string find_program(std::string_view name) {
    const std::string path = os::get_env("PATH").value_or("/usr/local/bin:/usr/bin:/bin:/usr/sbin:/sbin");
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find(':', start);
        if (end == std::string::npos) end = path.size();
        const std::string folder = path.substr(start, end - start);
        if (!folder.empty()) {
            const std::string candidate = os::join_path(folder, name);
            if (os::path_kind(candidate) == os::PathKind::file) return candidate;
        }
        start = end + 1;
    }
    return {};
}

// Owners and priorities for every item read from a file; an essential or
// required package makes the item part of the operating system.
// Each program file is compared with its package's checksum, asked in the
// same pass.
void add_packages(const LinuxContext& context, std::vector<model::StartupItem>& items) {
    std::vector<std::string> paths;
    std::vector<std::string> programs;
    for (const model::StartupItem& item : items) {
        const std::string& file = item.spec_value("file");
        if (!file.empty() && !item.managed) paths.push_back(file);
        if (item.exe.starts_with('/')) programs.push_back(item.exe);
    }
    paths.insert(paths.end(), programs.begin(), programs.end());
    const std::map<std::string, PackageInfo> owners = package_owners(paths, context.root, context.runner);
    const std::map<std::string, model::Signature> checked = program_checksums(programs, owners, context.root);
    for (model::StartupItem& item : items) {
        if (auto found = checked.find(item.exe); found != checked.end()) item.signature = found->second;
    }
    for (model::StartupItem& item : items) {
        auto owner = owners.find(item.spec_value("file"));
        if (owner == owners.end() || item.managed) continue;
        item.package = owner->second.name;
        if (!owner->second.priority.empty()) item.set_spec("pkg_priority", owner->second.priority);
        if (is_system_priority(owner->second.priority)) item.origin = model::Origin::operating_system;
    }
}

}  // namespace

std::string os_release_name(std::string_view text) {
    std::string pretty, name, version;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string key = trim(line.substr(0, equals));
        const std::string value = replace_control_characters(unquoted(line.substr(equals + 1)), false);
        if (key == "PRETTY_NAME") pretty = value;
        if (key == "NAME") name = value;
        if (key == "VERSION") version = value;
    }
    if (!pretty.empty()) return pretty;
    if (!name.empty()) return trim(name + " " + version);
    return "Linux";
}

model::SystemFacts read_linux_facts(const LinuxRoot& root) {
    model::SystemFacts facts;
    facts.os = "linux";
    std::string release = os::read_file(root.at("/etc/os-release"), 65536).value_or("");
    if (release.empty()) release = os::read_file(root.at("/usr/lib/os-release"), 65536).value_or("");
    facts.os_version = os_release_name(release);
    facts.host = host_name();
    const Identity identity = current_identity();
    facts.user = identity.user;
    facts.home = identity.home;
    facts.admin = identity.root;
    return facts;
}

LinuxPlatform::LinuxPlatform(LinuxContext context, knowledge::LocationsSource locations)
    : context_(std::move(context)), locations_(std::move(locations)) {}

model::SystemFacts LinuxPlatform::system_facts() const {
    model::SystemFacts facts = context_.facts;
    facts.posix_command_lines = true;
    facts.entry_modes = linux_start_modes(false);
    return facts;
}

Result<std::unique_ptr<model::ChangeWatch>> LinuxPlatform::watch_changes(std::shared_ptr<os::WakeSignal> wake) {
    return watch_places(context_.root, watched_places(context_, locations_().linux_autostart_dirs), std::move(wake));
}

Result<model::WayOutcome> LinuxPlatform::set_start_way(const model::StartupItem& item,
                                                       const model::WayRequest& request) {
    if (item.kind == model::ItemKind::autostart)
        return set_autostart_way(context_, locations_().linux_autostart_dirs, item, request);
    if ((item.kind == model::ItemKind::systemd || item.kind == model::ItemKind::systemd_user) &&
        item.ways.later == model::LaterKind::after_boot)
        return set_timer_way(context_, item, request);
    return fail(model::no_gentler_way_text(item.kind));
}

model::StartupCost LinuxPlatform::startup_cost() { return startup_cost_summary(read_boot_costs(context_, {})); }

model::ScanResult LinuxPlatform::scan() {
    model::ScanResult result;
    const knowledge::KnowledgeLocations locations = locations_();
    const bool timing = os::get_env("QUILLMOOR_TIMING").has_value();
    os::timed_step(timing, "systemd units", [&] { scan_units(context_, locations.linux_unit_types, result); });
    // systemd is asked how long the units took while the other sources are
    // read: its two answers are waited for only once they are needed.
    std::vector<std::string> units;
    for (const model::StartupItem& item : result.items) {
        if (item.kind == model::ItemKind::systemd) units.push_back(item.spec_value("unit"));
    }
    std::future<BootCosts> boot_costs = std::async(std::launch::async | std::launch::deferred,
                                                   [this, units = std::move(units)] {
                                                       return read_boot_costs(context_, units);
                                                   });
    os::timed_step(timing, "autostart", [&] { scan_autostart(context_, locations.linux_autostart_dirs, result); });
    os::timed_step(timing, "cron", [&] { scan_cron(context_, result); });
    os::timed_step(timing, "packages", [&] { add_packages(context_, result.items); });
    os::timed_step(timing, "change times", [&] { add_change_facts(context_, result); });
    os::timed_step(timing, "start times (waiting)", [&] {
        const BootCosts costs = boot_costs.get();
        apply_boot_costs(costs, result.items);
        result.cost = startup_cost_summary(costs);
    });
    // A system unit file in /etc that no package owns was written here.
    for (model::StartupItem& item : result.items) {
        if (item.kind == model::ItemKind::systemd && !item.managed && item.package.empty() &&
            item.spec_value("file").starts_with(std::string(system_unit_folder) + "/"))
            item.set_spec("written_here", "1");
    }
    // The @reboot lines run only while cron runs.
    std::vector<std::string> reboot_lines;
    for (const model::StartupItem& item : result.items) {
        if (item.kind == model::ItemKind::cron && item.enabled) reboot_lines.push_back(item.name);
    }
    for (model::StartupItem& item : result.items) {
        if (item.kind == model::ItemKind::systemd &&
            (item.name == "cron.service" || item.name == "crond.service" || item.name == "cronie.service"))
            item.dependents.insert(item.dependents.end(), reboot_lines.begin(), reboot_lines.end());
    }
    describe_later_entries(result.items);
    // Whether a program file exists is a question about the root read, not
    // about the machine the program runs on.
    if (context_.root.is_test_root()) {
        for (model::StartupItem& item : result.items) {
            if (item.exe.starts_with('/')) item.set_spec("exe_found", context_.program_exists(item.exe) ? "1" : "0");
        }
    }
    return result;
}

model::ProgramList LinuxPlatform::running_programs(const std::vector<model::StartupItem>& items) {
    return list_running(context_, items);
}

model::ProgramList LinuxPlatform::installed_programs(const std::vector<model::StartupItem>& items) {
    return list_installed(context_, locations_().linux_app_dirs, items);
}

Result<model::ChangeOutcome> LinuxPlatform::set_enabled(const model::StartupItem& item, bool on, bool stop_now) {
    if (item.kind == model::ItemKind::systemd || item.kind == model::ItemKind::systemd_user)
        return switch_unit(context_, item, on, stop_now);
    if (item.kind == model::ItemKind::autostart)
        return switch_autostart(context_, locations_().linux_autostart_dirs, item, on);
    if (item.kind == model::ItemKind::cron) return switch_cron(context_, item, on);
    return fail(model::unsupported_kind_message(item.kind));
}

Result<model::CreatedEntry> LinuxPlatform::create_entry(const model::CreateDetails& details, bool admin) {
    return create_linux_entry(context_, locations_().linux_autostart_dirs, details, admin && context_.facts.admin);
}

Result<model::ChangeOutcome> LinuxPlatform::remove_entry(const model::StartupItem& item) {
    return remove_linux_entry(context_, locations_().linux_autostart_dirs, item);
}

Result<void> LinuxPlatform::restart_elevated(const std::vector<std::string>& arguments) {
    if (context_.facts.admin) return fail("The program already runs with root rights.");
    const std::string self = link_target("/proc/self/exe").value_or("");
    if (self.empty()) return fail("The program could not find its own file to start it again.");
    const bool display = os::get_env("DISPLAY").value_or("") != "" || os::get_env("WAYLAND_DISPLAY").value_or("") != "";
    const std::string setsid = find_program("setsid");
    std::vector<std::string> command;
    if (display && !find_program("pkexec").empty()) {
        command = {"pkexec", self};
    } else if (!find_program("sudo").empty() &&
               context_.runner(os::ToolRun{"sudo", {"-n", "true"}, {}, 10}).succeeded()) {
        // Only a sudo that needs no password can be used without a terminal.
        command = {"sudo", "-n", self};
    } else {
        return fail(
            "Neither pkexec nor sudo can ask for root rights here; run the program again with sudo from a terminal.");
    }
    command.insert(command.end(), arguments.begin(), arguments.end());
    if (setsid.empty()) return fail("The program cannot start a copy of itself that outlives it (setsid is missing).");
    // setsid -f starts the copy in a session of its own and returns at once.
    command.insert(command.begin(), "-f");
    const os::RunOutput started = context_.runner(os::ToolRun{setsid, command, {}, 20});
    if (!started.succeeded()) return fail("The copy with root rights did not start. " + os::tool_output_text(started));
    return {};
}

void LinuxPlatform::open_in_browser(const std::string& link) {
    const bool display = os::get_env("DISPLAY").value_or("") != "" || os::get_env("WAYLAND_DISPLAY").value_or("") != "";
    if (!display || find_program("xdg-open").empty()) return;  // the server prints the link anyway
    // A root run opened through sudo gives the browser back to the user who asked.
    const std::string invoker = os::get_env("SUDO_USER").value_or("");
    if (context_.facts.admin && !invoker.empty() && invoker != "root" && !find_program("runuser").empty()) {
        (void)context_.runner(os::ToolRun{"runuser", {"-u", invoker, "--", "xdg-open", link}, {}, 10});
        return;
    }
    if (context_.facts.admin) return;  // a browser as root is no place for the window
    (void)context_.runner(os::ToolRun{"xdg-open", {link}, {}, 10});
}

std::vector<model::Probe> LinuxPlatform::doctor_probes() {
    std::vector<model::Probe> probes;
    auto add = [&](std::string name, bool ok, std::string detail,
                   model::ProbeStatus otherwise = model::ProbeStatus::warn) {
        probes.push_back(model::Probe{std::move(name), ok ? model::ProbeStatus::ok : otherwise, std::move(detail)});
    };
    add("Operating system", true,
        context_.facts.os_version + (context_.facts.admin ? ", running as root" : ", ordinary rights"));
    // Not a fault: in a container the files and links are the whole truth.
    add("Service manager", true,
        context_.systemd_running ? "systemd runs this computer; unit states come from systemctl."
                                 : "systemd does not run this computer (a container or a test root); unit states come "
                                   "from the unit files and links.");
    const model::ScanResult scanned = scan();
    const std::size_t units = model::count_of_kind(scanned.items, model::ItemKind::systemd) +
                              model::count_of_kind(scanned.items, model::ItemKind::systemd_user);
    add("Systemd units", units > 0, std::to_string(units) + " units read.");
    add("Autostart files", true,
        std::to_string(model::count_of_kind(scanned.items, model::ItemKind::autostart)) + " autostart files read.");
    add("Cron", true,
        std::to_string(model::count_of_kind(scanned.items, model::ItemKind::cron)) + " @reboot lines read.");
    std::size_t packaged = 0;
    for (const model::StartupItem& item : scanned.items) packaged += item.package.empty() ? 0 : 1;
    add("Packages", packaged > 0, std::to_string(packaged) + " items have an owning package.");
    // The checksums dpkg keeps are the only record of what a packaged
    // program file should be; a file that matches shows the comparison works.
    std::size_t matching = 0, differing = 0, compared = 0;
    for (const model::StartupItem& item : scanned.items) {
        if (!item.signature) continue;
        ++compared;
        matching += item.signature->verdict == model::SignatureVerdict::verified ? 1 : 0;
        differing += item.signature->verdict == model::SignatureVerdict::modified ? 1 : 0;
    }
    add("Package checksums", matching > 0 && differing == 0,
        compared == 0 ? "No program file could be compared: no package database was found."
                      : std::to_string(matching) + " program files match the checksums their package recorded" +
                            (differing > 0 ? "; " + std::to_string(differing) + " differ from them." : "."));
    probes.push_back(model::startup_cost_probe(scanned.cost));
    ProcessCount census;
    (void)list_running(context_, {}, &census);
    add("Running programs", census.inspected > 0, std::to_string(census.inspected) + " programs could be inspected.",
        model::ProbeStatus::fail);

    auto tool = [&](const std::string& program, const std::string& missing) {
        const bool present = !find_program(program).empty();
        add("Tool: " + program, present, present ? program + " is present." : missing);
    };
    tool("systemctl", "systemctl is missing, so units cannot be switched.");
    tool("crontab", "crontab is missing, so your crontab is neither read nor changed (cron is not installed).");
    // The one the knowledge update runs, by its full path.
    const bool curl = os::path_kind(knowledge::curl_program()) == os::PathKind::file;
    add("Tool: curl", curl,
        curl ? "curl is present."
             : "curl is missing, so knowledge updates cannot be downloaded (importing a file still works).");
    tool("xdg-open",
         "xdg-open is missing, so the window is not opened in the browser by itself; open the printed link.");
    for (const std::string& note : scanned.notes) add("Note", false, note);
    return probes;
}

std::unique_ptr<model::Platform> make_linux_platform(knowledge::LocationsSource locations) {
    LinuxContext context;
    context.root = root_from_environment();
    context.facts = read_linux_facts(context.root);
    context.runner = [](const os::ToolRun& run) { return os::run_tool(run); };
    // Kept in the data folder of the computer described: a test root's own.
    context.memory_folder =
        context.root.at(os::join_path(model::resolve_data_folder(context.facts).write_folder, "file-states"));
    context.current_desktop = os::get_env("XDG_CURRENT_DESKTOP").value_or("");
    context.over_ssh = !os::get_env("SSH_CONNECTION").value_or("").empty();
    // The same test systemd itself makes: a running manager has this folder.
    // A test root has its own, and a systemctl of its own first on the search
    // path answers for that root's manager; a root without the folder is a
    // computer whose systemd does not run.
    context.systemd_running = os::path_kind(context.root.at("/run/systemd/system")) == os::PathKind::folder;
    return std::make_unique<LinuxPlatform>(std::move(context), std::move(locations));
}

}  // namespace qm::linux
