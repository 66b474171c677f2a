#include "platforms/demo/demo_platform.h"

#include <algorithm>
#include <array>
#include <optional>
#include <string_view>

#include "model/start_ways.h"
#include "util/text.h"
#include "util/time_text.h"

namespace qm::demo {

namespace {

struct ServiceRow {
    std::string_view short_name, display_name, start_text;
    bool enabled, running;
    std::string_view exe, publisher, description;
    model::Origin origin;
    std::vector<std::string_view> dependents;
};

struct RunRow {
    std::string_view name;
    bool machine;
    std::string_view command, exe, publisher, description;
    bool enabled;
};

struct TaskRow {
    std::string_view name, path, command, exe, publisher;
    model::Origin origin;
};

struct ProgramRow {
    std::string_view word, name, exe, command, publisher, description;
    std::vector<std::uint32_t> pids;
    bool system;
};

constexpr model::Origin operating_system = model::Origin::operating_system;
constexpr model::Origin installed_program = model::Origin::installed_program;
constexpr std::string_view svchost = "C:\\Windows\\System32\\svchost.exe";
constexpr std::string_view microsoft = "Microsoft Corporation";
constexpr std::string_view acme = "Acme Software Ltd";
constexpr std::string_view not_found = "The item was not found.";

const std::vector<ServiceRow>& service_rows() {
    static const std::vector<ServiceRow> rows = {
        {"RpcSs",
         "Remote Procedure Call (RPC)",
         "Automatic",
         true,
         true,
         svchost,
         microsoft,
         "Serves as the endpoint mapper and COM service control manager.",
         operating_system,
         {"DCOM Server Process Launcher", "Windows Audio", "Print Spooler", "Windows Update",
          "Network Location Awareness"}},
        {"Dnscache",
         "DNS Client",
         "Automatic",
         true,
         true,
         svchost,
         microsoft,
         "Caches Domain Name System names and registers the full computer name.",
         operating_system,
         {}},
        {"Spooler",
         "Print Spooler",
         "Automatic",
         true,
         true,
         "C:\\Windows\\System32\\spoolsv.exe",
         microsoft,
         "Loads files to memory for later printing.",
         operating_system,
         {}},
        {"WinDefend",
         "Microsoft Defender Antivirus Service",
         "Automatic",
         true,
         true,
         "C:\\Program Files\\Windows Defender\\MsMpEng.exe",
         microsoft,
         "Helps protect users from malware and other potentially unwanted software.",
         operating_system,
         {}},
        {"wuauserv",
         "Windows Update",
         "Manual (on demand)",
         false,
         true,
         svchost,
         microsoft,
         "Enables the detection, download, and installation of updates.",
         operating_system,
         {}},
        {"DiagTrack",
         "Connected User Experiences and Telemetry",
         "Automatic",
         true,
         true,
         svchost,
         microsoft,
         "Enables features that support in-application and connected user experiences.",
         operating_system,
         {}},
        {"SysMain",
         "SysMain",
         "Automatic",
         true,
         true,
         svchost,
         microsoft,
         "Maintains and improves system performance over time.",
         operating_system,
         {}},
        {"WSearch",
         "Windows Search",
         "Automatic (delayed)",
         true,
         true,
         "C:\\Windows\\System32\\SearchIndexer.exe",
         microsoft,
         "Provides content indexing, property caching, and search results.",
         operating_system,
         {}},
        {"TermService",
         "Remote Desktop Services",
         "Disabled",
         false,
         false,
         svchost,
         microsoft,
         "Allows users to connect interactively to a remote computer.",
         operating_system,
         {}},
        {"sshd",
         "OpenSSH SSH Server",
         "Manual (on demand)",
         false,
         false,
         "C:\\Windows\\System32\\OpenSSH\\sshd.exe",
         microsoft,
         "SSH protocol based service to provide secure encrypted communications.",
         operating_system,
         {}},
        {"AcmeSync",
         "Acme Sync Service",
         "Automatic",
         true,
         true,
         "C:\\Program Files\\Acme Sync\\syncsvc.exe",
         acme,
         "Keeps the Acme shared folder in step with the cloud.",
         installed_program,
         {}},
        {"OemPanelHost",
         "OEM Panel Host",
         "Automatic",
         true,
         true,
         "C:\\Windows\\System32\\oempanel.exe",
         "",
         "",
         operating_system,
         {}},
        {"AcmeDevDb",
         "Acme Dev Database",
         "Automatic",
         true,
         true,
         "C:\\Program Files\\Acme Dev\\devdb.exe",
         acme,
         "Local database used by the Acme developer tools.",
         installed_program,
         {"Acme Dev Server"}},
        {"AcmeDevServer",
         "Acme Dev Server",
         "Automatic",
         true,
         true,
         "C:\\Program Files\\Acme Dev\\devserver.exe",
         acme,
         "Local web server for the Acme developer tools.",
         installed_program,
         {}},
    };
    return rows;
}

const std::vector<RunRow>& run_rows() {
    static const std::vector<RunRow> rows = {
        {"OneDrive", false, "\"C:\\Users\\tamsel\\AppData\\Local\\Microsoft\\OneDrive\\OneDrive.exe\" /background",
         "C:\\Users\\tamsel\\AppData\\Local\\Microsoft\\OneDrive\\OneDrive.exe", microsoft, "Microsoft OneDrive", true},
        {"Spotify", false, "\"C:\\Users\\tamsel\\AppData\\Roaming\\Spotify\\Spotify.exe\" --minimized",
         "C:\\Users\\tamsel\\AppData\\Roaming\\Spotify\\Spotify.exe", "Spotify Ltd", "Spotify", true},
        {"Discord", false, "\"C:\\Users\\tamsel\\AppData\\Local\\Discord\\Update.exe\" --processStart Discord.exe",
         "C:\\Users\\tamsel\\AppData\\Local\\Discord\\Update.exe", "Discord Inc.", "Discord", true},
        {"Steam", false, "\"C:\\Program Files (x86)\\Steam\\steam.exe\" -silent",
         "C:\\Program Files (x86)\\Steam\\steam.exe", "Valve Corporation", "Steam Client", false},
        {"Acme Notes", false, "\"C:\\Program Files\\Acme Notes\\notes.exe\" --tray",
         "C:\\Program Files\\Acme Notes\\notes.exe", acme, "Acme Notes quick-capture", true},
        {"SecurityHealth", true, "%windir%\\system32\\SecurityHealthSystray.exe",
         "C:\\Windows\\System32\\SecurityHealthSystray.exe", microsoft, "Windows Security notification icon", true},
        {"RtkAudUService", true,
         "\"C:\\Windows\\System32\\DriverStore\\FileRepository\\rtk\\RtkAudUService64.exe\" -background",
         "C:\\Windows\\System32\\DriverStore\\FileRepository\\rtk\\RtkAudUService64.exe", "Realtek Semiconductor",
         "Realtek HD Audio Background Process", true},
    };
    return rows;
}

const std::vector<TaskRow>& task_rows() {
    static const std::vector<TaskRow> rows = {
        {"GoogleUpdateTaskMachineCore", "\\GoogleUpdateTaskMachineCore",
         "\"C:\\Program Files (x86)\\Google\\Update\\GoogleUpdate.exe\" /c",
         "C:\\Program Files (x86)\\Google\\Update\\GoogleUpdate.exe", "Google LLC", installed_program},
        {"Acme Backup Nightly", "\\Acme\\Acme Backup Nightly",
         "\"C:\\Program Files\\Acme Backup\\backup.exe\" --nightly", "C:\\Program Files\\Acme Backup\\backup.exe", acme,
         installed_program},
        {"SpotifyUpdateTask", "\\Spotify\\SpotifyUpdateTask",
         "\"C:\\Users\\tamsel\\AppData\\Roaming\\Spotify\\SpotifyUpdate.exe\" /check",
         "C:\\Users\\tamsel\\AppData\\Roaming\\Spotify\\SpotifyUpdate.exe", "Spotify Ltd", installed_program},
        {"ScheduledDefrag", "\\Microsoft\\Windows\\Defrag\\ScheduledDefrag",
         "%windir%\\system32\\defrag.exe -c -h -o -$", "C:\\Windows\\System32\\defrag.exe", microsoft,
         operating_system},
    };
    return rows;
}

const std::vector<ProgramRow>& running_rows() {
    static const std::vector<ProgramRow> rows = {
        {"firefox",
         "Mozilla Firefox",
         "C:\\Program Files\\Mozilla Firefox\\firefox.exe",
         "",
         "Mozilla Corporation",
         "Firefox web browser",
         {4120, 4188, 4260, 5012},
         false},
        {"code",
         "Visual Studio Code",
         "C:\\Users\\tamsel\\AppData\\Local\\Programs\\Microsoft VS Code\\Code.exe",
         "",
         microsoft,
         "Source code editor",
         {6040, 6112, 6180},
         false},
        {"keepass",
         "KeePass Password Safe",
         "C:\\Program Files\\KeePass Password Safe 2\\KeePass.exe",
         "",
         "Tobin Marsh",
         "Password manager",
         {7324},
         false},
        {"node",
         "Acme dev server (node.exe)",
         "C:\\Program Files\\nodejs\\node.exe",
         "\"C:\\Program Files\\nodejs\\node.exe\" C:\\work\\acme\\server.js --port 8080",
         "OpenJS Foundation",
         "Node.js JavaScript runtime",
         {8801},
         false},
        {"explorer",
         "Windows Explorer",
         "C:\\Windows\\explorer.exe",
         "C:\\Windows\\explorer.exe",
         microsoft,
         "Windows Explorer",
         {2210},
         true},
    };
    return rows;
}

const std::vector<ProgramRow>& installed_rows() {
    static const std::vector<ProgramRow> rows = {
        {"vlc",
         "VLC media player",
         "C:\\Program Files\\VideoLAN\\VLC\\vlc.exe",
         "",
         "VideoLAN",
         "Media player",
         {},
         false},
        {"npp",
         "Notepad++",
         "C:\\Program Files\\Notepad++\\notepad++.exe",
         "",
         "Notepad++ Team",
         "Text editor",
         {},
         false},
        {"7zip",
         "7-Zip File Manager",
         "C:\\Program Files\\7-Zip\\7zFM.exe",
         "",
         "Ilan Vesper",
         "File archiver",
         {},
         false},
        {"calc",
         "Calculator",
         "C:\\Windows\\System32\\calc.exe",
         "C:\\Windows\\System32\\calc.exe",
         microsoft,
         "Calculator",
         {},
         true},
    };
    return rows;
}

model::StartupItem make_service(const ServiceRow& row) {
    model::StartupItem item(model::ItemKind::service, "Windows service", model::Scope::machine, "Services",
                            std::string(row.short_name));
    item.name = row.display_name;
    item.set_spec("short", std::string(row.short_name));
    item.command = "\"" + std::string(row.exe) + "\"";
    item.exe = row.exe;
    item.publisher = row.publisher;
    item.description = row.description;
    item.origin = row.origin;
    item.enabled = row.enabled;
    item.running = row.running;
    item.state_text = row.start_text;
    for (std::string_view dependent : row.dependents) item.dependents.emplace_back(dependent);
    return item;
}

model::StartupItem make_run_entry(std::string_view name, bool machine, std::string_view command, std::string_view exe,
                                  std::string_view publisher, std::string_view description, bool enabled) {
    model::StartupItem item(model::ItemKind::run, machine ? "Registry (Run, all users)" : "Registry (Run, this user)",
                            machine ? model::Scope::machine : model::Scope::user,
                            machine ? "HKLM\\Run\\64" : "HKCU\\Run\\64", std::string(name));
    item.set_spec("short", std::string(name));
    item.command = command;
    item.exe = exe;
    item.publisher = publisher;
    item.description = description;
    item.origin = to_lower_ascii(exe).starts_with("c:\\windows") ? operating_system : installed_program;
    item.enabled = enabled;
    item.state_text = enabled ? "Enabled" : "Disabled";
    return item;
}

model::StartupItem make_task(const TaskRow& row) {
    model::StartupItem item(model::ItemKind::task, "Scheduled task", model::Scope::machine, std::string(row.path),
                            std::string(row.name));
    item.set_spec("short", std::string(row.name));
    item.set_spec("uri", std::string(row.path));
    item.command = row.command;
    item.exe = row.exe;
    item.publisher = row.publisher;
    item.origin = row.origin;
    item.enabled = true;
    item.state_text = "Enabled (runs at boot)";
    return item;
}

model::StartupItem make_shortcut() {
    model::StartupItem item(model::ItemKind::folder, "Startup folder (this user)", model::Scope::user,
                            "C:\\Users\\tamsel\\AppData\\Roaming\\Microsoft\\Windows\\Start Menu\\Programs\\Startup",
                            "Acme Screenshot.lnk");
    item.name = "Acme Screenshot";
    item.set_spec("short", "Acme Screenshot");
    item.command = "\"C:\\Program Files\\Acme Screenshot\\shot.exe\"";
    item.exe = "C:\\Program Files\\Acme Screenshot\\shot.exe";
    item.publisher = acme;
    item.description = "Screenshot tool";
    item.origin = installed_program;
    item.state_text = "Enabled";
    item.enabled = true;
    return item;
}

model::Candidate make_candidate(std::string_view prefix, model::CandidateSource source, const ProgramRow& row) {
    model::Candidate candidate;
    candidate.id = std::string(prefix) + std::string(row.word);
    candidate.name = row.name;
    candidate.source = source;
    candidate.exe = row.exe;
    candidate.command = row.command.empty() ? "\"" + std::string(row.exe) + "\"" : std::string(row.command);
    std::size_t slash = row.exe.rfind('\\');
    candidate.workdir = slash == std::string_view::npos ? std::string() : std::string(row.exe.substr(0, slash));
    candidate.user = "tamsel";
    candidate.pids = row.pids;
    candidate.publisher = row.publisher;
    candidate.description = row.description;
    candidate.modes = model::program_start_modes(row.system);
    candidate.system = row.system;
    return candidate;
}

// What checking each program file's signature gives on the demonstration
// computer: one of every verdict Windows can give, a tampered program and a
// signer that contradicts the publisher among them.
struct SignatureRow {
    std::string_view exe;
    model::SignatureVerdict verdict;
    std::string_view signer, issuer, note;
};

const std::vector<SignatureRow>& signature_rows() {
    using enum model::SignatureVerdict;
    constexpr std::string_view windows = "Microsoft Windows";
    constexpr std::string_view windows_ca = "Microsoft Windows Production PCA 2011";
    constexpr std::string_view microsoft_ca = "Microsoft Code Signing PCA 2011";
    constexpr std::string_view public_ca = "Sectigo Public Code Signing CA R36";
    static const std::vector<SignatureRow> rows = {
        {svchost, catalog, windows, windows_ca, ""},
        {"C:\\Windows\\System32\\spoolsv.exe", catalog, windows, windows_ca, ""},
        {"C:\\Windows\\System32\\SearchIndexer.exe", catalog, windows, windows_ca, ""},
        {"C:\\Windows\\System32\\OpenSSH\\sshd.exe", catalog, windows, windows_ca, ""},
        {"C:\\Windows\\System32\\SecurityHealthSystray.exe", catalog, windows, windows_ca, ""},
        {"C:\\Windows\\System32\\defrag.exe", catalog, windows, windows_ca, ""},
        {"C:\\Program Files\\Windows Defender\\MsMpEng.exe", verified, "Microsoft Windows Publisher", windows_ca, ""},
        {"C:\\Windows\\System32\\oempanel.exe", unsigned_file, "", "", ""},
        {"C:\\Program Files\\Acme Sync\\syncsvc.exe", verified, "Globex Corporation", public_ca, ""},
        {"C:\\Program Files\\Acme Dev\\devdb.exe", not_checked, "", "",
         "The file is larger than 256 MiB, so it was not checked."},
        {"C:\\Program Files\\Acme Dev\\devserver.exe", verified, acme, public_ca, ""},
        {"C:\\Users\\tamsel\\AppData\\Local\\Microsoft\\OneDrive\\OneDrive.exe", verified, microsoft, microsoft_ca,
         ""},
        {"C:\\Users\\tamsel\\AppData\\Roaming\\Spotify\\Spotify.exe", verified, "Spotify AB",
         "DigiCert Trusted G4 Code Signing RSA4096 SHA384 2021 CA1", ""},
        {"C:\\Users\\tamsel\\AppData\\Roaming\\Spotify\\SpotifyUpdate.exe", unsigned_file, "", "", ""},
        {"C:\\Users\\tamsel\\AppData\\Local\\Discord\\Update.exe", verified, "Discord Inc.",
         "DigiCert Trusted G4 Code Signing RSA4096 SHA384 2021 CA1", ""},
        {"C:\\Program Files (x86)\\Steam\\steam.exe", verified, "Valve Corp.", "DigiCert EV Code Signing CA", ""},
        {"C:\\Program Files\\Acme Notes\\notes.exe", tampered, acme, public_ca,
         "The file's contents differ from what was signed."},
        {"C:\\Windows\\System32\\DriverStore\\FileRepository\\rtk\\RtkAudUService64.exe", signed_untrusted,
         "Realtek Semiconductor Corp.", "Realtek Test Root", "The signer's chain does not end in a trusted root."},
        {"C:\\Program Files (x86)\\Google\\Update\\GoogleUpdate.exe", verified, "Google LLC",
         "DigiCert Trusted G4 Code Signing RSA4096 SHA384 2021 CA1", ""},
        {"C:\\Program Files\\Acme Backup\\backup.exe", verified, acme, public_ca, ""},
        {"C:\\Program Files\\Acme Screenshot\\shot.exe", verified, acme, public_ca, ""},
    };
    return rows;
}

// Every item whose program the table names carries its verdict; any other
// (the markup test's, the program's own entries) is unsigned.
void add_signatures(std::vector<model::StartupItem>& items) {
    for (model::StartupItem& item : items) {
        const auto& rows = signature_rows();
        const auto row = std::find_if(rows.begin(), rows.end(), [&](const SignatureRow& r) { return r.exe == item.exe; });
        item.signature = row == rows.end()
                             ? model::Signature{model::SignatureVerdict::unsigned_file, "", "", ""}
                             : model::Signature{row->verdict, std::string(row->signer), std::string(row->issuer),
                                                std::string(row->note)};
    }
}

// Programs that an item already starts are not offered again.
std::vector<model::Candidate> candidates_not_started(const std::vector<ProgramRow>& rows, std::string_view prefix,
                                                     model::CandidateSource source,
                                                     const std::vector<model::StartupItem>& items) {
    std::vector<std::string> started;
    started.reserve(items.size());
    for (const model::StartupItem& item : items) started.push_back(to_lower_ascii(item.exe));
    std::vector<model::Candidate> out;
    for (const ProgramRow& row : rows) {
        const std::string exe = to_lower_ascii(row.exe);
        if (std::find(started.begin(), started.end(), exe) != started.end()) continue;
        out.push_back(make_candidate(prefix, source, row));
    }
    return out;
}

// What the demonstration's records say its items cost: the last five
// sign-ins for what starts at sign-in, the boot log's last five boots for
// the services that slowed them, so that every level can be seen and the
// last sign-in drawn. Steam is off, so nothing recorded it.
struct MeasuredRow {
    std::string_view name;
    model::MeasuredBy source;
    std::uint32_t measured;
    std::optional<std::uint64_t> processor_ms;
    std::optional<std::uint64_t> disk_bytes;
    std::optional<std::uint64_t> delay_ms;
    std::optional<std::uint64_t> started_ms;  // in the last sign-in
};

const std::vector<MeasuredRow>& measured_rows() {
    using enum model::MeasuredBy;
    static const std::vector<MeasuredRow> rows = {
        {"SecurityHealth", sign_in_records, 5, 40, 64u << 10, {}, 800},
        {"RtkAudUService", sign_in_records, 5, 310, 900u << 10, {}, 950},
        {"OneDrive", sign_in_records, 5, 820, 2458u << 10, {}, 1200},
        {"Spotify", sign_in_records, 4, 1400, 12u << 20, {}, 1900},
        {"Discord", sign_in_records, 5, 2100, 38u << 20, {}, 2300},
        {"Acme Notes", sign_in_records, 5, 90, 120u << 10, {}, 3100},
        {"Acme Screenshot", sign_in_records, 3, 150, 200u << 10, {}, 4200},
        {"Windows Search", boot_log, 3, {}, {}, 4300, {}},
        {"Acme Sync Service", boot_log, 5, {}, {}, 2600, {}},
        {"Acme Dev Server", boot_log, 2, {}, {}, 650, {}},
    };
    return rows;
}

void add_measurements(std::vector<model::StartupItem>& items) {
    for (model::StartupItem& item : items) {
        for (const MeasuredRow& row : measured_rows()) {
            if (item.name != row.name) continue;
            item.impact =
                model::measured_impact(row.source, row.measured, row.processor_ms, row.disk_bytes, row.delay_ms);
            item.impact.started_ms = row.started_ms;
        }
    }
}

bool starts_at_sign_in(const model::StartupItem& item) {
    return item.kind == model::ItemKind::folder ||
           (item.kind == model::ItemKind::run && item.scope == model::Scope::user);
}

// The system services the demonstration lets start later or when needed;
// every service of an installed program does too.
constexpr std::array<std::string_view, 2> gentler_system_services{"SysMain", "DiagTrack"};

// What each item offers, worked out on every scan from what it is now: an
// Automatic service (or one that has taken a way) and a sign-in program that
// is on (or started later by an entry of Quillmoor's own).
// What changed on the invented computer since its scan of a day before: its
// updater task switched Spotify back on (after the user had switched it off)
// two minutes after it ran, and installing the Acme developer tools added
// their server. The times the causes are named from are the ones a real
// computer records; `changed_at` is when Spotify's Run value was written.
void mark_changes(std::vector<model::StartupItem>& items, std::vector<model::ChangeActor>& actors,
                  std::int64_t changed_at) {
    std::string updater_id;
    for (model::StartupItem& item : items) {
        if (item.name == "SpotifyUpdateTask") updater_id = item.id();
        if (item.name == "Spotify" && item.kind == model::ItemKind::run) {
            item.changed = {changed_at, "the Run value was written"};
            if (item.enabled) item.change = model::ItemChange::came_back;
        } else if (item.name == "Acme Dev Server") {
            item.changed = {changed_at - 40 * 60, "the service was added"};
            item.change = model::ItemChange::added;
        }
        item.exe_time = changed_at - 30 * 24 * 60 * 60;
    }
    actors.push_back(model::ChangeActor{model::ActorKind::task, "SpotifyUpdateTask", updater_id,
                                        "C:\\Users\\tamsel\\AppData\\Roaming\\Spotify\\SpotifyUpdate.exe",
                                        "Spotify Ltd", "", changed_at - 2 * 60});
    actors.push_back(model::ChangeActor{model::ActorKind::installer, "Acme Dev Tools", "",
                                        "C:\\Program Files\\Acme Dev\\", std::string(acme), "",
                                        changed_at - 41 * 60});
}

void offer_ways(std::vector<model::StartupItem>& items) {
    for (model::StartupItem& item : items) {
        if (item.kind == model::ItemKind::service) {
            const bool chosen =
                item.origin != operating_system ||
                std::ranges::find(gentler_system_services, item.spec_value("short")) != gentler_system_services.end();
            if (chosen && (item.state_text == "Automatic" || item.ways.taken)) {
                item.ways.when_needed = true;
                item.ways.later = model::LaterKind::service;
            }
        } else if (starts_at_sign_in(item)) {
            const bool delayed = std::ranges::any_of(items, [&](const model::StartupItem& entry) {
                return entry.ways.delays == item.id();
            });
            if (item.enabled || delayed) item.ways.later = model::LaterKind::after_sign_in;
        }
    }
}

// The scheduled task of Quillmoor's own that starts a sign-in program
// `seconds` after sign-in; it names the program it starts.
model::StartupItem make_later_entry(const model::StartupItem& program, std::uint32_t seconds) {
    const std::string name = "Quillmoor-later-" + program.name;
    model::StartupItem entry(model::ItemKind::task, "Scheduled task", model::Scope::user, "\\Quillmoor\\" + name, name);
    entry.set_spec("short", name);
    entry.set_spec("uri", "\\Quillmoor\\" + name);
    entry.command = program.command;
    entry.exe = program.exe;
    entry.publisher = program.publisher;
    entry.origin = model::Origin::own_entry;
    entry.managed = true;
    entry.enabled = true;
    entry.state_text = "Starts " + program.name + " " + model::seconds_text(seconds) + " after sign-in";
    entry.ways.delays = program.id();
    entry.ways.taken_seconds = seconds;
    return entry;
}

model::StartupCost demo_startup_cost() {
    model::StartupCost cost;
    cost.measurable = true;
    cost.sources = {"5 sign-in records read (demonstration data).",
                    "5 boots read from the boot-performance log (demonstration data)."};
    cost.last_start = "sign-in";
    cost.when = "2026-12-08 08:14:03";
    // What the programs of each sign-in used, and how long each boot took.
    const struct {
        model::StartKind kind;
        const char* when;
        std::uint64_t ms;
    } starts[] = {
        {model::StartKind::sign_in, "2026-12-08 08:14:03", 7600},  {model::StartKind::boot, "2026-12-08 08:13:31", 41200},
        {model::StartKind::sign_in, "2026-12-07 08:02:47", 8100},  {model::StartKind::boot, "2026-12-07 08:02:12", 44800},
        {model::StartKind::sign_in, "2026-12-05 18:40:19", 6900},  {model::StartKind::boot, "2026-12-05 18:39:50", 39700},
        {model::StartKind::sign_in, "2026-12-04 07:58:02", 9400},  {model::StartKind::boot, "2026-12-04 07:57:28", 47300},
        {model::StartKind::sign_in, "2026-12-03 08:21:55", 7200},  {model::StartKind::boot, "2026-12-03 08:21:21", 40900},
    };
    for (const auto& start : starts) cost.starts.push_back({start.kind, read_time_text(start.when), start.ms});
    return cost;
}

}  // namespace

DemoPlatform::DemoPlatform(bool with_markup_item) {
    for (const ServiceRow& row : service_rows()) items_.push_back(make_service(row));
    for (const RunRow& row : run_rows()) {
        items_.push_back(
            make_run_entry(row.name, row.machine, row.command, row.exe, row.publisher, row.description, row.enabled));
    }
    for (const TaskRow& row : task_rows()) items_.push_back(make_task(row));
    items_.push_back(make_shortcut());
    if (with_markup_item) {
        model::StartupItem evil =
            make_run_entry("<img src=x onerror=\"window.__pwned=1\">Evil", false, "\"C:\\x\\evil.exe\"",
                           "C:\\x\\evil.exe", "<b>Bad Inc</b>", "<script>window.__pwned=1</script>", true);
        items_.push_back(std::move(evil));
    }
    add_measurements(items_);
    add_signatures(items_);
    // Three hours ago, on the minute.
    changes_time_ = (now_unix_seconds() - 3 * 60 * 60) / 60 * 60;
}

model::SystemFacts DemoPlatform::system_facts() const {
    model::SystemFacts facts{"windows",
                             "Windows 11 Pro 24H2 (demonstration data)",
                             "DEMO-PC",
                             "tamsel",
                             "C:\\Users\\tamsel",
                             true,
                             true,
                             false,
                             {}};
    facts.entry_modes = model::program_start_modes(false);
    return facts;
}

model::ScanResult DemoPlatform::scan() {
    model::ScanResult result;
    {
        std::lock_guard lock(items_lock_);
        result.items = items_;
    }
    offer_ways(result.items);
    mark_changes(result.items, result.actors, changes_time_);
    result.notes.push_back("Demonstration data: nothing here is read from, or written to, a real computer.");
    result.cost = demo_startup_cost();
    return result;
}

Result<std::unique_ptr<model::ChangeWatch>> DemoPlatform::watch_changes(std::shared_ptr<os::WakeSignal> wake) {
    return model::wake_only_watch(std::move(wake));
}

Result<model::WayOutcome> DemoPlatform::set_start_way(const model::StartupItem& item,
                                                      const model::WayRequest& request) {
    std::lock_guard lock(items_lock_);
    auto stored =
        std::find_if(items_.begin(), items_.end(), [&](const model::StartupItem& s) { return s.id() == item.id(); });
    if (stored == items_.end()) return fail(std::string(not_found));
    model::WayOutcome done;
    const std::string name = stored->name;
    if (stored->kind == model::ItemKind::service) {
        // A service takes the way on itself: its start type says it.
        stored->ways.taken.reset();
        stored->ways.taken_seconds = 0;
        switch (request.way) {
            case model::ChangeAction::when_needed:
                stored->ways.taken = request.way;
                stored->enabled = false;
                stored->state_text = "Manual (on demand)";
                done.outcome.message = name + " will start only when needed (demonstration only).";
                break;
            case model::ChangeAction::later:
                stored->ways.taken = request.way;
                stored->enabled = true;
                stored->state_text = "Automatic (delayed)";
                done.outcome.message = name + " will start a little later (demonstration only).";
                break;
            default:
                // Only Automatic services offer a way, so that is what it was.
                stored->enabled = true;
                stored->state_text = "Automatic";
                done.outcome.message = name + " will start as before (demonstration only).";
                break;
        }
        return done;
    }
    if (!starts_at_sign_in(*stored)) return fail(name + " offers no gentler way than off here.");

    const std::string original = stored->id();
    // Whatever entry started it later goes, whether the engine named it or not.
    const std::string own = request.own_entry != nullptr ? request.own_entry->id() : std::string();
    auto own_entry_of = [&](const model::StartupItem& s) { return s.id() == own || s.ways.delays == original; };
    if (request.way == model::ChangeAction::on_time) {
        stored->enabled = true;
        stored->state_text = "Enabled";
        std::erase_if(items_, own_entry_of);
        done.outcome.message = name + " will start as before (demonstration only).";
        return done;
    }
    if (request.way != model::ChangeAction::later) return fail(name + " can only be made to start later.");
    stored->enabled = false;
    stored->state_text = "Disabled";
    model::StartupItem entry = make_later_entry(*stored, request.seconds);
    std::erase_if(items_, own_entry_of);
    done.own_entry = entry.id();
    done.outcome.message =
        name + " will start " + model::seconds_text(request.seconds) + " after sign-in (demonstration only).";
    items_.push_back(std::move(entry));
    return done;
}

model::StartupCost DemoPlatform::startup_cost() { return demo_startup_cost(); }

model::ProgramList DemoPlatform::running_programs(const std::vector<model::StartupItem>& items) {
    model::ProgramList list;
    list.items = candidates_not_started(running_rows(), "proc|", model::CandidateSource::process, items);

    // The on-demand Windows Update service is offered whatever the list holds.
    model::Candidate update;
    update.id = "svc|wuauserv";
    update.name = "Windows Update";
    update.source = model::CandidateSource::service;
    update.exe = std::string(svchost);
    update.command = "svchost.exe -k netsvcs -p -s wuauserv";
    update.workdir = "C:\\Windows\\System32";
    update.user = "tamsel";
    update.pids = {1432};
    update.publisher = microsoft;
    update.description = "Enables the detection, download, and installation of updates.";
    update.modes = {model::service_auto_mode()};
    update.notes = {"A Windows service that is running now but only starts when something asks for it."};
    update.entry_id = "service|machine|Services|wuauserv";
    update.system = true;
    list.items.push_back(std::move(update));
    return list;
}

model::ProgramList DemoPlatform::installed_programs(const std::vector<model::StartupItem>& items) {
    model::ProgramList list;
    list.items = candidates_not_started(installed_rows(), "app|", model::CandidateSource::app, items);
    return list;
}

Result<model::ChangeOutcome> DemoPlatform::set_enabled(const model::StartupItem& item, bool on, bool stop_now) {
    std::lock_guard lock(items_lock_);
    auto stored =
        std::find_if(items_.begin(), items_.end(), [&](const model::StartupItem& s) { return s.id() == item.id(); });
    if (stored == items_.end()) return fail(std::string(not_found));
    stored->enabled = on;
    if (stored->kind == model::ItemKind::service) {
        // The start type is set outright, so no gentler way stays taken.
        stored->ways.taken.reset();
        stored->state_text = on ? "Automatic" : "Disabled";
        if (!on && stop_now) stored->running = false;
    } else {
        stored->state_text = on ? "Enabled" : "Disabled";
    }
    return model::ChangeOutcome{item.name + (on ? " will start with Windows (demonstration only)."
                                                : " will no longer start with Windows (demonstration only)."),
                                {}};
}

Result<model::CreatedEntry> DemoPlatform::create_entry(const model::CreateDetails& details, bool) {
    const std::string value_name = "Quillmoor-" + details.name;
    const bool boot = details.mode == "boot";
    model::StartupItem item = boot ? model::StartupItem(model::ItemKind::task, "Scheduled task", model::Scope::machine,
                                                        "\\Quillmoor\\" + details.name, details.name)
                                   : model::StartupItem(model::ItemKind::run, "Registry (Run, this user)",
                                                        model::Scope::user, "HKCU\\Run\\64", value_name);
    if (boot) {
        item.set_spec("uri", "\\Quillmoor\\" + details.name);
        item.state_text = "Enabled (runs at boot)";
    } else {
        item.state_text = "Enabled";
    }
    item.set_spec("short", item.name);
    item.command = details.command;
    item.exe = details.exe;
    item.origin = model::Origin::own_entry;
    item.enabled = true;
    item.managed = true;
    item.set_spec("mode", details.mode);
    item.risk = model::Assessment{"Created by Quillmoor.", {}, model::Confidence::high, model::Level::safe};

    std::lock_guard lock(items_lock_);
    items_.push_back(item);
    // Applying a change reports the platform's message, so creation says what it did.
    return model::CreatedEntry{item,
                               model::ChangeOutcome{item.name + " will start with Windows (demonstration only).", {}}};
}

Result<model::ChangeOutcome> DemoPlatform::remove_entry(const model::StartupItem& item) {
    std::lock_guard lock(items_lock_);
    auto removed = std::erase_if(items_, [&](const model::StartupItem& s) { return s.id() == item.id(); });
    if (removed == 0) return fail(std::string(not_found));
    return model::ChangeOutcome{"Removed " + item.name + " (demonstration only).", {}};
}

Result<void> DemoPlatform::restart_elevated(const std::vector<std::string>&) {
    return fail("The demonstration is already shown with administrator rights.");
}

void DemoPlatform::open_in_browser(const std::string&) {}

std::vector<model::Probe> DemoPlatform::doctor_probes() {
    return {model::Probe{"Demonstration data", model::ProbeStatus::ok,
                         "The demonstration reads nothing from a real computer."},
            model::startup_cost_probe(demo_startup_cost())};
}

Result<std::unique_ptr<model::Platform>> make_demo_platform(bool with_markup_item) {
    return std::unique_ptr<model::Platform>(std::make_unique<DemoPlatform>(with_markup_item));
}

}  // namespace qm::demo
