// Damaged input: every cut and random mutations of valid documents must give
// a value or one of the reader's messages, never a crash or a hang.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "json/json.h"

namespace qm::json {
namespace {

bool is_known_message(const std::string& message) {
    const std::string_view exact[] = {"nested too deeply",        "unexpected end", "bad escape",
                                      "short \\u escape",         "bad \\u escape", "unterminated string",
                                      "string is not valid UTF-8"};
    for (std::string_view known : exact) {
        if (message == known) return true;
    }
    const std::string_view with_offset[] = {"unexpected data at byte ", "expected , or ] at byte ",
                                            "expected a key at byte ",  "expected : at byte ",
                                            "expected , or } at byte ", "bad literal at byte ",
                                            "bad number at byte "};
    for (std::string_view prefix : with_offset) {
        if (message.starts_with(prefix) && message.size() > prefix.size() &&
            message.find_first_not_of("0123456789", prefix.size()) == std::string::npos) {
            return true;
        }
    }
    return false;
}

std::vector<std::string> sample_documents() {
    JsonValue item = ObjectBuilder()
                         .string("id", "run|user|HKCU\\Software\\Run|Updater \"beta\"")
                         .string("publisher", "M\xC3\xBCller \xE6\xA0\xAA \xF0\x9F\x98\x80")
                         .number("score", -12.375)
                         .count("size", 123456789)
                         .strings("reasons", {"tab\there", "quote\"", ""})
                         .value("nested", JsonValue::Array{JsonValue::Array{}, JsonValue::object(), nullptr})
                         .flag("on", false)
                         .done();
    return {
        write(item),
        R"( { "a" : [ 1 , -2.5e-3 , .5 , +7 , true , null ] , "\u00e9\uD83D\uDE00\n" : { } } )",
        R"([[[[[[[["deep",{"k":[0]}]]]]]]]])",
        "\"raw \x01 control and \xE2\x82\xAC\"",
    };
}

TEST(JsonAdversarial, EveryPrefixParsesOrSaysWhy) {
    for (const std::string& document : sample_documents()) {
        ASSERT_TRUE(parse(document).has_value()) << document;
        for (std::size_t length = 0; length < document.size(); ++length) {
            const std::string_view prefix(document.data(), length);
            const auto result = parse(prefix);
            if (!result) {
                EXPECT_TRUE(is_known_message(result.error().message)) << result.error().message;
            } else {
                // Every sample is one string or container: only white space may be cut.
                EXPECT_EQ(document.find_first_not_of(" ", length), std::string::npos) << prefix;
            }
        }
    }
}

TEST(JsonAdversarial, RandomMutationsParseOrSayWhy) {
    std::mt19937 random(7);
    const std::string alphabet = "{}[]\":,\\u0123456789abcdefABCDEF+-.eEtrunlsx \t\n\x80\xBF\xC3\xED\xF0\xFF";
    std::size_t parsed_count = 0;
    for (const std::string& document : sample_documents()) {
        for (int round = 0; round < 2000; ++round) {
            std::string mutated = document;
            const unsigned edits = 1 + random() % 4;
            for (unsigned edit = 0; edit < edits && !mutated.empty(); ++edit) {
                const std::size_t at = random() % mutated.size();
                const char byte = alphabet[random() % alphabet.size()];
                switch (random() % 4) {
                    case 0:
                        mutated[at] = byte;
                        break;
                    case 1:
                        mutated.insert(at, 1, byte);
                        break;
                    case 2:
                        mutated.erase(at, 1);
                        break;
                    default:
                        mutated[at] = static_cast<char>(random() % 256);
                        break;
                }
            }
            const auto result = parse(mutated);
            if (result) {
                ++parsed_count;
                EXPECT_EQ(parse(write(*result)).value_or(JsonValue("(failed)")), *result) << mutated;
            } else {
                EXPECT_TRUE(is_known_message(result.error().message)) << result.error().message;
            }
        }
    }
    EXPECT_GT(parsed_count, 0u);  // the mutations do not only produce garbage
}

}  // namespace
}  // namespace qm::json
