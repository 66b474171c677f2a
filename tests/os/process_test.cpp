#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "os/files.h"
#include "os/process.h"
#include "os/run_tool.h"
#include "os/os_test_support.h"

namespace qm::os {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

ChildRequest tool(std::vector<std::string> arguments, std::chrono::milliseconds limit = 20s) {
    ChildRequest request;
    request.program = test::child_tool_path();
    request.arguments = std::move(arguments);
    request.time_limit = limit;
    return request;
}

double seconds_since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

TEST(ChildRunner, MissingProgramFailsAtOnceWithItsName) {
    test::ScratchFolder scratch;
    for (const std::string& program : {scratch / "no-such-program", std::string("quillmoor-no-such-tool-4711")}) {
        ChildRequest request;
        request.program = program;
        request.time_limit = 10s;
        auto start = Clock::now();
        ChildBytes result = run_child(request);
        EXPECT_LT(seconds_since(start), 2.0) << program;
        EXPECT_FALSE(result.started);
        EXPECT_FALSE(result.exit_code.has_value());
        EXPECT_FALSE(result.timed_out);
        EXPECT_TRUE(result.out.empty());
        EXPECT_TRUE(result.err.starts_with(program + ": ")) << result.err;
        EXPECT_NE(result.err.find("cannot find"), std::string::npos) << result.err;
    }
}

TEST(ChildRunner, PassesExitCodesAndOutputThrough) {
    for (std::uint32_t code : {0u, 1u, 7u, 200u}) {
        ChildBytes result = run_child(tool({"exit", std::to_string(code)}));
        EXPECT_TRUE(result.started);
        ASSERT_TRUE(result.exit_code.has_value()) << result.err;
        EXPECT_EQ(*result.exit_code, code);
        EXPECT_FALSE(result.timed_out);
    }
    ChildBytes said = run_child(tool({"stdout", "hello, world"}));
    EXPECT_EQ(said.out, "hello, world");
    EXPECT_EQ(said.err, "");
    EXPECT_EQ(said.exit_code.value_or(99), 0u);
}

TEST(ChildRunner, StopsAChildAtItsLimit) {
    auto start = Clock::now();
    ChildBytes result = run_child(tool({"sleep", "20000"}, 500ms));
    double elapsed = seconds_since(start);
    EXPECT_TRUE(result.started);
    EXPECT_TRUE(result.timed_out);
    EXPECT_FALSE(result.exit_code.has_value());
    EXPECT_GE(elapsed, 0.45);
    EXPECT_LT(elapsed, 3.0);
}

TEST(ChildRunner, DrainsALargeStandardErrorWhileStandardOutputStaysEmpty) {
    constexpr std::size_t size = 4'000'000;
    ChildBytes result = run_child(tool({"stderr", std::to_string(size)}, 30s));
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.exit_code.value_or(99), 0u);
    EXPECT_EQ(result.out.size(), 0u);
    EXPECT_EQ(result.err.size(), size);
    EXPECT_EQ(result.err.find_first_not_of('e'), std::string::npos);
}

TEST(ChildRunner, ExtraEnvironmentIsAddedOrReplacesAndOwnEnvironmentIsKept) {
    const std::string fresh = "QM_RUNNER_FRESH_" + test::random_hex(4);
    const std::string existing = "QM_RUNNER_EXISTING_" + test::random_hex(4);
    const std::string kept = "QM_RUNNER_KEPT_" + test::random_hex(4);
    test::set_env(fresh, std::nullopt);
    test::set_env(existing, "old value");
    test::set_env(kept, "kept value");

    auto env_of = [&](const std::string& name) {
        ChildRequest request = tool({"env", name});
        request.extra_environment = {{fresh, "wért 日本"}, {existing, "new value"}};
        return run_child(request);
    };
    EXPECT_EQ(env_of(fresh).out, "wért 日本");
    EXPECT_EQ(env_of(existing).out, "new value");
    EXPECT_EQ(env_of(kept).out, "kept value");
    // The child's copy was changed, never the program's own environment.
    EXPECT_EQ(get_env(existing).value_or(""), "old value");
    EXPECT_FALSE(get_env(fresh).has_value());

    ChildBytes unset = run_child(tool({"env", fresh}));
    EXPECT_EQ(unset.exit_code.value_or(99), 3u) << "without extras the variable is not set";

    test::set_env(existing, std::nullopt);
    test::set_env(kept, std::nullopt);
}

