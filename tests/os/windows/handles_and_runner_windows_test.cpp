#include <windows.h>

#include <algorithm>
#include <cctype>

#include <gtest/gtest.h>

#include "os/os_test_support.h"
#include "os/process.h"
#include "os/windows/child_command.h"
#include "os/windows/handle.h"
#include "os/windows/wide.h"

namespace qm::os {
namespace {

bool is_open(HANDLE handle) {
    DWORD flags = 0;
    return ::GetHandleInformation(handle, &flags) != 0;
}

TEST(WindowsHandles, MovingInClosesTheOldHandleFirstAndNeverTwice) {
    windows::Handle first(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    windows::Handle second(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ASSERT_TRUE(first.valid());
    ASSERT_TRUE(second.valid());
    HANDLE first_raw = first.get();
    HANDLE second_raw = second.get();

    first = std::move(second);
    EXPECT_FALSE(is_open(first_raw)) << "the replaced handle must be closed";
    EXPECT_EQ(first.get(), second_raw);
    EXPECT_FALSE(second.valid());
    EXPECT_TRUE(is_open(second_raw));

    HANDLE released = first.release();
    EXPECT_FALSE(first.valid());
    EXPECT_TRUE(is_open(released));
    first.reset(released);
    first.reset();
    EXPECT_FALSE(is_open(released));
}

TEST(WindowsHandles, InvalidValuesAreNotHandles) {
    windows::Handle failed_create(INVALID_HANDLE_VALUE);
    EXPECT_FALSE(failed_create.valid());
    windows::Handle failed_open(nullptr);
    EXPECT_FALSE(failed_open.valid());
    windows::FindHandle no_search;
    EXPECT_EQ(no_search.get(), INVALID_HANDLE_VALUE);
    EXPECT_FALSE(no_search.valid());
    windows::RegistryKey no_key;
    EXPECT_FALSE(no_key.valid());
    windows::ServiceHandle no_service;
    EXPECT_FALSE(no_service.valid());
}

TEST(ChildCommand, QuotesEachArgumentByTheStandardRules) {
    struct Case {
        std::wstring argument;
        std::wstring quoted;
    };
    const std::vector<Case> cases = {
        {L"plain", L"plain"},
        {L"", L"\"\""},
        {L"with space", L"\"with space\""},
        {L"a\\b", L"a\\b"},                  // backslashes alone stay as they are
        {L"a\"b", L"\"a\\\"b\""},            // a quote is escaped
        {L"a\\\"b", L"\"a\\\\\\\"b\""},      // its backslashes are doubled
        {L"end\\ x\\", L"\"end\\ x\\\\\""},  // so are those before the closing quote
        {L"C:\\Program Files\\", L"\"C:\\Program Files\\\\\""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(windows::command_line(L"tool.exe", {c.argument}), L"tool.exe " + c.quoted)
            << windows::to_utf8(c.argument);
    }
    EXPECT_EQ(windows::command_line(L"C:\\Program Files\\x.exe", {}), L"\"C:\\Program Files\\x.exe\"");
}

TEST(ChildCommand, EnvironmentBlockReplacesWithoutRegardToCaseAndIsSorted) {
    std::wstring block = windows::environment_block({L"Path=C:\\bin", L"=C:=C:\\work", L"qm_value=old", L"Beta=2"},
                                                    {{L"QM_VALUE", L"new"}, {L"alpha", L""}});
    std::wstring expected = std::wstring(L"=C:=C:\\work") + L'\0' + L"alpha=" + L'\0' + L"Beta=2" + L'\0' +
                            L"Path=C:\\bin" + L'\0' + L"QM_VALUE=new" + L'\0' + L'\0';
    EXPECT_EQ(block, expected);
    EXPECT_EQ(windows::environment_block({}, {}), std::wstring(2, L'\0'));
}

TEST(ChildRunnerWindows, ExtraVariablesReplaceOwnOnesWithoutRegardToCase) {
    const std::string name = "Qm_Case_Test_" + test::random_hex(3);
    std::string upper = name;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    test::set_env(name, "old");

    ChildRequest request;
    request.program = test::child_tool_path();
    request.arguments = {"environ"};
    request.extra_environment = {{upper, "new"}};
    ChildBytes result = run_child(request);
    test::set_env(name, std::nullopt);
    // One line that names the failure, so that a log cut down to its failures still shows why.
    ASSERT_EQ(result.exit_code.value_or(99), 0u)
        << "the child run failed: started " << result.started << ", timed out " << result.timed_out
        << ", standard error \"" << result.err << "\", " << result.out.size() << " bytes of output";

    std::vector<std::string> matching;
    std::size_t start = 0;
    while (start < result.out.size()) {
        std::size_t end = result.out.find('\n', start);
        std::string entry = result.out.substr(start, end - start);
        start = end + 1;
        std::wstring entry_name = windows::to_wide(entry.substr(0, entry.find('=', 1)));
        if (::CompareStringOrdinal(entry_name.c_str(), -1, windows::to_wide(name).c_str(), -1, TRUE) == CSTR_EQUAL) {
            matching.push_back(entry);
        }
    }
    ASSERT_EQ(matching.size(), 1u) << result.out;
    EXPECT_EQ(matching[0], upper + "=new");
}

TEST(ChildRunnerWindows, BareSystemToolNamesAreFound) {
    ChildRequest request;
    request.program = "cmd.exe";
    request.arguments = {"/c", "exit 5"};
    ChildBytes result = run_child(request);
    EXPECT_TRUE(result.started) << result.err;
    EXPECT_EQ(result.exit_code.value_or(99), 5u) << result.err;
}

}  // namespace
}  // namespace qm::os
