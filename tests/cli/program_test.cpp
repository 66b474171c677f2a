// Runs the real program and compares everything it prints and its exit code.
#include <gtest/gtest.h>

#include "cli/dispatch.h"
#include "os/files.h"
#include "support/run_program.h"

namespace qm::cli {
namespace {

using test::run_program;

TEST(Program, HelpWinsOverEveryCommandAndOption) {
    for (std::vector<std::string> arguments : {std::vector<std::string>{"help"},
                                               {"--help"},
                                               {"list", "--help"},
                                               {"-h"},
                                               {"disable", "X", "-h", "--yes"},
                                               {"nonsense", "--help"},
                                               {"version", "--help"}}) {
        test::ProgramRun run = run_program(arguments);
        EXPECT_EQ(run.exit_code, 0) << arguments[0];
        EXPECT_EQ(run.out, help_text()) << arguments[0];
        EXPECT_EQ(run.err, "");
    }
}

TEST(Program, VersionIsDecidedBeforeTheCommandWord) {
    for (std::vector<std::string> arguments :
         {std::vector<std::string>{"version"}, {"--version"}, {"Nonsense", "--version"}}) {
        test::ProgramRun run = run_program(arguments);
        EXPECT_EQ(run.exit_code, 0);
        EXPECT_EQ(run.out, version_text());
        EXPECT_NE(run.out.find("1.0.0"), std::string::npos);
    }
}

TEST(Program, UnknownCommandIsAUsageError) {
    test::ProgramRun run = run_program({"Serve", "--demo"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "Unknown command \"Serve\". Try: quillmoor help\n");
}

TEST(Program, MissingOperandsGiveTheirUsageLines) {
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"assess"}, "Which item? quillmoor assess NAME\n"},
        {{"disable", "--yes"}, "Which item? quillmoor disable NAME\n"},
        {{"enable"}, "Which item? quillmoor enable NAME\n"},
        {{"add", "--name", "x"}, "Which program? quillmoor add NAME-or-PATH\n"},
        {{"remove"}, "Which entry? quillmoor remove NAME\n"},
        {{"restore", "--apply"}, "Which backup? quillmoor restore FILE-or-NAME\n"},
        {{"undo"}, "Which change? quillmoor undo SEQ   (see: quillmoor history)\n"},
        {{"knowledge"}, "Try: quillmoor knowledge status | update | import FILE | rollback | export\n"},
        {{"knowledge", "Status"}, "Try: quillmoor knowledge status | update | import FILE | rollback | export\n"},
        {{"knowledge", "import"}, "Which file? quillmoor knowledge import FILE\n"},
        {{"delay", "--minutes", "2"}, "Which item? quillmoor delay NAME --minutes N\n"},
        {{"delay", "X", "--minutes", "2", "--seconds", "5"}, "Give --minutes or --seconds, not both.\n"},
        {{"delay", "X", "--minutes", "0"}, "The minutes must be a whole number from 1 to 1440, not \"0\".\n"},
        {{"delay", "X", "--seconds", "86401"}, "The seconds must be a whole number from 1 to 86400, not \"86401\".\n"},
        {{"stagger", "A"}, "Which programs? quillmoor stagger NAME NAME... [--step S]\n"},
        {{"stagger", "A", "B", "--step", "-5"},
         "The step must be a whole number of seconds from 1 to 3600, not \"-5\".\n"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> with_demo = c.arguments;
        with_demo.push_back("--demo");
        for (const auto& arguments : {c.arguments, with_demo}) {
            test::ProgramRun run = run_program(arguments);
            EXPECT_EQ(run.exit_code, 2) << c.message;
            EXPECT_EQ(run.out, "");
            EXPECT_EQ(run.err, c.message);
        }
    }
}

#if !defined(_WIN32) && !defined(__linux__)
// Windows and Linux computers are read for real (tested with their platforms).
TEST(Program, OtherSystemsPointToTheDemonstration) {
    test::ProgramRun run = run_program({"list"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err,
              "Quillmoor reads and changes only Windows computers; on this system, add --demo to "
              "see the invented demonstration computer.\n");
}
#endif

}  // namespace
}  // namespace qm::cli
