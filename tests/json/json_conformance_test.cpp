// Runs the JSON conformance files of tests/data: y_ must parse, n_ must fail unless
// listed below, i_ may go either way but must not crash.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "json/json.h"

namespace qm::json {
namespace {

// Files of the "must fail" group that our reader accepts on purpose.
const std::map<std::string, std::string, std::less<>> accepted_on_purpose = {
    {"n_number_+1.json", "a leading plus sign is accepted"},
    {"n_number_-01.json", "leading zeros are accepted"},
    {"n_number_with_leading_zero.json", "leading zeros are accepted"},
    {"n_number_neg_int_starting_with_zero.json", "leading zeros are accepted"},
    {"n_number_-2..json", "a point without fraction digits is accepted"},
    {"n_number_real_without_fractional_part.json", "a point without fraction digits is accepted"},
    {"n_number_0.e1.json", "a point without fraction digits may precede the exponent"},
    {"n_number_2.e3.json", "a point without fraction digits may precede the exponent"},
    {"n_number_2.e+3.json", "a point without fraction digits may precede the exponent"},
    {"n_number_2.e-3.json", "a point without fraction digits may precede the exponent"},
    {"n_number_starting_with_dot.json", "a number may start with its point"},
    {"n_number_.2e-3.json", "a number may start with its point"},
    {"n_number_neg_real_without_int_part.json", "a number may start with its point"},
    {"n_string_unescaped_ctrl_char.json", "raw control characters are kept in strings"},
    {"n_string_unescaped_newline.json", "raw control characters are kept in strings"},
    {"n_string_unescaped_tab.json", "raw control characters are kept in strings"},
};

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(JsonConformance, SharedSuite) {
    const std::filesystem::path folder = QM_TEST_DATA_DIR "/conformance/json-test-suite";
    std::map<char, int> counts;
    std::size_t accepted_n_files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (name.size() < 3 || name[1] != '_' || entry.path().extension() != ".json") continue;
        const auto result = parse(read_file(entry.path()));
        ++counts[name[0]];
        switch (name[0]) {
            case 'y':
                EXPECT_TRUE(result.has_value()) << name << ": " << result.error();
                break;
            case 'n':
                if (accepted_on_purpose.contains(name)) {
                    ++accepted_n_files;
                    EXPECT_TRUE(result.has_value()) << name << ": " << accepted_on_purpose.at(name);
                } else {
                    EXPECT_FALSE(result.has_value()) << name << " parsed";
                }
                break;
            default:
                break;
        }
        // Whatever is accepted is written and read back unchanged.
        if (result) {
            EXPECT_EQ(parse(write(*result)).value_or(JsonValue("(failed)")), *result) << name;
        }
    }
    EXPECT_GT(counts['y'], 90);
    EXPECT_GT(counts['n'], 180);
    EXPECT_GT(counts['i'], 30);
    EXPECT_EQ(accepted_n_files, accepted_on_purpose.size());
}

}  // namespace
}  // namespace qm::json
