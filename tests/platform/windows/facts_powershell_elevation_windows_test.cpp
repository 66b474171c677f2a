#include <windows.h>
#include <shellapi.h>

#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../platform_test_support.h"
#include "platform/console.h"
#include "platform/files.h"
#include "platform/windows/elevation.h"
#include "platform/windows/powershell.h"
#include "platform/windows/system_facts.h"
#include "platform/windows/wide.h"
#include "util/text.h"

namespace qm::win {
namespace {

// ---- system facts ---------------------------------------------------------

TEST(OsVersionText, NamesWindows11ByItsBuildNumber) {
    EXPECT_EQ(os_version_text("Windows 10 Pro", "23H2", "22631"), "Windows 11 Pro 23H2 (build 22631)");
    EXPECT_EQ(os_version_text("Windows 10 Pro", "22H2", "19045"), "Windows 10 Pro 22H2 (build 19045)");
    EXPECT_EQ(os_version_text("Windows 10 Home", "21H2", "22000"), "Windows 11 Home 21H2 (build 22000)");
    EXPECT_EQ(os_version_text("Windows 10 Home", "21H2", "21999"), "Windows 10 Home 21H2 (build 21999)");
    // Only a number counts, however long; every occurrence is renamed.
    EXPECT_EQ(os_version_text("Windows 10 Pro", "", "22631a"), "Windows 10 Pro  (build 22631a)");
    EXPECT_EQ(os_version_text("Windows 10 Pro", "", "123456789012345678901234"),
              "Windows 11 Pro  (build 123456789012345678901234)");
    EXPECT_EQ(os_version_text("Windows 10 on Windows 10", "X", "26100"), "Windows 11 on Windows 11 X (build 26100)");
    EXPECT_EQ(os_version_text("Windows Server 2022", "", "020348"), "Windows Server 2022  (build 020348)");
}

TEST(OsVersionText, TrimsOnlyTheEnds) {
    EXPECT_EQ(os_version_text("Windows 10 Pro", "", "19045"), "Windows 10 Pro  (build 19045)");
    EXPECT_EQ(os_version_text("", "", ""), "(build )");
    EXPECT_EQ(os_version_text("", "23H2", "22631"), "23H2 (build 22631)");
}

// A key under HKCU\Software for one test, deleted with its values afterwards.
class ScratchKey {
public:
    ScratchKey() : path_("Software\\QuillmoorTest-" + test::random_hex(8)) {
        EXPECT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, os::win::to_wide(path_).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, &key_, nullptr),
                  ERROR_SUCCESS);
    }
    ~ScratchKey() {
        ::RegCloseKey(key_);
        ::RegDeleteTreeW(HKEY_CURRENT_USER, os::win::to_wide(path_).c_str());
    }
    ScratchKey(const ScratchKey&) = delete;
    ScratchKey& operator=(const ScratchKey&) = delete;

    void set(const wchar_t* name, DWORD type, const void* data, std::size_t bytes) {
        ASSERT_EQ(::RegSetValueExW(key_, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(bytes)),
                  ERROR_SUCCESS);
    }
    void set_text(const wchar_t* name, std::wstring_view text, DWORD type = REG_SZ) {
        std::wstring with_end(text);
        set(name, type, with_end.c_str(), (with_end.size() + 1) * sizeof(wchar_t));
    }
    [[nodiscard]] const std::string& path() const { return path_; }

private:
    std::string path_;
    HKEY key_ = nullptr;
};

TEST(ReadOsVersion, ReadsTheThreeTextValuesOfTheKey) {
    ScratchKey key;
    key.set_text(L"ProductName", L"Windows 10 Pro");
    key.set_text(L"DisplayVersion", L"23H2", REG_EXPAND_SZ);
    key.set_text(L"CurrentBuild", L"22631");
    EXPECT_EQ(read_os_version(HKEY_CURRENT_USER, key.path()), "Windows 11 Pro 23H2 (build 22631)");

    key.set_text(L"CurrentBuild", L"19045");
    EXPECT_EQ(read_os_version(HKEY_CURRENT_USER, key.path()), "Windows 10 Pro 23H2 (build 19045)");

    ASSERT_EQ(::RegDeleteKeyValueW(HKEY_CURRENT_USER, os::win::to_wide(key.path()).c_str(), L"DisplayVersion"),
              ERROR_SUCCESS);
    EXPECT_EQ(read_os_version(HKEY_CURRENT_USER, key.path()), "Windows 10 Pro  (build 19045)");
}

