#include <windows.h>
#include <shellapi.h>

#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "os/os_test_support.h"
#include "os/console.h"
#include "os/files.h"
#include "os/system_tool.h"
#include "platforms/windows/elevation.h"
#include "platforms/windows/powershell.h"
#include "platforms/windows/system_facts.h"
#include "os/windows/wide.h"
#include "util/text.h"

namespace qm::windows {
namespace {

TEST(OsVersionText, NamesWindows11ByItsBuildNumberAndTrimsOnlyTheEnds) {
    EXPECT_EQ(os_version_text("Windows 10 Pro", "23H2", "22631"), "Windows 11 Pro 23H2 (build 22631)");
    EXPECT_EQ(os_version_text("Windows 10 Pro", "22H2", "19045"), "Windows 10 Pro 22H2 (build 19045)");
    EXPECT_EQ(os_version_text("Windows 10 Pro", "", "22000"), "Windows 11 Pro  (build 22000)");
    EXPECT_EQ(os_version_text("Windows 10 Pro", "", "21999"), "Windows 10 Pro  (build 21999)");
    EXPECT_EQ(os_version_text("Windows 10 Pro", "", "22631a"), "Windows 10 Pro  (build 22631a)");
    EXPECT_EQ(os_version_text("Windows 10 Pro", "", "123456789012345678901234"),
              "Windows 11 Pro  (build 123456789012345678901234)");
    EXPECT_EQ(os_version_text("Windows 10 on Windows 10", "X", "26100"), "Windows 11 on Windows 11 X (build 26100)");
    EXPECT_EQ(os_version_text("", "", ""), "(build )");
}

TEST(ReadOsVersion, ReadsTheTextValuesOfTheKeyUpToTheirFirstNul) {
    const std::wstring path = L"Software\\QuillmoorTest-" + os::windows::to_wide(test::random_hex(8));
    auto set = [&](const wchar_t* name, DWORD type, const void* data, std::size_t bytes) {
        ASSERT_EQ(::RegSetKeyValueW(HKEY_CURRENT_USER, path.c_str(), name, type, data, static_cast<DWORD>(bytes)),
                  ERROR_SUCCESS);
    };
    const std::string key = os::windows::to_utf8(path);
    set(L"ProductName", REG_SZ, L"Windows 10 Pro", 30);
    set(L"DisplayVersion", REG_EXPAND_SZ, L"23H2", 10);
    set(L"CurrentBuild", REG_SZ, L"22631", 12);
    EXPECT_EQ(read_os_version(HKEY_CURRENT_USER, key), "Windows 11 Pro 23H2 (build 22631)");

    // Text after an inner NUL, no ending NUL, an odd length, a number.
    set(L"ProductName", REG_SZ, L"Windows 10 Pro\0junk", 38);
    set(L"DisplayVersion", REG_SZ, L"23H2", 9);
    const DWORD build = 22631;
    set(L"CurrentBuild", REG_DWORD, &build, sizeof build);
    EXPECT_EQ(read_os_version(HKEY_CURRENT_USER, key), "Windows 10 Pro 23H2 (build )");

    set(L"CurrentBuild", REG_SZ, L"19045", 12);
    ::RegDeleteKeyValueW(HKEY_CURRENT_USER, path.c_str(), L"DisplayVersion");
    EXPECT_EQ(read_os_version(HKEY_CURRENT_USER, key), "Windows 10 Pro  (build 19045)");

    ASSERT_EQ(::RegDeleteTreeW(HKEY_CURRENT_USER, path.c_str()), ERROR_SUCCESS);
    ::RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
    EXPECT_EQ(read_os_version(HKEY_CURRENT_USER, key), "") << "the key is gone";
}

// The stand-in powershell.exe (tests/tools/powershell.cpp) beside the test
// program: it writes what it was given to a log and prints the answer asked.
class StandIn {
public:
    explicit StandIn(std::optional<std::string> answer = std::nullopt) {
        test::set_env("QUILLMOOR_STANDIN_LOG", log_);
        test::set_env("QUILLMOOR_STANDIN_OUTPUT", std::move(answer));
    }
    ~StandIn() {
        test::set_env("QUILLMOOR_STANDIN_LOG", std::nullopt);
        test::set_env("QUILLMOOR_STANDIN_OUTPUT", std::nullopt);
    }
    StandIn(const StandIn&) = delete;
    StandIn& operator=(const StandIn&) = delete;

