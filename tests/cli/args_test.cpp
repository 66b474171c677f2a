#include <gtest/gtest.h>

#include "cli/args.h"
#include "support/run_program.h"

namespace qm::cli {
namespace {

TEST(SplitArguments, PositionalsFlagsAndValueOptions) {
    ParsedArgs parsed = split_arguments({"list", "--filter", "spot", "--on", "extra", "--json"});
    EXPECT_EQ(parsed.positionals, (std::vector<std::string>{"list", "extra"}));
    EXPECT_EQ(parsed.option_value("--filter"), "spot");
    EXPECT_TRUE(parsed.has_flag("--on"));
    EXPECT_TRUE(parsed.has_flag("--json"));
    EXPECT_FALSE(parsed.has_flag("--off"));
    EXPECT_EQ(parsed.option_value("--level"), "");
}

TEST(SplitArguments, ValueOptionTakesNextArgumentWhateverItLooksLike) {
    ParsedArgs parsed = split_arguments({"backup", "--label", "--yes"});
    EXPECT_EQ(parsed.option_value("--label"), "--yes");
    EXPECT_FALSE(parsed.has_flag("--yes"));
    EXPECT_EQ(parsed.positionals.size(), 1u);
}

TEST(SplitArguments, ValueOptionLastHasEmptyValueAndFirstValueWins) {
    ParsedArgs last = split_arguments({"list", "--filter"});
    EXPECT_TRUE(last.has_flag("--filter"));
    EXPECT_EQ(last.option_value("--filter"), "");

    ParsedArgs twice = split_arguments({"serve", "--port", "1", "--port", "2"});
    EXPECT_EQ(twice.option_value("--port"), "1");
}

TEST(SplitArguments, EqualsFormIsAnUnknownFlagAndSingleDashIsPositional) {
    ParsedArgs parsed = split_arguments({"--port=8080", "-h", "--"});
    EXPECT_TRUE(parsed.has_flag("--port=8080"));
    EXPECT_EQ(parsed.option_value("--port"), "");
    EXPECT_EQ(parsed.positionals, (std::vector<std::string>{"-h"}));
    EXPECT_TRUE(parsed.has_flag("--"));
}

TEST(ParsePort, AcceptsDecimalSixteenBitValuesOnly) {
    EXPECT_EQ(parse_port("8080"), 8080);
    EXPECT_EQ(parse_port("+8080"), 8080);
    EXPECT_EQ(parse_port("65535"), 65535);
    EXPECT_EQ(parse_port("00080"), 80);
    for (const char* bad : {"", "+", "65536", "70000", "abc", "80a", "-1", " 80", "0x50", "99999999999999999999999"}) {
        EXPECT_EQ(parse_port(bad), 0) << bad;
        EXPECT_FALSE(is_port_number(bad)) << bad;
    }
    for (const char* good : {"0", "000", "+8080", "00080", "65535"}) EXPECT_TRUE(is_port_number(good)) << good;
}

TEST(ParsePort, AServeWithAPortOutOfRangeIsAUsageError) {
    for (const char* bad : {"99999", "-1", "eighty"}) {
        const test::ProgramRun run = test::run_program({"serve", "--demo", "--no-browser", "--port", bad});
        EXPECT_EQ(run.exit_code, 2) << bad;
        EXPECT_NE(run.err.find("The port must be a number from 0 to 65535"), std::string::npos) << run.err;
    }
}

}  // namespace
}  // namespace qm::cli
