#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "os/os_test_support.h"
#include "os/console.h"
#include "formats/version_resource.h"
#include "os/files.h"
#include "os/windows/handle.h"
#include "os/windows/wide.h"
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

// A folder found missing answers for every file in it for the life of the
// object, so the programs of an uninstalled product are not probed one by
// one; a path that Windows resolves first ("..") is still probed as it is,
// and the next object sees the folder once it is there.
TEST(ProgramFacts, AFolderFoundMissingAnswersForItsFilesUntilTheNextScan) {
    test::ScratchFolder scratch;
    const std::string folder = scratch / "Vendor App";
    ASSERT_EQ(folder.find(' '), folder.size() - 4) << "the scratch folder's path holds no space";
    const auto program_of = [](ProgramFacts& facts, const std::string& path) {
        return facts.command(path + " --tray").program;
    };
    ProgramFacts facts;
    EXPECT_EQ(program_of(facts, os::join_path(folder, "a.exe")), scratch / "Vendor");
    ASSERT_TRUE(os::create_folders(folder).has_value());
    const std::string b = os::join_path(folder, "b.exe");
    ASSERT_TRUE(os::write_file_replace(b, "MZ").has_value());
    EXPECT_EQ(program_of(facts, b), scratch / "Vendor");
    const std::string resolved = os::join_path(folder, "..\\Vendor App\\b.exe");
    EXPECT_EQ(program_of(facts, resolved), resolved);
    ProgramFacts next;
    EXPECT_EQ(program_of(next, b), b);
}

// The publisher and description as the system's own lookup finds them, the
// way the program read them before it parsed the block itself.
VersionStrings system_version_strings(const std::string& path) {
    const std::wstring wide = os::windows::to_wide(path);
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(wide.c_str(), &ignored);
    std::vector<unsigned char> resource(size);
    if (size == 0 || !::GetFileVersionInfoW(wide.c_str(), 0, size, resource.data())) return {};
    std::vector<std::wstring> blocks;
    void* value = nullptr;
    UINT length = 0;
    if (::VerQueryValueW(resource.data(), L"\\VarFileInfo\\Translation", &value, &length) && value != nullptr) {
        const auto* pairs = static_cast<const WORD*>(value);
        for (UINT i = 0; i + 1 < length / 2; i += 2) {
            wchar_t block[9];
            std::swprintf(block, 9, L"%04x%04x", pairs[i], pairs[i + 1]);
            blocks.emplace_back(block);
        }
    }
    for (const wchar_t* fallback : {L"040904b0", L"040904e4", L"000004b0"}) blocks.emplace_back(fallback);
    const auto first = [&](const wchar_t* name) {
        for (const std::wstring& block : blocks) {
            const std::wstring query = L"\\StringFileInfo\\" + block + L"\\" + name;
            if (!::VerQueryValueW(resource.data(), query.c_str(), &value, &length) || value == nullptr) continue;
            std::wstring text(static_cast<const wchar_t*>(value), length);
            text.resize(std::wcslen(text.c_str()));
            if (!text.empty()) return os::windows::to_utf8(text);
        }
        return std::string();
    };
    VersionStrings strings{first(L"CompanyName"), first(L"FileDescription")};
    if (strings.description.empty()) strings.description = first(L"ProductName");
    return strings;
}