    [[nodiscard]] std::string log() const { return os::read_file(log_).value_or("(the stand-in did not run)"); }
    [[nodiscard]] std::string script() const {
        const std::string text = log();
        const std::size_t at = text.find("\nscript\n");
        return at == std::string::npos ? std::string() : text.substr(at + 8);
    }
    // The value of a QM_* variable the script was given, up to its line end.
    [[nodiscard]] std::string variable(const std::string& name) const {
        const std::string text = log();
        const std::size_t at = text.find("variable " + name + "=");
        EXPECT_NE(at, std::string::npos) << name << " did not reach the script";
        if (at == std::string::npos) return {};
        const std::size_t begin = at + 10 + name.size();
        return text.substr(begin, text.find('\n', begin) - begin);
    }

private:
    test::ScratchFolder scratch_;
    std::string log_ = scratch_ / "standin.log";
};

constexpr std::string_view script_prefix =
    "[Console]::OutputEncoding = New-Object System.Text.UTF8Encoding $false\n"
    "$ProgressPreference='SilentlyContinue'\n";

TEST(PowerShellRunner, PassesTheScriptEncodedAndValuesOnlyAsVariables) {
    StandIn stand_in("hello\n");
    // Non-ASCII text and a character outside the basic plane survive the encoding.
    const PowerShellRun run{"Write-Output \"gr\xc3\xbc\xc3\x9f \xf0\x9f\x98\x80 $env:QM_NAME\"",
                            {{"QM_NAME", "a value with spaces"}, {"QM_EMPTY", ""}},
                            30};
    const os::RunOutput output = run_powershell(run);
    ASSERT_TRUE(output.succeeded()) << output.err;
    EXPECT_EQ(output.out, "hello\n");
    EXPECT_TRUE(
        stand_in.log().starts_with("argument -NoProfile\nargument -NonInteractive\n"
                                   "argument -ExecutionPolicy\nargument Bypass\nargument -EncodedCommand\n"))
        << stand_in.log();
    EXPECT_EQ(stand_in.script(), std::string(script_prefix) + run.script);
    EXPECT_EQ(stand_in.variable("QM_NAME"), "a value with spaces");
    EXPECT_EQ(stand_in.variable("QM_EMPTY"), "");

    os::ToolRun seen;
    (void)run_powershell(run, [&](const os::ToolRun& given) {
        seen = given;
        return os::RunOutput{};
    });
    EXPECT_EQ(seen.program, os::system_tool("WindowsPowerShell\\v1.0\\powershell.exe"));
    EXPECT_EQ(seen.time_limit_seconds, 30u);
}

// The joined arguments split again as a started program's runtime splits them.
std::vector<std::string> split_again(const std::string& joined) {
    int count = 0;
    LPWSTR* list = ::CommandLineToArgvW(os::windows::to_wide("program.exe " + joined).c_str(), &count);
    std::vector<std::string> result;
    for (int i = 1; list != nullptr && i < count; ++i) result.push_back(os::windows::to_utf8(list[i]));
    if (list != nullptr) ::LocalFree(list);
    return result;
}

TEST(RestartElevated, PassesTheProgramAndEachArgumentWholeOnlyAsVariables) {
    EXPECT_EQ(join_windows_arguments({}), "");
    EXPECT_EQ(join_windows_arguments({"assess", "two words"}), "assess \"two words\"");
    const std::vector<std::string> hard = {"", "C:\\Path With Space\\", "say \"hi\"", "tab\there", "\xc3\xa9t\xc3\xa9"};
    EXPECT_EQ(split_again(join_windows_arguments(hard)), hard);

    StandIn stand_in;
    const std::vector<std::string> arguments = {"set", "My App Updater", "--off"};
    auto started = restart_elevated(arguments);
    ASSERT_TRUE(started.has_value()) << started.error();
    const std::string exe = stand_in.variable("QM_EXE");
    EXPECT_TRUE(equal_ignoring_ascii_case(exe, os::own_program_path())) << exe;
    EXPECT_EQ(split_again(stand_in.variable("QM_ARGS")), arguments);
    EXPECT_EQ(stand_in.script(),
              std::string(script_prefix) +
                  "try { Start-Process -FilePath $env:QM_EXE -ArgumentList $env:QM_ARGS -Verb RunAs -ErrorAction "
                  "Stop; 'started' } catch { 'refused' }");

    // Start-Process refuses an empty -ArgumentList, so none is given.
    ASSERT_TRUE(restart_elevated({}).has_value());
    EXPECT_EQ(stand_in.script().find("-ArgumentList"), std::string::npos) << stand_in.script();
}

std::string failure_of(const Result<void>& result) {
    return result ? std::string("(succeeded)") : result.error().message;
}

TEST(RestartElevated, SucceedsOnlyWhenTheScriptSaysStarted) {
    const std::string declined =
        "Windows did not start the administrator copy (the prompt was declined or is unavailable).";
    {
        StandIn stand_in(" started \r\n");
        EXPECT_TRUE(restart_elevated({"serve"}).has_value());
    }
    for (const char* answer : {"refused\r\n", "", "started twice\n"}) {
        StandIn stand_in(std::string{answer});
        EXPECT_EQ(failure_of(restart_elevated({"serve"})), declined) << answer;
    }
    const os::ToolRunner never_started = [](const os::ToolRun&) {
        return os::RunOutput{"", "cannot find the program", {}, false};
    };
    EXPECT_EQ(failure_of(restart_elevated({"serve"}, never_started)), declined);
}

TEST(OpenInBrowser, WritesARandomShortcutFileHoldingOnlyTheLink) {
    test::ScratchFolder scratch;
    const std::string link = "http://127.0.0.1:41234/#k=abc";
    auto first = write_browser_link_file(scratch.path(), link);
    auto second = write_browser_link_file(scratch.path(), link);
    ASSERT_TRUE(first.has_value() && second.has_value());
    EXPECT_NE(*first, *second);
    EXPECT_TRUE(std::regex_match(std::string(file_name(*first)), std::regex("quillmoor-open-[0-9a-f]{16}\\.url")));
    EXPECT_EQ(os::read_file(*first).value_or(""), "[InternetShortcut]\r\nURL=" + link + "\r\n");
    // A line break would add lines of the link's own choosing to the file.
    EXPECT_FALSE(write_browser_link_file(scratch.path(), "http://x/\r\nIconFile=C:\\evil.ico").has_value());
    EXPECT_EQ(os::list_folder(scratch.path()).value_or(std::vector<os::FolderEntry>{}).size(), 2u);
}

TEST(OpenInBrowser, FallsBackToTheUrlHandlerWhenNoProgramIsRegistered) {
    // A scheme nothing is registered for, so the shell opens no window.
    const std::string link = "quillmoor-test-no-handler-" + test::random_hex(4) + ":page";
    std::vector<os::ToolRun> runs;
    const os::ToolRunner runner = [&](const os::ToolRun& run) {
        runs.push_back(run);
        return os::RunOutput{"", "", 0, false};
    };
    open_in_browser(link, false, runner);
    open_in_browser("", true, runner);  // an empty link opens nothing
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_TRUE(equal_ignoring_ascii_case(file_name(runs[0].program), "rundll32.exe")) << runs[0].program;
    EXPECT_EQ(runs[0].arguments, (std::vector<std::string>{"url.dll,FileProtocolHandler", link}));
    EXPECT_EQ(runs[0].time_limit_seconds, 10u);
}

}  // namespace
}  // namespace qm::windows
