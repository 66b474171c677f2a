// The readers of what the systems record about a start: attributes of XML
// tags, the sign-in records of Windows (UTF-16 files as Windows writes them,
// odd units, unreadable numbers, a file cut short), boot-performance events,
// and systemd's unit and boot times.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "formats/boot_events.h"
#include "formats/sign_in_records.h"
#include "formats/unit_timings.h"
#include "formats/xml_text.h"
#include "util/text.h"

namespace qm::formats {
namespace {

std::string utf16_with_mark(std::string_view text) {
    std::string bytes = "\xFF\xFE";
    for (const char c : text) bytes += {c, '\0'};
    return bytes;
}

TEST(Attribute, ReadsQuotedValuesOfExactNames) {
    struct Row {
        std::string_view tag, name;
        std::optional<std::string> value;
    };
    const std::vector<Row> rows = {
        {R"(<Data Name="BootTime">1</Data>)", "Name", "BootTime"},
        {R"(<P  a = 'x"y'  Name="a &amp; b"/>)", "Name", "a & b"},
        {R"(<P a="x"/>)", "a", "x"},
        {R"(<P NameX="1" Name="2">)", "Name", "2"},
        {R"(<P checked Name="2">)", "Name", "2"},
        {R"(<P x="a>b" Name="2">)", "Name", "2"},
        {R"(<P Name=unquoted>)", "Name", std::nullopt},
        {R"(<P Name="cut)", "Name", std::nullopt},
        {R"(<P Other="1">)", "Name", std::nullopt},
        {R"(<P>text Name="no"</P>)", "Name", std::nullopt},
        {"", "Name", std::nullopt},
    };
    for (const Row& row : rows) EXPECT_EQ(attribute(row.tag, row.name), row.value) << row.tag;
}

TEST(SignInRecords, ReadsEveryWholeProcessOfAUtf16File) {
    const std::string file = utf16_with_mark(
        R"(<?xml version="1.0" encoding="UTF-16"?>)"
        "\r\n<StartupData Version=\"1\" StartTime=\"2026-12-01T08:00:00Z\">"
        R"(<Process Name="C:\Program Files\A &amp; B\a.exe" PID="10"><CommandLine>"C:\Program Files\A &amp; B\a.exe" /min</CommandLine>)"
        R"(<DiskUsage Unit="bytes">3500000</DiskUsage><CpuUsage Unit="us">1200000</CpuUsage></Process>)"
        R"(<Process Name="C:\b.exe"><DiskUsage Unit="KB">2</DiskUsage><CpuUsage Unit="ms">450</CpuUsage></Process>)"
        R"(<Process Name="C:\c.exe"><DiskUsage Unit="pages">2</DiskUsage><CpuUsage>12abc</CpuUsage></Process>)"
        R"(<Process Name="C:\cut.exe"><CpuUsage>5</CpuUsage>)");
    const SignInRecord record = read_sign_in_record(decode_document(file));
    EXPECT_EQ(record.started, "2026-12-01T08:00:00Z");
    ASSERT_EQ(record.processes.size(), 3u);
    EXPECT_EQ(record.processes[0].program, R"(C:\Program Files\A & B\a.exe)");
    EXPECT_EQ(record.processes[0].command_line, R"("C:\Program Files\A & B\a.exe" /min)");
    EXPECT_EQ(record.processes[0].processor_us, 1200000u);
    EXPECT_EQ(record.processes[0].disk_bytes, 3500000u);
    EXPECT_EQ(record.processes[1].processor_us, 450000u);
    EXPECT_EQ(record.processes[1].disk_bytes, 2048u);
    EXPECT_EQ(record.processes[2].processor_us, std::nullopt);
    EXPECT_EQ(record.processes[2].disk_bytes, std::nullopt);
    EXPECT_TRUE(read_sign_in_record("<Process Name=\"x\"></Process>").processes.empty());
}

TEST(SignInRecords, CostsPerSignInOfEachExactProgram) {
    const auto process = [](std::string program, std::optional<std::uint64_t> us, std::optional<std::uint64_t> bytes,
                            std::string started = "") {
        return SignInProcess{std::move(program), "", us, bytes, std::move(started)};
    };
    // The newest record places each program where it first started.
    const std::vector<SignInRecord> records = {
        {"2026-12-01T08:00:00Z",
         {process("C:\\A\\a.exe", 1000, 100, "2026-12-01T08:00:02.5Z"),
          process("c:/a/A.EXE", 500, std::nullopt, "2026-12-01T08:00:01.25Z"), process("", 9, 9)}},
        {"", {process("C:\\A\\a.exe", 2000, 300), process("C:\\A\\a2.exe", std::nullopt, std::nullopt)}},
        {"", {}},
    };
    const auto key = [](std::string_view path) {
        std::string text = to_lower_ascii(path);
        std::replace(text.begin(), text.end(), '/', '\\');
        return text;
    };
    const std::map<std::string, SignInCost> costs = sign_in_costs(records, key);
    ASSERT_EQ(costs.size(), 2u);
    const SignInCost& a = costs.at("c:\\a\\a.exe");
    EXPECT_EQ(a.sign_ins, 2u);
    EXPECT_EQ(a.processor_us, 1750u);  // (1000 + 500 + 2000) / 2
    EXPECT_EQ(a.disk_bytes, 200u);
    EXPECT_TRUE(a.processor_known && a.disk_known);
    EXPECT_EQ(a.started_ms, 1250u);
    const SignInCost& a2 = costs.at("c:\\a\\a2.exe");
    EXPECT_EQ(a2.sign_ins, 1u);
    EXPECT_FALSE(a2.processor_known || a2.disk_known);
    EXPECT_EQ(a2.started_ms, std::nullopt);
}

TEST(SignInRecords, FileNumbersOfOneAccount) {
    const std::string sid = "S-1-5-21-1-2-3-1001";
    EXPECT_EQ(sign_in_record_number("S-1-5-21-1-2-3-1001_StartupInfo3.xml", sid), 3u);
    EXPECT_EQ(sign_in_record_number("s-1-5-21-1-2-3-1001_startupinfo12.XML", sid), 12u);
    for (std::string_view other : {"S-1-5-21-1-2-3-1002_StartupInfo3.xml", "S-1-5-21-1-2-3-1001_StartupInfo.xml",
                                   "S-1-5-21-1-2-3-1001_StartupInfo-1.xml", "S-1-5-21-1-2-3-1001_StartupInfo3.xml.bak",
                                   "S-1-5-21-1-2-3-1001_StartupInfo1234567890.xml"}) {
        EXPECT_EQ(sign_in_record_number(other, sid), std::nullopt) << other;
    }
}

std::string event_xml(std::string_view provider, std::string_view id, std::string_view data) {
    return R"(<Event xmlns="http://schemas.microsoft.com/win/2004/08/events/event"><System><Provider Name=")" +
           std::string(provider) + R"(" Guid="{CFC18EC0-96B1-4EBA-961B-622CAEE05B0A}"/><EventID>)" + std::string(id) +
           R"(</EventID><TimeCreated SystemTime="2026-12-01T08:01:00.5Z"/></System><EventData>)" + std::string(data) +
           "</EventData></Event>";
}

TEST(BootEvents, BootsAndWhatSlowedThem) {
    constexpr std::string_view provider = "Microsoft-Windows-Diagnostics-Performance";
    const auto boot = read_boot_event(event_xml(
        provider, "100",
        R"(<Data Name="BootTsVersion">2</Data><Data Name="BootTime">38200</Data><Data Name="MainPathBootTime">14100</Data><Data Name="BootPostBootTime">24100</Data>)"));
    ASSERT_TRUE(boot);
    EXPECT_EQ(boot->kind, BootEventKind::boot);
    EXPECT_EQ(boot->time_created, "2026-12-01T08:01:00.5Z");
    EXPECT_EQ(boot->boot_ms, 38200u);
    EXPECT_EQ(boot->main_path_ms, 14100u);
    EXPECT_EQ(boot->post_boot_ms, 24100u);

    const auto service = read_boot_event(event_xml(
        provider, "103",
        R"(<Data Name="Name">Spooler</Data><Data Name="FriendlyName">Print Spooler</Data><Data Name="TotalTime">4200</Data><Data Name="DegradationTime">3900</Data><Data Name="Path">C:\Windows\System32\spoolsv.exe</Data>)"));
    ASSERT_TRUE(service);
    EXPECT_EQ(service->kind, BootEventKind::slow_service);
    EXPECT_EQ(service->name, "Spooler");
    EXPECT_EQ(service->friendly_name, "Print Spooler");
    EXPECT_EQ(service->path, R"(C:\Windows\System32\spoolsv.exe)");
    EXPECT_EQ(service->total_ms, 4200u);
    EXPECT_EQ(service->degradation_ms, 3900u);

    const auto application = read_boot_event(
        event_xml(provider, "101", R"(<Data Name="Name">a.exe</Data><Data Name="TotalTime">-1</Data>)"));
    ASSERT_TRUE(application);
    EXPECT_EQ(application->kind, BootEventKind::slow_application);
    EXPECT_EQ(application->total_ms, std::nullopt);

    EXPECT_FALSE(read_boot_event(event_xml("Someone-Else", "100", "")));
    EXPECT_FALSE(read_boot_event(event_xml(provider, "102", "")));
    EXPECT_FALSE(read_boot_event("<Event><System><EventID>100</EventID>"));
}

TEST(UnitTimings, StartTimesAsTheSystemsAnalysisGivesThem) {
    const std::vector<UnitTiming> timings = read_unit_timings(
        "Id=ssh.service\nInactiveExitTimestampMonotonic=2000000\nExecMainStartTimestampMonotonic=2100000\n"
        "ActiveEnterTimestampMonotonic=2350000\n\n"
        "Id=cron.service\nInactiveExitTimestampMonotonic=0\nExecMainStartTimestampMonotonic=3000000\n"
        "ActiveEnterTimestampMonotonic=3010000\n\n"
        "Id=restarting.service\nInactiveExitTimestampMonotonic=9000000\nActiveEnterTimestampMonotonic=4000000\n\n"
        "Id=never.service\nInactiveExitTimestampMonotonic=0\nActiveEnterTimestampMonotonic=0\n\n"
        "InactiveExitTimestampMonotonic=1\n");
    ASSERT_EQ(timings.size(), 4u);
    EXPECT_EQ(timings[0].duration_us, 350000u);
    EXPECT_EQ(timings[0].start_us, 2000000u);
    EXPECT_EQ(timings[1].duration_us, 10000u);
    EXPECT_EQ(timings[2].duration_us, std::nullopt);
    EXPECT_EQ(timings[3].start_us, std::nullopt);
    EXPECT_EQ(timings[3].duration_us, std::nullopt);

    const BootPhases with_initrd = read_boot_phases(
        "FirmwareTimestampMonotonic=9000000\nLoaderTimestampMonotonic=3000000\nInitRDTimestampMonotonic=1500000\n"
        "UserspaceTimestampMonotonic=4000000\nFinishTimestampMonotonic=19000000\n");
    EXPECT_EQ(with_initrd.firmware_us, 6000000u);
    EXPECT_EQ(with_initrd.loader_us, 3000000u);
    EXPECT_EQ(with_initrd.kernel_us, 1500000u);
    EXPECT_EQ(with_initrd.initrd_us, 2500000u);
    EXPECT_EQ(with_initrd.userspace_us, 15000000u);
    EXPECT_EQ(with_initrd.total_us(), 28000000u);

    const BootPhases unfinished = read_boot_phases(
        "FirmwareTimestampMonotonic=0\nLoaderTimestampMonotonic=0\nInitRDTimestampMonotonic=0\n"
        "UserspaceTimestampMonotonic=800000\nFinishTimestampMonotonic=0\n");
    EXPECT_EQ(unfinished.firmware_us, std::nullopt);
    EXPECT_EQ(unfinished.kernel_us, 800000u);
    EXPECT_EQ(unfinished.initrd_us, std::nullopt);
    EXPECT_EQ(unfinished.total_us(), std::nullopt);
}

}  // namespace
}  // namespace qm::formats
