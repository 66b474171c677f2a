#include <string>

#include <gtest/gtest.h>

#include "os/os_test_support.h"
#include "os/console.h"
#include "os/files.h"
#include "platforms/windows/program_files.h"
#include "util/text.h"

namespace qm::windows {
namespace {

// The programs built from tests/platforms/windows/version_samples.
std::string version_sample(std::string_view name) {
    const std::string self = os::own_program_path();
    return self.substr(0, self.find_last_of("/\\")) + "\\version_samples\\" + std::string(name) + ".exe";
}

model::StartupItem item_with_command(std::string command) {
    model::StartupItem item(model::ItemKind::run, "Registry (Run, this user)", model::Scope::user, "HKCU\\Run\\64",
                            "Sample");
    item.command = std::move(command);
    return item;
}

TEST(VersionStrings, ComeFromTheListedTranslationsThenTheUsualBlocks) {
    struct Case {
        std::string path, publisher, description;
    };
    const Case cases[] = {
        // No translation list: found among the fallback blocks.
        {version_sample("only_040904e4"), "Code Page Publisher", "Only the 1252 block"},
        // The first listed block gives the company but no description, so the
        // second listed block gives that, before any fallback block and before
        // the first block's product name.
        {version_sample("several_translations"), "Soci\xc3\xa9t\xc3\xa9 Premi\xc3\xa8re", "Zweite Beschreibung"},
        {version_sample("no_version"), "", ""},
        {"C:\\no\\such\\program.exe", "", ""},
    };
    for (const Case& c : cases) {
        const VersionStrings strings = read_version_strings(c.path);
        EXPECT_EQ(strings.publisher, c.publisher) << c.path;
        EXPECT_EQ(strings.description, c.description) << c.path;
    }
    EXPECT_EQ(read_version_strings("C:\\windows\\explorer.exe").publisher, "Microsoft Corporation");
    // An empty description falls back to the product name; half a surrogate
    // pair in the resource does not become invalid UTF-8.
    const VersionStrings product = read_version_strings(version_sample("product_name_only"));
    EXPECT_EQ(product.description, "Named Product");
    EXPECT_EQ(product.publisher, "Half \xef\xbf\xbd pair");
}

TEST(ProgramFileOfCommand, IsTheQuotedPartOrTheFewestLeadingWordsNamingAFile) {
    test::ScratchFolder scratch;
    ASSERT_EQ(scratch.path().find(' '), std::string::npos);
    ASSERT_TRUE(os::create_folders(scratch / "Program Files\\App").has_value());
    const std::string app = scratch / "Program Files\\App\\app.exe";
    // 32 words are probed, 33 are not.
    std::string words_32 = "w";
    std::string words_33 = "v";
    for (int i = 1; i < 32; ++i) words_32 += " w";
    for (int i = 1; i < 33; ++i) words_33 += " v";
    for (const std::string& file : {app, scratch / words_32, scratch / words_33}) {
        ASSERT_TRUE(os::write_file_replace(file, "").has_value()) << file;
    }

    EXPECT_EQ(program_file_of_command(app + " --tray"), app);
    EXPECT_EQ(program_file_of_command("  " + app + "  "), app);
    EXPECT_EQ(program_file_of_command(scratch / "Program Files x"), scratch / "Program") << "a folder is no program";
    EXPECT_EQ(program_file_of_command("C:\\No Such\\tool.exe /x"), "C:\\No");
    EXPECT_EQ(program_file_of_command("C:\\Windows\\System32\\rundll32.exe shell32.dll,Control_RunDLL"),
              "C:\\Windows\\System32\\rundll32.exe");
    EXPECT_EQ(program_file_of_command(scratch / (words_32 + " --flag")), scratch / words_32);
    EXPECT_EQ(program_file_of_command(scratch / (words_33 + " --flag")), scratch / "v");
    // Quoted programs are taken as written, environment references unexpanded.
    EXPECT_EQ(program_file_of_command("\"C:\\Program Files\\x y\\a.exe\" /arg"), "C:\\Program Files\\x y\\a.exe");
    EXPECT_EQ(program_file_of_command("\"C:\\unclosed path.exe /x"), "C:\\unclosed path.exe /x");
    EXPECT_EQ(program_file_of_command("%ProgramFiles%\\a.exe -x"), "%ProgramFiles%\\a.exe");
    EXPECT_EQ(program_file_of_command("   "), "");
}

TEST(ProgramFileOfCommand, UnquotedWithASpaceIsResolvedAsWindowsDoesAndWarned) {
    test::ScratchFolder scratch;
    ASSERT_TRUE(os::create_folders(scratch / "Program Files\\App").has_value());
    const std::string app = scratch / "Program Files\\App\\app.exe";
    const std::string shadow = scratch / "Program.exe";
    ASSERT_TRUE(os::write_file_replace(app, "").has_value());
    const std::string mild = "The path is not in quotes, so Windows looks for " + shadow +
                             " first; a program placed there would run instead.";

    EXPECT_EQ(command_program(app + " --tray").unquoted_warning, mild);
    EXPECT_EQ(command_program(app).unquoted_warning, mild);
    EXPECT_EQ(command_program("\"" + app + "\" --tray").unquoted_warning, "");
    ASSERT_TRUE(os::write_file_replace(shadow, "").has_value());
    const CommandProgram shadowed = command_program(app + " --tray");
    EXPECT_EQ(shadowed.program, shadow);
    EXPECT_EQ(shadowed.unquoted_warning, "The path is not in quotes: " + shadow + " would run first.");
    // The meant file need not exist: the next word carries on a path.
    EXPECT_EQ(command_program(scratch / "Program Files\\Gone\\x.exe").unquoted_warning,
              "The path is not in quotes: " + shadow + " would run first.");
    // Arguments after a program without spaces are no warning.
    EXPECT_EQ(command_program(shadow + " --tray " + app).unquoted_warning, "");
    EXPECT_EQ(command_program(shadow + " /x y").unquoted_warning, "");
}

TEST(OperatingSystemPrograms, AreThoseInTheWindowsFolderOrItsSecurityParts) {
    const std::pair<const char*, bool> cases[] = {
        {"C:\\Windows\\System32\\svchost.exe", true},
        {"c:/windows/system32/SVCHOST.EXE", true},
        {"C:\\Windows\\System32\\rundll32.exe", false},
        {"C:\\Windows\\SysWOW64\\WindowsPowerShell\\v1.0\\powershell.exe", false},
        {"C:\\Windows\\Installer\\{1234}\\tool.exe", false},
        {"C:\\Program Files\\Windows Defender\\MsMpEng.exe", true},
        {"C:\\ProgramData\\Microsoft\\Windows Security\\health.exe", true},
        {"C:\\Program Files\\WindowsPowerShell\\Modules\\x.exe", true},
        {"D:\\Tools\\WindowsPowerShell\\Modules\\x.exe", false},  // where anybody may make it
        {"C:\\Users\\ada\\AppData\\Local\\Temp\\Windows Defender\\MsMpEng.exe", false},
        {"C:\\ProgramData\\Tools\\Windows Defender\\MsMpEng.exe", false},
        {"C:\\WindowsApps\\app.exe", false},
        {"C:\\Program Files\\App\\app.exe", false},
    };
    for (const auto& [path, system] : cases) EXPECT_EQ(is_operating_system(path, "c:\\windows"), system) << path;
    EXPECT_TRUE(is_operating_system("D:\\WinNT\\system32\\x.exe", "d:\\winnt"));

    const std::optional<std::string> saved = os::get_env("SystemRoot");
    test::set_env("SystemRoot", "D:/WinNT\\");
    EXPECT_EQ(lower_windows_folder(), "d:\\winnt");
    test::set_env("SystemRoot", std::nullopt);
    EXPECT_EQ(lower_windows_folder(), "c:\\windows");
    test::set_env("SystemRoot", "");  // as a prefix it would claim every rooted path
    EXPECT_EQ(lower_windows_folder(), "c:\\windows");
    test::set_env("SystemRoot", saved);
}

TEST(ProgramFacts, FillTheProgramItsOriginAndOnlyMissingTexts) {
    ProgramFacts facts;
    model::StartupItem service = item_with_command("C:\\Windows\\System32\\svchost.exe -k netsvcs");
    facts.fill(service);
    EXPECT_EQ(service.exe, "C:\\Windows\\System32\\svchost.exe");
    EXPECT_EQ(service.origin, model::Origin::operating_system);
    model::StartupItem installer = item_with_command("C:\\Windows\\Installer\\{0F1E}\\setup.exe /repair");
    facts.fill(installer);
    EXPECT_EQ(installer.origin, model::Origin::installed_program);

    model::StartupItem sample = item_with_command("\"" + version_sample("several_translations") + "\" --tray");
    sample.publisher = "Kept publisher";
    facts.fill(sample);
    EXPECT_EQ(sample.exe, version_sample("several_translations"));
    EXPECT_EQ(sample.publisher, "Kept publisher");
    EXPECT_EQ(sample.description, "Zweite Beschreibung");
    EXPECT_EQ(sample.origin, model::Origin::installed_program);
}

TEST(ProgramFacts, ReadEachProgramOnceWhateverItsCase) {
    test::ScratchFolder scratch;
    const std::string copy = scratch / "Sample.exe";
    auto content = os::read_file(version_sample("only_040904e4"));
    ASSERT_TRUE(content.has_value() && os::write_file_replace(copy, *content).has_value());

    ProgramFacts facts;
    EXPECT_EQ(facts.version(copy).publisher, "Code Page Publisher");
    ASSERT_TRUE(os::remove_file(copy).has_value());
    EXPECT_EQ(read_version_strings(copy).publisher, "") << "the file is gone";
    EXPECT_EQ(facts.version(to_lower_ascii(copy)).publisher, "Code Page Publisher");
}

}  // namespace
}  // namespace qm::windows
