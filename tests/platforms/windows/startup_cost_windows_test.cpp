// Startup cost from this computer's records under Wine: sign-in records of
// the account in a folder give items matched by exact program file their
// levels (newest five only, other accounts' and broken files ignored), paths
// match when Windows would open the same file, and the boot-performance log,
// which Wine does not keep, leaves every item not measured and says why.
// Then the same through the program, with records in the prefix's own
// diagnostics folder naming items of the prefix.
#include <gtest/gtest.h>
#include <shlobj.h>
#include <windows.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "formats/xml_text.h"
#include "json/json.h"
#include "model/platform.h"
#include "os/files.h"
#include "os/os_test_support.h"
#include "os/windows/wide.h"
#include "platforms/windows/registry_test_support.h"
#include "platforms/windows/shell_link_test_support.h"
#include "platforms/windows/startup_cost.h"
#include "platforms/windows/system_test_support.h"
#include "util/text.h"

namespace qm::windows {
namespace {

constexpr std::string_view sid = "S-1-5-21-1-2-3-1001";

std::string record(std::wstring_view processes) {
    return "\xFF\xFE" +
           test::utf16_bytes(L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<StartupData Version=\"1\">" +
                                 std::wstring(processes) + L"</StartupData>",
                             false);
}

std::wstring process(std::wstring_view name, int cpu_us, int disk_bytes) {
    return L"<Process Name=\"" + std::wstring(name) + L"\"><CommandLine>x</CommandLine><DiskUsage Unit=\"bytes\">" +
           std::to_wstring(disk_bytes) + L"</DiskUsage><CpuUsage Unit=\"us\">" + std::to_wstring(cpu_us) +
           L"</CpuUsage></Process>";
}

model::StartupItem item_running(std::string exe) {
    model::StartupItem item(model::ItemKind::run, "Registry (Run, this user)", model::Scope::user, "HKCU\\Run", exe);
    item.exe = std::move(exe);
    return item;
}

TEST(StartupCost, SignInRecordsGiveExactProgramsTheirLevels) {
    test::ScratchFolder folder;
    const std::string name = std::string(sid) + "_StartupInfo";
    // Records 1..6: only the newest five count, so the 9 s of record 1 is not seen.
    ASSERT_TRUE(os::write_file_replace(folder / (name + "1.xml"), record(process(L"C:\\Apps\\Quiet.exe", 9000000, 0))));
    for (int n = 2; n <= 6; ++n) {
        ASSERT_TRUE(os::write_file_replace(folder / (name + std::to_string(n) + ".xml"),
                                           record(process(L"C:\\Apps\\Heavy.exe", 1500000, 4000000) +
                                                  process(L"c:/apps/quiet.EXE", 100000, 1000) +
                                                  process(L"C:\\Windows\\System32\\rundll32.exe", 2000000, 0) +
                                                  (n == 6 ? process(L"%SystemRoot%\\mid.exe", 400000, 0) : L""))));
    }
    ASSERT_TRUE(
        os::write_file_replace(folder / "S-1-5-21-9_StartupInfo7.xml", record(process(L"C:\\Apps\\Other.exe", 1, 1))));
    ASSERT_TRUE(os::write_file_replace(folder / (name + "7.xml"), std::string("\xFF\xFE<\0S\0", 6)));

    const StartupRecords records = read_startup_records(sid, folder.path());
    EXPECT_EQ(records.sign_ins, 5u);
    std::vector<model::StartupItem> items = {item_running("C:\\Apps\\Heavy.exe"), item_running("C:\\Apps\\quiet.exe"),
                                             item_running("C:\\Windows\\mid.exe"), item_running("C:\\Apps\\Other.exe"),
                                             item_running("C:\\Apps\\Heavy.exe.bak"),
                                             // Whatever rundll32 ran is not this item's.
                                             item_running("C:\\Windows\\System32\\rundll32.exe")};
    apply_startup_records(records, items);
    EXPECT_EQ(items[0].impact.level, model::ImpactLevel::high);
    EXPECT_EQ(items[0].impact.measured, 5u);
    EXPECT_EQ(items[0].impact.processor_ms, 1500u);
    EXPECT_EQ(items[1].impact.level, model::ImpactLevel::low);
    EXPECT_EQ(items[1].impact.measured, 5u);
    EXPECT_EQ(items[2].impact.level, model::ImpactLevel::medium);
    EXPECT_EQ(items[2].impact.measured, 1u);
    EXPECT_EQ(items[3].impact.level, model::ImpactLevel::not_measured);
    EXPECT_EQ(items[4].impact.level, model::ImpactLevel::not_measured);
    EXPECT_EQ(items[5].impact.level, model::ImpactLevel::not_measured);
    const model::StartupCost summary = startup_cost_summary(records);
    EXPECT_TRUE(summary.measurable);
    EXPECT_EQ(summary.last_start, "sign-in");
}

TEST(StartupCost, ProgramPathsMatchWhenWindowsWouldOpenTheSameFile) {
    const struct {
        std::string_view record, item;
        bool same;
    } rows[] = {
        {"C:\\Apps\\x.exe", "c:/apps/X.EXE", true},
        {"C:\\Windows\\x.exe", "%SystemRoot%\\x.exe", true},
        {"C:\\Program Files\\A\\x.exe", "%ProgramFiles%\\A\\x.exe", true},
        {"C:\\Apps\\x.exe", "\"C:\\Apps\\x.exe\"", true},
        {"C:\\Apps\\x.exe", " \"C:\\Apps\\x.exe\"\t", true},
        {"C:\\Apps\\x.exe", "C:\\Apps\\\\x.exe", true},
        {"C:\\Apps\\x.exe", "C:\\Apps\\.\\Sub\\..\\x.exe", true},
        {"C:\\\xC3\x84pps\\x.exe", "c:\\\xC3\xA4pps\\x.exe", true},  // Ä and ä
        {"\\\\Server\\Share\\x.exe", "\\\\server\\share\\x.exe", true},
        {"C:\\Apps\\x.exe", "C:\\Apps\\Other\\x.exe", false},
        {"C:\\Apps\\x.exe", "C:\\Apps\\x.exe.bak", false},
        {"C:\\Apps\\x.exe", "x.exe", false},
        {"C:\\Apps\\x.exe", "D:\\Apps\\x.exe", false},
        {"\\\\Server\\Share\\x.exe", "\\Server\\Share\\x.exe", false},
        {"C:\\Apps\\x.exe", "%NoSuchVariable%\\Apps\\x.exe", false},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(normalised_program_key(row.record) == normalised_program_key(row.item), row.same)
            << row.record << " | " << row.item << " -> " << normalised_program_key(row.item);
    }

    // An item may name its program by the short name of a file that exists.
    test::ScratchFolder folder;
    const std::string program = folder / "Long Folder Name\\Long Program Name.exe";
    ASSERT_TRUE(os::create_folders(folder / "Long Folder Name").has_value());
    ASSERT_TRUE(os::write_file_replace(program, "MZ").has_value());
    wchar_t short_name[MAX_PATH] = {};
    const DWORD n = ::GetShortPathNameW(os::windows::to_wide(program).c_str(), short_name, MAX_PATH);
    ASSERT_TRUE(n > 0 && n < MAX_PATH);
    const std::string short_path = os::windows::to_utf8(short_name);
    ASSERT_NE(short_path.find('~'), std::string::npos) << short_path;
    StartupRecords records;
    records.sign_in_costs[normalised_program_key(program)] = {1500000, 0, true, false, 2, std::nullopt};
    std::vector<model::StartupItem> items = {item_running(short_path)};
    apply_startup_records(records, items);
    EXPECT_EQ(items[0].impact.level, model::ImpactLevel::high) << short_path;
}

TEST(StartupCost, WithoutRecordsNothingIsMeasuredAndTheReasonIsSaid) {
    test::ScratchFolder folder;
    const StartupRecords records = read_startup_records(sid, folder / "missing");
    EXPECT_EQ(records.sign_ins, 0u);
    EXPECT_NE(records.sign_in_note.find("No sign-in records"), std::string::npos) << records.sign_in_note;
    // Wine keeps no boot-performance log.
    EXPECT_FALSE(records.boot_log_read) << records.boot_log_note;
    EXPECT_FALSE(records.boot_log_note.empty());
    std::vector<model::StartupItem> items = {item_running("C:\\Apps\\Heavy.exe")};
    apply_startup_records(records, items);
    EXPECT_EQ(items[0].impact.level, model::ImpactLevel::not_measured);
    const model::Probe probe = model::startup_cost_probe(startup_cost_summary(records));
    EXPECT_EQ(probe.status, model::ProbeStatus::warn);
    EXPECT_EQ(probe.detail.rfind("Not measurable here. No sign-in records", 0), 0u) << probe.detail;
}

}  // namespace
}  // namespace qm::windows