TEST(ReadOsVersion, ReadsTextUpToItsFirstNulAndNothingElseAsText) {
    ScratchKey key;
    // Stored without an ending NUL, with text after an inner NUL, and with an
    // odd number of bytes.
    const wchar_t product[] = L"Windows 10 Pro\0junk";
    key.set(L"ProductName", REG_SZ, product, sizeof product - sizeof(wchar_t));
    const wchar_t display[] = L"23H2";
    key.set(L"DisplayVersion", REG_SZ, display, 4 * sizeof(wchar_t) + 1);
    const DWORD build = 22631;
    key.set(L"CurrentBuild", REG_DWORD, &build, sizeof build);
    EXPECT_EQ(read_os_version(HKEY_CURRENT_USER, key.path()), "Windows 10 Pro 23H2 (build )");

    // Longer than any first guess at the size.
    const std::wstring long_name(5000, L'x');
    key.set_text(L"ProductName", long_name);
    key.set_text(L"CurrentBuild", L"1");
    EXPECT_EQ(read_os_version(HKEY_CURRENT_USER, key.path()), std::string(5000, 'x') + " 23H2 (build 1)");
}

TEST(ReadOsVersion, IsEmptyWhenTheKeyCannotBeOpened) {
    EXPECT_EQ(read_os_version(HKEY_CURRENT_USER, "Software\\QuillmoorTest-missing-" + test::random_hex(8)), "");
}

TEST(SystemFacts, ComeFromTheRegistryTheEnvironmentAndTheToken) {
    const SystemFacts facts = read_system_facts();
    EXPECT_EQ(facts.os, "windows");
    EXPECT_FALSE(facts.demo);
    EXPECT_EQ(facts.host, os::get_env("COMPUTERNAME").value_or(""));
    EXPECT_EQ(facts.user, os::get_env("USERNAME").value_or(""));
    EXPECT_EQ(facts.home, os::get_env("USERPROFILE").value_or(""));
    EXPECT_NE(facts.os_version.find("(build "), std::string::npos) << facts.os_version;
    if (test::running_under_wine()) {
        EXPECT_TRUE(facts.admin);
    }
}

// ---- the PowerShell runner, through the stand-in powershell.exe -----------

constexpr std::string_view script_prefix =
    "[Console]::OutputEncoding = New-Object System.Text.UTF8Encoding $false\n"
    "$ProgressPreference='SilentlyContinue'\n";

// What the stand-in recorded about one run (tests/tools/powershell.cpp).
struct StandInRecord {
    std::vector<std::string> arguments;
    std::vector<std::string> variables;  // "NAME=value"
    std::string script;
};

// Points the stand-in at a log file and an answer for as long as it lives.
class StandIn {
public:
    explicit StandIn(std::optional<std::string> output = std::nullopt) : log_(scratch_ / "standin.log") {
        test::set_env("QUILLMOOR_STANDIN_LOG", log_);
        test::set_env("QUILLMOOR_STANDIN_OUTPUT", std::move(output));
    }
    ~StandIn() {
        test::set_env("QUILLMOOR_STANDIN_LOG", std::nullopt);
        test::set_env("QUILLMOOR_STANDIN_OUTPUT", std::nullopt);
    }
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;

    [[nodiscard]] StandInRecord record() const {
        StandInRecord record;
        auto text = os::read_file(log_);
        EXPECT_TRUE(text.has_value()) << "the stand-in did not run";
        if (!text) return record;
        std::string_view rest = *text;
        while (!rest.empty()) {
            const std::size_t end = rest.find('\n');
            const std::string_view line = rest.substr(0, end);
            if (line == "script") {
                record.script = std::string(end == std::string_view::npos ? "" : rest.substr(end + 1));
                break;
            }
            if (line.starts_with("argument ")) record.arguments.emplace_back(line.substr(9));
            if (line.starts_with("variable ")) record.variables.emplace_back(line.substr(9));
            rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        }
        return record;
    }