TEST(ChildRunner, ArgumentsArriveExactlyAsGiven) {
    const std::vector<std::string> arguments = {
        "plain",
        "with space",
        "",
        "tab\there",
        "quote\"inside",
        "\"",
        "\"whole quoted\"",
        "trailing backslash\\",
        "trailing\\\\",
        "C:\\Program Files\\App\\",
        "\\\\server\\share\\",
        "back\\\\\"quote",
        "back\\\"quote",
        "a\\b c\\d",
        "Bücher-日本",
        "-flag=value with \"both\" \\",
        "%PATH% ^ & | < > ( )",
    };
    std::vector<std::string> request_arguments = {"args"};
    request_arguments.insert(request_arguments.end(), arguments.begin(), arguments.end());
    ChildBytes result = run_child(tool(request_arguments));
    ASSERT_EQ(result.exit_code.value_or(99), 0u) << result.err;
    std::string expected;
    for (const std::string& argument : arguments) expected += argument + "\n";
    EXPECT_EQ(result.out, expected);
}

TEST(ChildRunner, ProgramPathWithSpacesAndNonAsciiRuns) {
    test::ScratchFolder scratch;
    const std::string folder = scratch / "tool folder Bücher";
    ASSERT_TRUE(create_folder(folder).has_value());
    std::string original = test::child_tool_path();
    std::string copy = os::join_path(folder, original.substr(original.find_last_of("/\\") + 1));
    std::error_code error;
    std::filesystem::copy_file(std::filesystem::path(reinterpret_cast<const char8_t*>(original.c_str())),
                               std::filesystem::path(reinterpret_cast<const char8_t*>(copy.c_str())), error);
    ASSERT_FALSE(error) << error.message();

    ChildRequest request;
    request.program = copy;
    request.arguments = {"args", "one two"};
    ChildBytes result = run_child(request);
    EXPECT_EQ(result.exit_code.value_or(99), 0u) << result.err;
    EXPECT_EQ(result.out, "one two\n");
}

TEST(ChildRunner, ConcurrentRunsDoNotHoldEachOthersOutput) {
    // While one child runs long, quick runs on other threads must end when
    // their own child ends: a pipe end leaked into the long child would keep
    // them waiting.
    std::thread sleeper([] { (void)run_child(tool({"sleep", "5000"}, 20s)); });
    std::atomic<int> slow_runs{0};
    std::atomic<int> wrong_output{0};
    std::vector<std::thread> quick;
    for (int t = 0; t < 3; ++t) {
        quick.emplace_back([&, t] {
            for (int i = 0; i < 4; ++i) {
                std::string text = "run " + std::to_string(t) + "." + std::to_string(i);
                auto start = Clock::now();
                ChildBytes result = run_child(tool({"stdout", text}, 20s));
                if (seconds_since(start) > 2.5) ++slow_runs;
                if (result.out != text || result.exit_code.value_or(99) != 0) ++wrong_output;
            }
        });
    }
    for (std::thread& thread : quick) thread.join();
    sleeper.join();
    EXPECT_EQ(slow_runs.load(), 0);
    EXPECT_EQ(wrong_output.load(), 0);
}

TEST(ChildRunner, AProgramLeftBehindCannotHoldTheRun) {
    // The child ends at once but leaves a program that keeps its output
    // pipes open for 8 seconds; the run ends soon after the child, long
    // before either the leftover or the limit.
    auto start = Clock::now();
    ChildBytes result = run_child(tool({"orphan", "8000"}, 20s));
    double elapsed = seconds_since(start);
    EXPECT_EQ(result.exit_code.value_or(99), 0u) << result.err;
    EXPECT_FALSE(result.timed_out);
    EXPECT_LT(elapsed, 4.0);
}

}  // namespace
}  // namespace qm::os

namespace qm {
namespace {

TEST(ToolOutputText, JoinsWhatWasPrintedAndCutsItForAMessage) {
    EXPECT_EQ(os::tool_output_text(os::RunOutput{"  done \r\n", "", 0, false}), "done");
    EXPECT_EQ(os::tool_output_text(os::RunOutput{"", "\n Access is denied. \n", 5, false}), "Access is denied.");
    EXPECT_EQ(os::tool_output_text(os::RunOutput{"out", "err", 1, false}), "out\nerr");
    // 150 + 1 + 150 characters: cut to 199 and the ellipsis, counted in
    // characters, not bytes.
    std::string accents;
    for (int i = 0; i < 150; ++i) accents += "é";
    const std::string cut = os::tool_output_text(os::RunOutput{std::string(150, 'a'), accents, 1, false});
    EXPECT_EQ(cut, std::string(150, 'a') + "\n" + accents.substr(0, 48 * 2) + "…");
}

}  // namespace
}  // namespace qm