namespace qm::windows {
namespace {

// The account this test runs as, looked up by its name rather than read from
// the process token as the program reads it, so that the two routes agree
// on whose records these are.
std::string signed_in_sid() {
    wchar_t user[256] = {};
    DWORD user_size = 256;
    if (!::GetUserNameW(user, &user_size)) return {};
    std::vector<std::uint64_t> sid_storage(16);
    DWORD sid_size = static_cast<DWORD>(sid_storage.size() * sizeof(std::uint64_t));
    wchar_t domain[256] = {};
    DWORD domain_size = 256;
    SID_NAME_USE use{};
    if (!::LookupAccountNameW(nullptr, user, sid_storage.data(), &sid_size, domain, &domain_size, &use)) return {};
    LPWSTR text = nullptr;
    if (!::ConvertSidToStringSidW(sid_storage.data(), &text)) return {};
    std::string sid = os::windows::to_utf8(text);
    ::LocalFree(text);
    return sid;
}

// Files and folders put into the shared prefix for one test, removed when it
// ends however it ends: the files, then the folders it made, innermost first.
class PlacedInPrefix {
public:
    PlacedInPrefix() = default;
    PlacedInPrefix(const PlacedInPrefix&) = delete;
    PlacedInPrefix& operator=(const PlacedInPrefix&) = delete;
    ~PlacedInPrefix() {
        for (const std::string& file : files_) (void)os::remove_file(file);
        for (auto it = folders_.rbegin(); it != folders_.rend(); ++it) (void)os::remove_tree(*it);
    }