    [[nodiscard]] static std::string variable(const StandInRecord& record, std::string_view name) {
        for (const std::string& entry : record.variables) {
            if (entry.starts_with(std::string(name) + "=")) return entry.substr(name.size() + 1);
        }
        ADD_FAILURE() << name << " did not reach the script";
        return {};
    }

private:
    test::ScratchFolder scratch_;
    std::string log_;
};

TEST(PowerShellRunner, PassesTheScriptEncodedAndValuesOnlyAsVariables) {
    StandIn stand_in("hello\n");
    PowerShellRun run;
    // Non-ASCII text, one character outside the basic plane and a quote.
    run.script = "Write-Output \"gr\xc3\xbc\xc3\x9f \xf0\x9f\x98\x80 $env:QM_NAME\"";
    run.environment = {{"QM_NAME", "a value with spaces"}, {"QM_EMPTY", ""}};
    run.time_limit_seconds = 30;
    const RunOutput output = run_powershell(run);
    ASSERT_TRUE(output.succeeded()) << output.err;
    EXPECT_EQ(output.out, "hello\n");

    const StandInRecord record = stand_in.record();
    ASSERT_EQ(record.arguments.size(), 6u);
    EXPECT_EQ(record.arguments[0], "-NoProfile");
    EXPECT_EQ(record.arguments[1], "-NonInteractive");
    EXPECT_EQ(record.arguments[2], "-ExecutionPolicy");
    EXPECT_EQ(record.arguments[3], "Bypass");
    EXPECT_EQ(record.arguments[4], "-EncodedCommand");
    EXPECT_EQ(record.script, std::string(script_prefix) + run.script);
    EXPECT_EQ(StandIn::variable(record, "QM_NAME"), "a value with spaces");
    EXPECT_EQ(StandIn::variable(record, "QM_EMPTY"), "");
}

TEST(PowerShellRunner, GivesTheRunnerTheProgramLimitAndVariables) {
    ToolRun seen;
    const ToolRunner runner = [&](const ToolRun& run) {
        seen = run;
        return RunOutput{"out", "", 0, false};
    };
    PowerShellRun run{"exit 0", {{"QM_A", "1"}}, 7};
    EXPECT_EQ(run_powershell(run, runner).out, "out");
    EXPECT_EQ(seen.program, "powershell.exe");
    EXPECT_EQ(seen.arguments, powershell_arguments("exit 0"));
    EXPECT_EQ(seen.extra_environment, run.environment);
    EXPECT_EQ(seen.time_limit_seconds, 7u);
}

// ---- elevation ------------------------------------------------------------

constexpr std::string_view declined =
    "Windows did not start the administrator copy (the prompt was declined or is unavailable).";

// The joined arguments split again as a started program's runtime splits them.
std::vector<std::string> split_again(const std::string& joined) {
    int count = 0;
    LPWSTR* list = ::CommandLineToArgvW(os::win::to_wide("program.exe " + joined).c_str(), &count);
    std::vector<std::string> result;
    for (int i = 1; list != nullptr && i < count; ++i) result.push_back(os::win::to_utf8(list[i]));
    if (list != nullptr) ::LocalFree(list);
    return result;
}

TEST(JoinWindowsArguments, QuotesSoThatEachArgumentArrivesWhole) {
    EXPECT_EQ(join_windows_arguments({}), "");
    EXPECT_EQ(join_windows_arguments({"serve"}), "serve");
    EXPECT_EQ(join_windows_arguments({"assess", "two words"}), "assess \"two words\"");
    const std::vector<std::string> hard = {"", "C:\\Path With Space\\", "say \"hi\"", "tab\there", "\xc3\xa9t\xc3\xa9"};
    EXPECT_EQ(split_again(join_windows_arguments(hard)), hard);
}