TEST(VersionStrings, AreThoseTheSystemFindsForEveryProgramOfTheSystemFolder) {
    const std::string system32 = os::join_path(os::get_env("SystemRoot").value_or("C:\\windows"), "system32");
    auto entries = os::list_folder(system32);
    ASSERT_TRUE(entries.has_value());
    std::vector<std::string> programs;
    for (const os::FolderEntry& entry : *entries) {
        const std::string lower = to_lower_ascii(entry.name);
        if (!entry.is_folder && (lower.ends_with(".exe") || lower.ends_with(".dll"))) programs.push_back(entry.name);
    }
    std::sort(programs.begin(), programs.end());
    std::size_t with_publisher = 0;
    std::size_t from_the_file = 0;  // blocks found through the file's own headers
    for (const std::string& name : programs) {
        const std::string path = os::join_path(system32, name);
        const VersionStrings expected = system_version_strings(path);
        const VersionStrings read = read_version_strings(path);
        EXPECT_EQ(read.publisher, expected.publisher) << path;
        EXPECT_EQ(read.description, expected.description) << path;
        if (!expected.publisher.empty()) ++with_publisher;
        const std::string bytes = os::read_file(path).value_or("");
        std::size_t reads = 0;
        const formats::ProgramVersionBlock found =
            formats::read_program_version_block([&](std::uint64_t offset, std::size_t size) {
                ++reads;
                return offset < bytes.size() ? bytes.substr(offset, size) : std::string();
            });
        // A program of 64 KiB or less is read at once, a larger one in a
        // few pieces rather than one read for each header and directory.
        EXPECT_LE(reads, bytes.size() <= 0x10000 ? 1u : 5u) << path;
        if (found.found == formats::ProgramVersionBlock::Found::block) ++from_the_file;
        if (found.found == formats::ProgramVersionBlock::Found::none) {
            EXPECT_EQ(expected.publisher, "") << path;
        }
    }
    EXPECT_GT(with_publisher, 50u) << "of " << programs.size() << " programs";
    EXPECT_GE(from_the_file, with_publisher) << "of " << programs.size() << " programs";
}

// A later scan takes a file's strings from the data folder's record only
// while its size and last-write time are those recorded; a damaged record is
// read again from the files and rebuilt, and a folder that cannot be written
// costs only the record.
TEST(ProgramFacts, KeepVersionStringsInTheDataFolderOnlyForUnchangedFiles) {
    test::ScratchFolder scratch;
    const std::string program = scratch / "Program.exe";
    const std::string data = scratch / "data";
    const std::string record = os::join_path(data, VersionCache::file_name);
    auto content = os::read_file(version_sample("only_040904e4"));
    ASSERT_TRUE(content.has_value() && os::write_file_replace(program, *content).has_value());
    const auto publisher_now = [&](const std::string& folder) {
        ProgramFacts facts(folder);
        std::string publisher = facts.version(program).publisher;
        facts.save_cache();
        return publisher;
    };
    EXPECT_EQ(publisher_now(data), "Code Page Publisher");
    auto text = os::read_file(record);
    ASSERT_TRUE(text.has_value() && text->find("Code Page Publisher") != std::string::npos);
    const std::string planted = text->replace(text->find("Code Page"), 9, "Planted");
    ASSERT_TRUE(os::write_file_replace(record, planted).has_value());
    EXPECT_EQ(publisher_now(data), "Planted Publisher") << "the unchanged file is not opened";

    {
        const os::windows::Handle file(::CreateFileW(os::windows::to_wide(program).c_str(), FILE_WRITE_ATTRIBUTES, 0,
                                                     nullptr, OPEN_EXISTING, 0, nullptr));
        FILETIME time{0x12345678, 0x01D00000};
        ASSERT_TRUE(::SetFileTime(file.get(), nullptr, nullptr, &time));
    }
    EXPECT_EQ(publisher_now(data), "Code Page Publisher") << "a file written since is read again";
    ASSERT_TRUE(os::write_file_replace(record, "{\"format\":1,\"files\":[[").has_value());
    EXPECT_EQ(publisher_now(data), "Code Page Publisher") << "damaged record";
    EXPECT_NE(os::read_file(record).value_or("").find("Code Page Publisher"), std::string::npos) << "rebuilt";
    const std::string not_a_folder = scratch / "file";
    ASSERT_TRUE(os::write_file_replace(not_a_folder, "x").has_value());
    EXPECT_EQ(publisher_now(not_a_folder), "Code Page Publisher") << "unwritable";

    // The record keeps the entries looked up last, and no more than its limit.
    VersionCache many(data);
    for (std::size_t i = 0; i <= VersionCache::entry_limit; ++i) many.store("c:\\p" + std::to_string(i), {i, i}, {});
    many.save();
    VersionCache reread(data);
    EXPECT_EQ(reread.find("c:\\p0", {0, 0}), nullptr) << "the oldest is dropped";
    EXPECT_NE(reread.find("c:\\p1", {1, 1}), nullptr);
    EXPECT_EQ(reread.find("c:\\p1", {1, 2}), nullptr) << "another stamp";
}

}  // namespace
}  // namespace qm::windows
