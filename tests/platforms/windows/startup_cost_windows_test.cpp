// Startup cost from this computer's records under Wine: sign-in records of
// the account in a folder give items matched by exact program file their
// levels (newest five only, other accounts' and broken files ignored), paths
// match when Windows would open the same file, and the boot-performance log,
// which Wine does not keep, leaves every item not measured and says why.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "model/platform.h"
#include "os/files.h"
#include "os/os_test_support.h"
#include "os/windows/wide.h"
#include "platforms/windows/registry_test_support.h"
#include "platforms/windows/startup_cost.h"

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
                                                  (n == 6 ? process(L"%SystemRoot%\\mid.exe", 400000, 0) : L""))));
    }
    ASSERT_TRUE(
        os::write_file_replace(folder / "S-1-5-21-9_StartupInfo7.xml", record(process(L"C:\\Apps\\Other.exe", 1, 1))));
    ASSERT_TRUE(os::write_file_replace(folder / (name + "7.xml"), std::string("\xFF\xFE<\0S\0", 6)));

    const StartupRecords records = read_startup_records(sid, folder.path());
    EXPECT_EQ(records.sign_ins, 5u);
    std::vector<model::StartupItem> items = {item_running("C:\\Apps\\Heavy.exe"), item_running("C:\\Apps\\quiet.exe"),
                                             item_running("C:\\Windows\\mid.exe"), item_running("C:\\Apps\\Other.exe"),
                                             item_running("C:\\Apps\\Heavy.exe.bak")};
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
    records.sign_in_costs[normalised_program_key(program)] = {1500000, 0, true, false, 2};
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