TEST(RestartElevated, PassesTheProgramAndItsArgumentsOnlyAsVariables) {
    StandIn stand_in;
    const std::vector<std::string> arguments = {"set", "My App Updater", "--off"};
    auto started = restart_elevated(arguments);
    ASSERT_TRUE(started.has_value()) << started.error();

    const StandInRecord record = stand_in.record();
    const std::string exe = StandIn::variable(record, "QM_EXE");
    EXPECT_TRUE(equal_ignoring_ascii_case(exe, os::own_program_path())) << exe;
    EXPECT_EQ(split_again(StandIn::variable(record, "QM_ARGS")), arguments);
    EXPECT_EQ(record.script,
              std::string(script_prefix) +
                  "try { Start-Process -FilePath $env:QM_EXE -ArgumentList $env:QM_ARGS -Verb RunAs -ErrorAction "
                  "Stop; 'started' } catch { 'refused' }");
    EXPECT_EQ(record.script.find("My App"), std::string::npos);
    EXPECT_EQ(record.script.find(std::string(file_name(exe))), std::string::npos);
}

TEST(RestartElevated, WithoutArgumentsLeavesTheArgumentListOut) {
    StandIn stand_in;
    ASSERT_TRUE(restart_elevated({}).has_value());
    const StandInRecord record = stand_in.record();
    EXPECT_EQ(record.script.find("-ArgumentList"), std::string::npos) << record.script;
    EXPECT_NE(record.script.find("Start-Process -FilePath $env:QM_EXE -Verb RunAs"), std::string::npos);
}

TEST(RestartElevated, SucceedsOnlyWhenTheScriptSaysStarted) {
    {
        StandIn stand_in(" started \r\n");
        EXPECT_TRUE(restart_elevated({"serve"}).has_value());
    }
    for (const char* answer : {"refused\r\n", "", "started twice\n", "Started"}) {
        StandIn stand_in(std::string{answer});
        auto result = restart_elevated({"serve"});
        ASSERT_FALSE(result.has_value()) << answer;
        EXPECT_EQ(result.error(), declined);
    }
    const ToolRunner never_started = [](const ToolRun&) { return RunOutput{"", "cannot find the program", {}, false}; };
    auto result = restart_elevated({"serve"}, never_started);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), declined);
}

// ---- opening a link -------------------------------------------------------

TEST(BrowserLinkFile, IsARandomlyNamedShortcutHoldingOnlyTheLink) {
    test::ScratchFolder scratch;
    auto first = write_browser_link_file(scratch.path(), "http://127.0.0.1:41234/#k=abc");
    ASSERT_TRUE(first.has_value()) << first.error();
    EXPECT_TRUE(std::regex_match(std::string(file_name(*first)), std::regex("quillmoor-open-[0-9a-f]{16}\\.url")))
        << *first;
    EXPECT_EQ(os::read_file(*first).value_or(""), "[InternetShortcut]\r\nURL=http://127.0.0.1:41234/#k=abc\r\n");
    auto second = write_browser_link_file(scratch.path(), "http://127.0.0.1:41234/#k=abc");
    ASSERT_TRUE(second.has_value());
    EXPECT_NE(*first, *second);

    // A line break would add lines of the link's own choosing to the file.
    auto injected = write_browser_link_file(scratch.path(), "http://x/\r\nIconFile=C:\\evil.ico");
    EXPECT_FALSE(injected.has_value());
    EXPECT_EQ(os::list_folder(scratch.path()).value_or(std::vector<os::FolderEntry>{}).size(), 2u);
}

TEST(OpenInBrowser, FallsBackToTheUrlHandlerWhenNoProgramIsRegistered) {
    // A scheme nothing is registered for, so the shell opens no window.
    const std::string link = "quillmoor-test-no-handler-" + test::random_hex(4) + ":page";
    std::vector<ToolRun> runs;
    const ToolRunner runner = [&](const ToolRun& run) {
        runs.push_back(run);
        return RunOutput{"", "", 0, false};
    };
    open_in_browser(link, false, runner);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(equal_ignoring_ascii_case(file_name(runs[0].program), "rundll32.exe")) << runs[0].program;
    EXPECT_EQ(runs[0].arguments, (std::vector<std::string>{"url.dll,FileProtocolHandler", link}));
    EXPECT_EQ(runs[0].time_limit_seconds, 10u);

    runs.clear();
    open_in_browser("", false, runner);
    open_in_browser("", true, runner);
    EXPECT_TRUE(runs.empty()) << "an empty link opens nothing";
}

}  // namespace
}  // namespace qm::win