    // Makes each missing folder along a full path, remembering those made.
    void folder(const std::string& path) {
        std::size_t at = 2;
        do {
            at = path.find('\\', at + 1);
            const std::string step = path.substr(0, at);
            if (os::path_kind(step) != os::PathKind::folder) {
                ASSERT_TRUE(os::create_folders(step).has_value()) << step;
                folders_.push_back(step);
            }
        } while (at != std::string::npos);
    }
    void file(const std::string& path, std::string_view bytes) {
        files_.push_back(path);
        ASSERT_TRUE(os::write_file_replace(path, std::string(bytes)).has_value()) << path;
    }
    void made_elsewhere(const std::string& file) { files_.push_back(file); }

private:
    std::vector<std::string> files_;
    std::vector<std::string> folders_;
};

struct RecordedProcess {
    std::string name;
    std::string command_line;
    std::uint64_t cpu_us = 0;
    std::uint64_t disk_bytes = 0;
};

// A sign-in record as Windows writes it: UTF-16LE with its mark.
std::string sign_in_file(int day, const std::vector<RecordedProcess>& processes) {
    std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n<StartupData Version=\"1\" StartTime=\"2026-12-0" +
        std::to_string(day) + "T08:00:00.0000000Z\">\r\n";
    int pid = 400;
    for (const RecordedProcess& p : processes) {
        xml += "  <Process Name=\"" + formats::escape(p.name) + "\" PID=\"" + std::to_string(pid += 4) +
               "\" ParentName=\"C:\\windows\\explorer.exe\">\r\n    <CommandLine>" + formats::escape(p.command_line) +
               "</CommandLine>\r\n    <DiskUsage Unit=\"bytes\">" + std::to_string(p.disk_bytes) +
               "</DiskUsage>\r\n    <CpuUsage Unit=\"us\">" + std::to_string(p.cpu_us) +
               "</CpuUsage>\r\n  </Process>\r\n";
    }
    xml += "</StartupData>\r\n";
    return "\xFF\xFE" + test::utf16_bytes(os::windows::to_wide(xml), false);
}

std::string startup_folder() {
    wchar_t path[MAX_PATH] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_STARTUP | CSIDL_FLAG_CREATE, nullptr, SHGFP_TYPE_CURRENT, path)))
        return {};
    return os::windows::to_utf8(path);
}

