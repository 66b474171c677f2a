// Runs the real program on the demonstration and compares everything it
// prints with the expected files in tests/cli/expected (NAME.out for standard
// output, NAME.err for standard error; a missing file means "prints nothing").
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "json/json.h"
#include "knowledge/builtin_pack.h"
#include "support/run_program.h"
#include "util/text.h"

namespace qm::cli {
namespace {

std::string expected(const std::string& file) {
    std::ifstream in(std::string(QM_SOURCE_DIR) + "/tests/cli/expected/" + file, std::ios::binary);
    std::stringstream content;
    content << in.rdbuf();
    return content.str();
}

struct Case {
    std::string name;
    std::vector<std::string> arguments;
    int exit_code;
};

TEST(ListingCommands, PrintExactlyWhatIsExpected) {
    const std::vector<Case> cases = {
        {"list", {"--demo", "list"}, 0},
        {"list_json", {"--demo", "list", "--json"}, 0},
        {"list_on_off", {"--demo", "list", "--on", "--off"}, 0},
        {"list_filter", {"--demo", "list", "--filter", "spot"}, 0},
        {"list_level", {"--demo", "list", "--level", "caution"}, 0},
        {"list_by_impact", {"--demo", "list", "--by-impact"}, 0},
        {"running", {"--demo", "running"}, 0},
        {"running_all", {"--demo", "running", "--all"}, 0},
        {"apps_json", {"--demo", "apps", "--json"}, 0},
        {"assess_id", {"--demo", "assess", "service|machine|Services|AcmeDevDb"}, 0},
        {"assess_short", {"--demo", "assess", "wuauserv"}, 0},
        {"assess_two", {"--demo", "assess", "Acme Dev"}, 1},
        {"assess_none", {"--demo", "assess", "no such thing"}, 1},
        {"doctor", {"--demo", "doctor"}, 0},
        {"knowledge_status", {"--demo", "knowledge", "status"}, 0},
    };
    for (const Case& c : cases) {
        test::ProgramRun run = test::run_program(c.arguments);
        EXPECT_EQ(run.exit_code, c.exit_code) << c.name;
        EXPECT_EQ(run.out, expected(c.name + ".out")) << c.name;
        EXPECT_EQ(run.err, expected(c.name + ".err")) << c.name;
    }
}

TEST(ListingCommands, JsonListingsParseAndHoldEveryItem) {
    test::ProgramRun list = test::run_program({"--demo", "list", "--json"});
    Result<json::JsonValue> items = json::parse(list.out);
    ASSERT_TRUE(items.has_value()) << items.error();
    ASSERT_EQ(items->as_array().size(), 26u);
    for (const json::JsonValue& item : items->as_array()) {
        EXPECT_FALSE(json::get_text(item, "id").empty());
        EXPECT_NE(json::get(*json::get(item, "risk"), "needs_ack"), nullptr);
    }
    test::ProgramRun marked = test::run_program({"--demo", "list", "--json"}, {{"QUILLMOOR_TEST_XSS", "1"}});
    EXPECT_EQ(json::parse(marked.out)->as_array().size(), 27u);

    test::ProgramRun apps = test::run_program({"--demo", "apps", "--json", "--all"});
    Result<json::JsonValue> envelope = json::parse(apps.out);
    ASSERT_TRUE(envelope.has_value());
    EXPECT_EQ(json::get(*envelope, "items")->as_array().size(), 4u);
    EXPECT_TRUE(json::get(*envelope, "notes")->is_array());
}

TEST(ListingCommands, ExportIsTheBuiltInPackByteForByte) {
    test::ProgramRun run = test::run_program({"--demo", "knowledge", "export"});
    EXPECT_EQ(run.exit_code, 0);
    EXPECT_EQ(run.out, knowledge::builtin_pack_text());
}

TEST(ListingCommands, HostileNamesGiveTheNothingMatchesMessage) {
    for (const std::string& name : {std::string(""), std::string(5000, 'z'), std::string("<b onclick=x>\x01\x1b[2J")}) {
        test::ProgramRun run = test::run_program({"--demo", "assess", name});
        EXPECT_EQ(run.exit_code, 1);
        EXPECT_EQ(run.out, "");
        // Piped output too holds no control character of the name's.
        EXPECT_EQ(run.err, "nothing matches \"" + replace_control_characters(name, false) + "\"\n");
    }
}

}  // namespace
}  // namespace qm::cli
