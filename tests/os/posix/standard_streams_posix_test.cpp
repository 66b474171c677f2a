// The program's standard streams as a user meets them: output that cannot be
// written is a failure, and text bound for a terminal cannot steer it.
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include <gtest/gtest.h>

#include "json/json.h"
#include "knowledge/builtin_pack.h"
#include "os/os_test_support.h"

namespace qm {
namespace {

struct TerminalRun {
    std::string screen;  // everything the program wrote to the terminal
    int exit_code = -1;
};

// Runs the program with standard output and error on a pseudo-terminal in raw
// mode, so the bytes read back are exactly the bytes it wrote.
TerminalRun run_on_terminal(std::vector<std::string> arguments) {
    TerminalRun run;
    int controller = -1;
    int terminal = -1;
    if (::openpty(&controller, &terminal, nullptr, nullptr, nullptr) != 0) return run;
    termios mode{};
    ::tcgetattr(terminal, &mode);
    ::cfmakeraw(&mode);
    ::tcsetattr(terminal, TCSANOW, &mode);

    arguments.insert(arguments.begin(), QM_PROGRAM_PATH);
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(controller);
        ::dup2(terminal, STDOUT_FILENO);
        ::dup2(terminal, STDERR_FILENO);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(terminal);
    char buffer[4096];
    for (;;) {
        ssize_t n = ::read(controller, buffer, sizeof buffer);
        if (n > 0) {
            run.screen.append(buffer, static_cast<std::size_t>(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            break;  // EIO once the program has closed its side
        }
    }
    ::close(controller);
    int status = 0;
    if (::waitpid(child, &status, 0) == child && WIFEXITED(status)) run.exit_code = WEXITSTATUS(status);
    return run;
}

int run_to_full_device(const std::string& arguments, const std::string& error_file) {
    const std::string command =
        std::string("'") + QM_PROGRAM_PATH + "' " + arguments + " >/dev/full 2>'" + error_file + "'";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(StandardStreams, OutputThatCannotBeWrittenIsAFailureWithASentence) {
    test::ScratchFolder scratch;
    const std::string errors = os::join_path(scratch.path(), "errors.txt");
    for (const std::string arguments : {"--demo list --json", "--demo knowledge export", "--demo list", "version"}) {
        EXPECT_EQ(run_to_full_device(arguments, errors), 1) << arguments;
        EXPECT_EQ(os::read_file(errors).value_or(""),
                  "Quillmoor could not write to standard output: No space left on device.\n")
            << arguments;
    }
}

TEST(StandardStreams, NamesFromABackupCannotSteerTheTerminal) {
    test::ScratchFolder scratch;
    const std::string backup = os::join_path(scratch.path(), "hostile.json");
    // Items that are not on this computer become notes that print their names.
    ASSERT_TRUE(os::write_file_replace(backup,
                                       R"({"format":"quillmoor-backup","host":"elsewhere","items":[)"
                                       R"({"id":"run|user|x|a","name":"Clear\u001b[2J\u001b[31mRed","enabled":true},)"
                                       R"({"id":"run|user|x|b","name":"Fake\nrow\rover\u009b2Jit","enabled":true}]})")
                    .has_value());
    TerminalRun run = run_on_terminal({"--demo", "restore", backup});
    EXPECT_EQ(run.exit_code, 0) << run.screen;
    EXPECT_EQ(run.screen.find('\x1b'), std::string::npos) << run.screen;
    EXPECT_EQ(run.screen.find('\r'), std::string::npos) << run.screen;
    EXPECT_EQ(run.screen.find("\xC2\x9B"), std::string::npos) << run.screen;
    EXPECT_NE(run.screen.find("Clear\xEF\xBF\xBD[2J\xEF\xBF\xBD[31mRed"), std::string::npos) << run.screen;
    EXPECT_NE(run.screen.find("Fake\xEF\xBF\xBDrow\xEF\xBF\xBDover"), std::string::npos) << run.screen;
}

TEST(StandardStreams, MachineReadableOutputReachesATerminalUnchanged) {
    TerminalRun exported = run_on_terminal({"--demo", "knowledge", "export"});
    EXPECT_EQ(exported.exit_code, 0);
    EXPECT_EQ(exported.screen, knowledge::builtin_pack_text());
    TerminalRun listed = run_on_terminal({"--demo", "list", "--json"});
    Result<json::JsonValue> parsed = json::parse(listed.screen);
    ASSERT_TRUE(parsed.has_value()) << listed.screen;
    EXPECT_EQ(parsed->as_array().size(), 26u);
}

}  // namespace
}  // namespace qm