// The program reads the records Windows keeps in its diagnostics folder for
// the signed-in account, and gives the items of the prefix that they name by
// their exact program file what they cost per sign-in.
TEST(StartupCostThroughTheProgram, SignInRecordsOfThisAccountMeasureTheItemsTheyName) {
    const std::string sid = signed_in_sid();
    ASSERT_FALSE(sid.empty());
    const std::string records =
        os::join_path(os::get_env("SystemRoot").value_or("C:\\windows"), "System32\\wdi\\LogFiles\\StartupInfo");
    const std::string tag = "QmCost" + test::random_hex(4);
    const std::string apps = os::join_path(os::get_env("ProgramFiles").value_or("C:\\Program Files"), tag);
    const std::string heavy = apps + "\\Heavy App\\heavy.exe";
    const std::string sibling = apps + "\\Other\\heavy.exe";  // the same name one folder over
    const std::string medium = apps + "\\medium.exe";
    const std::string low = apps + "\\low.exe";
    const std::string unnamed = apps + "\\unnamed.exe";
    const std::string shortcut = os::join_path(startup_folder(), tag + " Low.lnk");

    PlacedInPrefix placed;
    test::RegistryWriter registry;
    placed.folder(records);
    placed.folder(apps + "\\Heavy App");
    placed.folder(apps + "\\Other");
    for (const std::string& program : {heavy, sibling, medium, low, unnamed}) placed.file(program, "MZ");
    constexpr std::string_view run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
    registry.write_text(HKEY_CURRENT_USER, run, 0, os::windows::to_wide(tag + " Heavy"),
                        os::windows::to_wide("\"" + heavy + "\" --tray"));
    registry.write_text(HKEY_CURRENT_USER, run, 0, os::windows::to_wide(tag + " Sibling"),
                        os::windows::to_wide("\"" + sibling + "\" --tray"));
    registry.write_text(HKEY_CURRENT_USER, run, 0, os::windows::to_wide(tag + " Medium"),
                        os::windows::to_wide("\"%ProgramFiles%\\" + tag + "\\medium.exe\" /background"), REG_EXPAND_SZ);
    registry.write_text(HKEY_CURRENT_USER, run, 0, os::windows::to_wide(tag + " Unnamed"),
                        os::windows::to_wide("\"" + unnamed + "\""));
    placed.made_elsewhere(shortcut);
    ASSERT_TRUE(test::save_shortcut(shortcut, low, "--quiet"));

    // The record names the medium program in other case and with forward slashes.
    std::string medium_as_recorded = to_lower_ascii(medium);
    std::replace(medium_as_recorded.begin(), medium_as_recorded.end(), '\\', '/');
    medium_as_recorded.replace(medium_as_recorded.size() - 10, 10, "MEDIUM.EXE");
    // A host whose odd command line names a program it runs: only the
    // process's own program counts.
    const RecordedProcess host = {"C:\\windows\\system32\\rundll32.exe",
                                  "rundll32.exe \"" + unnamed + "\",Start \"a & b\" <x> '" + heavy + "'", 700000,
                                  5000000};
    const std::string name = sid + "_StartupInfo";
    // 1 is the oldest and out of the newest five; 6, the newest, was cut
    // short in the middle of a heavy process (and of a character: an odd
    // number of bytes).
    placed.file(records + "\\" + name + "1.xml", sign_in_file(1, {{heavy, "", 60000000, 0}, {unnamed, "", 1, 1}}));
    placed.file(records + "\\" + name + "2.xml",
                sign_in_file(2, {{heavy, "\"" + heavy + "\" --tray", 1200000, 2000000},
                                 {medium_as_recorded, "medium.exe /background", 250000, 1000000},
                                 {medium, "medium.exe --child", 150000, 500000},
                                 {low, "", 10000, 40000},
                                 host}));
    placed.file(records + "\\" + name + "3.xml", sign_in_file(3, {{heavy, "", 1800000, 0}, {low, "", 30000, 20000}}));
    placed.file(records + "\\" + name + "4.xml",
                sign_in_file(4, {{heavy, "", 1500000, 1000000}, {medium, "", 200000, 0}}));
    placed.file(records + "\\" + name + "5.xml", sign_in_file(5, {{heavy, "", 1500000, 1000000}, host}));
    const std::string whole = sign_in_file(6, {{low, "", 20000, 30000}, {heavy, "", 9000000, 9000000}});
    placed.file(records + "\\" + name + "6.xml", whole.substr(0, whole.size() - 89));
    // Another account's newer record.
    placed.file(records + "\\S-1-5-21-9-9-9-1001_StartupInfo7.xml",
                sign_in_file(7, {{heavy, "", 90000000, 0}, {unnamed, "", 90000000, 0}}));

    test::ScratchFolder data;
    const std::vector<std::pair<std::string, std::string>> environment = {{"LOCALAPPDATA", data.path()},
                                                                          {"ProgramData", data.path()}};
    const test::ProgramRun listed = test::run_program({"list", "--json"}, environment);
    Result<json::JsonValue> items = json::parse(listed.out);
    ASSERT_TRUE(items && items->is_array()) << listed.out << listed.err;

    const struct {
        std::string name;
        std::string level;
        double measured, processor_ms, disk_bytes;  // -1: not given
    } expected[] = {
        {tag + " Heavy", "high", 4, 1500, 1000000},   // (1.2 + 1.8 + 1.5 + 1.5) s / 4
        {tag + " Medium", "medium", 2, 300, 750000},  // two processes in one sign-in add up
        {tag + " Low", "low", 3, 20, 30000},          // the whole part of the cut file counts
        {tag + " Unnamed", "not measured", -1, -1, -1},
        {tag + " Sibling", "not measured", -1, -1, -1},
    };
    for (const auto& row : expected) {
        const auto found =
            std::find_if(items->as_array().begin(), items->as_array().end(),
                         [&](const json::JsonValue& i) { return json::get_text(i, "name") == row.name; });
        ASSERT_NE(found, items->as_array().end()) << row.name << "\n" << listed.out;
        const json::JsonValue* impact = json::get(*found, "impact");
        ASSERT_NE(impact, nullptr) << row.name;
        EXPECT_EQ(json::get_text(*impact, "level"), row.level) << row.name << ": " << json::write(*impact);
        const auto number = [&](std::string_view key) {
            const json::JsonValue* value = json::get(*impact, key);
            return value != nullptr && value->is_number() ? value->as_number() : -1.0;
        };
        EXPECT_EQ(number("measured"), row.measured) << row.name << ": " << json::write(*impact);
        EXPECT_EQ(number("processor_ms"), row.processor_ms) << row.name << ": " << json::write(*impact);
        EXPECT_EQ(number("disk_bytes"), row.disk_bytes) << row.name << ": " << json::write(*impact);
        if (row.measured > 0) {
            EXPECT_EQ(json::get_text(*impact, "source"), "sign-in records") << row.name;
        }
    }

    const test::ProgramRun doctor = test::run_program({"doctor"}, environment);
    std::istringstream lines(doctor.out);
    std::string line;
    while (std::getline(lines, line) && line.find("Startup cost: ") == std::string::npos) {
    }
    EXPECT_TRUE(line.starts_with("[ok  ] Startup cost: 5 sign-in records read from " + records + ".")) << doctor.out;
    EXPECT_NE(line.find("Boot times are not measurable here:"), std::string::npos) << line;
}

}  // namespace
}  // namespace qm::windows
