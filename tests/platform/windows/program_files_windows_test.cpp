#include <string>

#include <gtest/gtest.h>

#include "../platform_test_support.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/windows/program_files.h"
#include "util/text.h"

namespace qm::win {
namespace {

// The programs built from tests/platform/windows/version_samples.
std::string version_sample(std::string_view name) {
    const std::string self = os::own_program_path();
    const std::string folder = self.substr(0, self.find_last_of("/\\"));
    return os::join_path(os::join_path(folder, "version_samples"), std::string(name) + ".exe");
}

StartupItem item_with_command(std::string command) {
    StartupItem item("run", "Registry (Run, this user)", "user", "HKCU\\Run\\64", "Sample");
    item.command = std::move(command);
    return item;
}

void write_empty_file(const std::string& path) {
    auto written = os::write_file_replace(path, "");
    ASSERT_TRUE(written.has_value()) << written.error();
}

TEST(VersionStrings, UseTheTranslationsInTheOrderListedThenTheUsualBlocks) {
    // Only 040904e4, with no translation list: found among the fallbacks.
    VersionStrings only_1252 = read_version_strings(version_sample("only_040904e4"));
    EXPECT_EQ(only_1252.publisher, "Code Page Publisher");
    EXPECT_EQ(only_1252.description, "Only the 1252 block");

    // The first listed translation gives the company; its description is
    // empty, so the second listed block gives that, before any fallback block
    // and before falling back to the product name.
    VersionStrings several = read_version_strings(version_sample("several_translations"));
    EXPECT_EQ(several.publisher, "Soci\xc3\xa9t\xc3\xa9 Premi\xc3\xa8re");
    EXPECT_EQ(several.description, "Zweite Beschreibung");
}

TEST(VersionStrings, FallBackToTheProductNameAndAlwaysGiveValidText) {
    VersionStrings strings = read_version_strings(version_sample("product_name_only"));
    EXPECT_EQ(strings.description, "Named Product");
    // Half a surrogate pair in the resource must not become invalid UTF-8.
    EXPECT_TRUE(is_valid_utf8(strings.publisher));
    EXPECT_TRUE(strings.publisher.starts_with("Half ")) << strings.publisher;
    EXPECT_TRUE(strings.publisher.ends_with(" pair")) << strings.publisher;
}

TEST(VersionStrings, AreEmptyWithoutAResourceOrAFile) {
    ASSERT_EQ(os::path_kind(version_sample("no_version")), os::PathKind::file);
    VersionStrings none = read_version_strings(version_sample("no_version"));
    EXPECT_EQ(none.publisher, "");
    EXPECT_EQ(none.description, "");
    VersionStrings missing = read_version_strings("C:\\no\\such\\program.exe");
    EXPECT_EQ(missing.publisher, "");
    EXPECT_EQ(read_version_strings("").description, "");
}

TEST(VersionStrings, ReadTheSystemsOwnPrograms) {
    EXPECT_EQ(read_version_strings("C:\\windows\\explorer.exe").publisher, "Microsoft Corporation");
}

TEST(ProgramFileOfCommand, FindsTheShortestLeadingWordsThatNameAFile) {
    test::ScratchFolder scratch;
    const std::string app_folder = scratch / "Program Files";
    ASSERT_TRUE(os::create_folders(os::join_path(app_folder, "App")).has_value());
    const std::string app = os::join_path(os::join_path(app_folder, "App"), "app.exe");
    write_empty_file(app);

    EXPECT_EQ(program_file_of_command(app + " --tray"), app);
    EXPECT_EQ(program_file_of_command("  " + app + "  "), app);
    // A folder named by the leading words is not the program.
    EXPECT_EQ(program_file_of_command(app_folder + " x"), scratch / "Program");
    // Nothing exists: the first word.
    EXPECT_EQ(program_file_of_command("C:\\No Such\\tool.exe /x"), "C:\\No");
    EXPECT_EQ(program_file_of_command("C:\\Windows\\System32\\rundll32.exe shell32.dll,Control_RunDLL"),
              "C:\\Windows\\System32\\rundll32.exe");
}

TEST(ProgramFileOfCommand, TakesQuotedProgramsAsWrittenWithoutProbing) {
    EXPECT_EQ(program_file_of_command("\"C:\\Program Files\\x y\\a.exe\" /arg"), "C:\\Program Files\\x y\\a.exe");
    EXPECT_EQ(program_file_of_command("\"C:\\unclosed path.exe /x"), "C:\\unclosed path.exe /x");
    EXPECT_EQ(program_file_of_command("%ProgramFiles%\\a.exe -x"), "%ProgramFiles%\\a.exe");
    EXPECT_EQ(program_file_of_command(""), "");
    EXPECT_EQ(program_file_of_command("   "), "");
}

TEST(ProgramFileOfCommand, ProbesAtMostThirtyTwoWords) {
    test::ScratchFolder scratch;
    // The scratch path has no spaces, so the file name's words are counted
    // from the first one: "w w ... w" has 32 words, "v v ... v" 33.
    std::string name_32 = "w";
    std::string name_33 = "v";
    for (int i = 1; i < 32; ++i) name_32 += " w";
    for (int i = 1; i < 33; ++i) name_33 += " v";
    ASSERT_EQ(scratch.path().find(' '), std::string::npos);
    const std::string within = scratch / name_32;
    const std::string beyond = scratch / name_33;
    write_empty_file(within);
    write_empty_file(beyond);

    EXPECT_EQ(program_file_of_command(within + " --flag"), within);
    EXPECT_EQ(program_file_of_command(beyond + " --flag"), scratch / "v");

    // Thousands of words end after the first 32 probes.
    std::string long_command = "C:\\a";
    for (int i = 0; i < 20000; ++i) long_command += " b";
    EXPECT_EQ(program_file_of_command(long_command), "C:\\a");
}

TEST(OperatingSystemPrograms, AreThoseInTheWindowsFolderOrItsSecurityParts) {
    const std::string windows = "c:\\windows";
    struct Case {
        const char* path;
        bool system;
    };
    const Case cases[] = {
        {"C:\\Windows\\System32\\svchost.exe", true},
        {"c:/windows/system32/SVCHOST.EXE", true},
        {"C:\\Windows\\System32\\rundll32.exe", false},
        {"C:\\Windows\\SysWOW64\\WindowsPowerShell\\v1.0\\powershell.exe", false},
        {"C:\\Windows\\System32\\CMD.EXE", false},
        {"C:\\Windows\\Installer\\{1234}\\tool.exe", false},
        {"D:\\Data\\windows\\installer\\x\\a.exe", false},
        {"C:\\Program Files\\Windows Defender\\MsMpEng.exe", true},
        {"C:\\ProgramData\\Microsoft\\Windows Security\\health.exe", true},
        {"D:\\Tools\\WindowsPowerShell\\Modules\\x.exe", true},
        {"C:\\WindowsApps\\app.exe", false},  // only the folder itself, followed by a backslash
        {"C:\\Windows", false},
        {"C:\\Program Files\\App\\app.exe", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(is_operating_system(c.path, windows), c.system) << c.path;
    EXPECT_TRUE(is_operating_system("D:\\WinNT\\system32\\x.exe", "d:\\winnt"));
    EXPECT_FALSE(is_operating_system("C:\\Windows\\system32\\x.exe", "d:\\winnt"));
}

TEST(OperatingSystemPrograms, TakeTheWindowsFolderFromSystemRoot) {
    const std::optional<std::string> saved = os::get_env("SystemRoot");
    test::set_env("SystemRoot", "D:/WinNT");
    EXPECT_EQ(lower_windows_folder(), "d:\\winnt");
    test::set_env("SystemRoot", "E:\\Win\\");
    EXPECT_EQ(lower_windows_folder(), "e:\\win");
    test::set_env("SystemRoot", std::nullopt);
    EXPECT_EQ(lower_windows_folder(), "c:\\windows");
    // Empty counts as missing; as a prefix it would claim every rooted path.
    test::set_env("SystemRoot", "");
    EXPECT_EQ(lower_windows_folder(), "c:\\windows");
    test::set_env("SystemRoot", saved);
}

TEST(ProgramFactsFill, SetsTheProgramItsOriginAndOnlyMissingTexts) {
    ProgramFacts facts;
    StartupItem service = item_with_command("C:\\Windows\\System32\\svchost.exe -k netsvcs");
    facts.fill(service);
    EXPECT_EQ(service.exe, "C:\\Windows\\System32\\svchost.exe");
    EXPECT_EQ(service.origin, "Operating system");

    StartupItem host = item_with_command("C:\\Windows\\System32\\rundll32.exe shell32.dll,Control_RunDLL");
    facts.fill(host);
    EXPECT_EQ(host.exe, "C:\\Windows\\System32\\rundll32.exe");
    EXPECT_EQ(host.origin, "Installed program");

    StartupItem installer = item_with_command("C:\\Windows\\Installer\\{0F1E}\\setup.exe /repair");
    facts.fill(installer);
    EXPECT_EQ(installer.origin, "Installed program");

    StartupItem sample = item_with_command("\"" + version_sample("several_translations") + "\" --tray");
    sample.publisher = "Kept publisher";
    facts.fill(sample);
    EXPECT_EQ(sample.exe, version_sample("several_translations"));
    EXPECT_EQ(sample.publisher, "Kept publisher");
    EXPECT_EQ(sample.description, "Zweite Beschreibung");
    EXPECT_EQ(sample.origin, "Installed program");

    test::ScratchFolder scratch;
    ASSERT_TRUE(os::create_folders(scratch / "Program Files\\App").has_value());
    const std::string app = scratch / "Program Files\\App\\app.exe";
    write_empty_file(app);
    StartupItem unquoted = item_with_command(app + " --tray");
    facts.fill(unquoted);
    EXPECT_EQ(unquoted.exe, app);
    EXPECT_EQ(unquoted.origin, "Installed program");
}

TEST(ProgramFactsFill, ReadsEachProgramOnceWhateverItsCase) {
    test::ScratchFolder scratch;
    const std::string copy = scratch / "Sample.exe";
    auto content = os::read_file(version_sample("only_040904e4"));
    ASSERT_TRUE(content.has_value()) << content.error();
    ASSERT_TRUE(os::write_file_replace(copy, *content).has_value());

    ProgramFacts facts;
    EXPECT_EQ(facts.version(copy).publisher, "Code Page Publisher");
    ASSERT_TRUE(os::remove_file(copy).has_value());
    EXPECT_EQ(read_version_strings(copy).publisher, "") << "the file is gone";
    EXPECT_EQ(facts.version(copy).publisher, "Code Page Publisher");
    EXPECT_EQ(facts.version(to_lower_ascii(copy)).description, "Only the 1252 block");
}

}  // namespace
}  // namespace qm::win
