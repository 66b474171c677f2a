#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <limits>
#include <string>

#include "json/json.h"

namespace qm::json {
namespace {

std::string error_of(std::string_view text) {
    auto result = parse(text);
    return result ? "(parsed)" : result.error().message;
}

JsonValue parsed(std::string_view text) {
    auto result = parse(text);
    EXPECT_TRUE(result.has_value()) << text << " -> " << (result ? "" : result.error().message);
    return result ? *result : JsonValue();
}

// Joins by appending (GCC 12 warns falsely about chains of operator+).
std::string concat(std::initializer_list<std::string_view> parts) {
    std::string joined;
    for (std::string_view part : parts) joined += part;
    return joined;
}

// The text of a document that is one string.
std::string text_of(std::string_view document) { return parsed(document).as_string(); }

TEST(JsonReader, EveryFailureGivesItsMessageAndOffset) {
    struct Case {
        std::string_view text;
        std::string_view error;
    };
    const Case cases[] = {
        {"{\"a\":1} x", "unexpected data at byte 8"},
        {"1 2", "unexpected data at byte 2"},
        {"0x10", "unexpected data at byte 1"},
        {"", "unexpected end"},
        {" \t\r\n", "unexpected end"},
        {"[1,", "unexpected end"},
        {"{\"a\": ", "unexpected end"},
        {"[", "unexpected end"},
        {"[1,]", "bad number at byte 3"},
        {"[1 2]", "expected , or ] at byte 3"},
        {"[1", "expected , or ] at byte 2"},
        {"[1}", "expected , or ] at byte 2"},
        {"{", "expected a key at byte 1"},
        {"{1:2}", "expected a key at byte 1"},
        {"{\"a\":1, }", "expected a key at byte 8"},
        {"{\"a\" 1}", "expected : at byte 5"},
        {"{\"a\"", "expected : at byte 4"},
        {"{\"a\":1 \"b\":2}", "expected , or } at byte 7"},
        {"{\"a\":1", "expected , or } at byte 6"},
        {"{\"a\":1]", "expected , or } at byte 6"},
        {"tru", "bad literal at byte 0"},
        {"[true, nul]", "bad literal at byte 7"},
        {"False", "bad number at byte 0"},
        {"nan", "bad literal at byte 0"},
        {"-", "bad number at byte 0"},
        {"[Infinity]", "bad number at byte 1"},
        {"\xEF\xBB\xBF{}", "bad number at byte 0"},
        {"[\"a\\x\"]", "bad escape"},
        {"\"\\", "bad escape"},
        {"\"\\u12\"", "short \\u escape"},
        {"\"\\u12g4\"", "bad \\u escape"},
        {"\"\\uD800\\u12\"", "short \\u escape"},
        {"\"\\uD800\\u12x4\"", "bad \\u escape"},
        {"\"abc", "unterminated string"},
        {"{\"ab", "unterminated string"},
        {"\"a\xC3\"", "string is not valid UTF-8"},
        {"{\"\xFF\":1}", "string is not valid UTF-8"},
        // The UTF-8 check waits for the closing quote, so other faults win.
        {"\"\xC3", "unterminated string"},
        {"\"\xFF\\q\"", "bad escape"},
    };
    for (const Case& c : cases) EXPECT_EQ(error_of(c.text), c.error) << c.text;
}

TEST(JsonReader, WhiteSpaceIsOnlySpaceTabLineFeedAndReturn) {
    EXPECT_EQ(parsed("  {\"a\":1}  "), ObjectBuilder().number("a", 1).done());
    EXPECT_EQ(parsed("\r\n\t[ 1 , 2 ]\n"), JsonValue(JsonValue::Array{1, 2}));
    EXPECT_EQ(error_of("\f1"), "bad number at byte 0");
    EXPECT_EQ(error_of("1\v"), "unexpected data at byte 1");
}

TEST(JsonReader, NestingIsBoundedAtSixtyFourLevels) {
    const auto arrays = [](int levels, std::string_view core) {
        return std::string(static_cast<std::size_t>(levels), '[') + std::string(core) +
               std::string(static_cast<std::size_t>(levels), ']');
    };
    EXPECT_TRUE(parse(arrays(63, "1")));
    EXPECT_TRUE(parse(arrays(64, "")));
    EXPECT_EQ(error_of(arrays(64, "1")), "nested too deeply");
    EXPECT_EQ(error_of(arrays(65, "")), "nested too deeply");
    // The limit is met before the end of the text is noticed.
    EXPECT_EQ(error_of(std::string(65, '[')), "nested too deeply");
    EXPECT_EQ(error_of(std::string(100000, '[')), "nested too deeply");

    std::string objects;
    for (int i = 0; i < 63; ++i) objects += "{\"k\":";
    EXPECT_TRUE(parse(objects + "0" + std::string(63, '}')));
    EXPECT_EQ(error_of(objects + "{\"k\":0" + std::string(64, '}')), "nested too deeply");

    // Finished values give their level back: siblings may each go 64 deep.
    EXPECT_TRUE(parse(concat({"[", arrays(63, ""), ",", arrays(62, "7"), "]"})));
}

TEST(JsonReader, ObjectsKeepOrderAndDuplicates) {
    const JsonValue value = parsed("{\"a\":1,\"b\":\"x\",\"a\":2}");
    ASSERT_EQ(value.as_object().size(), 3u);
    EXPECT_EQ(value.as_object()[2].first, "a");
    EXPECT_EQ(get(value, "a")->as_number(), 1);
    const JsonValue texts = parsed("{\"a\":\"first\",\"a\":\"second\"}");
    EXPECT_EQ(get_text(texts, "a"), "first");
}

TEST(JsonReader, EscapesAndSurrogates) {
    EXPECT_EQ(text_of(R"("\"\\\/\b\f\n\r\t")"), "\"\\/\b\f\n\r\t");
    EXPECT_EQ(text_of(R"("\u00e9\u20AC\u0041")"),
              "\xC3\xA9\xE2\x82\xAC"
              "A");
    EXPECT_EQ(text_of(R"("a\u0000b")"), std::string("a\0b", 3));
    EXPECT_EQ(text_of(R"("\uD83D\uDE00")"), "\xF0\x9F\x98\x80");  // U+1F600
    EXPECT_EQ(text_of(R"("\uD800")"), "\xEF\xBF\xBD");            // lone high
    EXPECT_EQ(text_of(R"("\uDC00x")"), "\xEF\xBF\xBDx");          // lone low
    EXPECT_EQ(text_of(R"("\uD800\u0041")"), "\xF0\x90\x81\x81");  // U+10041
    EXPECT_EQ(text_of(R"("\uD800\n")"), "\xEF\xBF\xBD\n");        // not a \u escape
    EXPECT_EQ(text_of(R"("\uDBFF\uDFFF")"), "\xF4\x8F\xBF\xBF");  // U+10FFFF
}

TEST(JsonReader, RawBytesInsideStrings) {
    EXPECT_EQ(text_of("\"a\tb\""), "a\tb");
    EXPECT_EQ(text_of(std::string_view("\"\0\x01\x1f\x7f\"", 6)), std::string_view("\0\x01\x1f\x7f", 4));
    const std::string_view valid[] = {"\xC3\xA9",     "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF",
                                      "\xED\x9F\xBF", "\xEE\x80\x80", "\xC2\x80",         "\xEF\xBF\xBF"};
    for (std::string_view bytes : valid) {
        EXPECT_EQ(text_of(concat({"\"", bytes, "\""})), bytes);
        // Long enough to go through the word-at-a-time scan, at every alignment.
        for (std::size_t pad = 0; pad < 9; ++pad) {
            const std::string text = concat({std::string(pad, 'x'), bytes, "yyyyyyyyy"});
            EXPECT_EQ(text_of(concat({"\"", text, "\""})), text);
        }
    }
    const std::string_view invalid[] = {
        "\xC0\x80",
        "\xC1\xBF",
        "\xE0\x80\x80",
        "\xE0\x9F\xBF",  // overlong
        "\xF0\x80\x80\x80",
        "\xF0\x8F\xBF\xBF",  // overlong
        "\xED\xA0\x80",
        "\xED\xBF\xBF",  // surrogates
        "\xF4\x90\x80\x80",
        "\xF5\x80\x80\x80",
        "\xFF",
        "\xFE",  // too high
        "\x80",
        "\xBF",
        "\xE2\x82",
        "\xF0\x9F\x98",  // stray, cut
        "\xC3\\n",
        "\xE2\\u20AC",
        "\xC3\x41",  // cut by text
    };
    for (std::string_view bytes : invalid) {
        EXPECT_EQ(error_of(concat({"\"", bytes, "\""})), "string is not valid UTF-8") << bytes;
        EXPECT_EQ(error_of(concat({"[\"xxxxxxxxxx", bytes, "yyyyyyyy\"]"})), "string is not valid UTF-8");
    }
}

TEST(JsonReader, NumbersInTheAcceptedForms) {
    struct Case {
        std::string_view text;
        double value;
    };
    const Case cases[] = {
        {"0", 0},
        {"-7", -7},
        {"+1", 1},
        {"007", 7},
        {"-01", -1},
        {".5", 0.5},
        {"-.5", -0.5},
        {"1.", 1},
        {"2.e3", 2000},
        {"1E2", 100},
        {"1e+2", 100},
        {"25e-1", 2.5},
        {"0.1", 0.1},
        {"123456789012345678", 123456789012345678.0},
        {"999999999999999", 999999999999999.0},
        {"1.7976931348623157e308", std::numeric_limits<double>::max()},
        {"4.9406564584124654e-324", std::numeric_limits<double>::denorm_min()},
        {"1e-400", 0},
        {"0e99999999999", 0},
    };
    for (const Case& c : cases) EXPECT_EQ(parsed(c.text).as_number(), c.value) << c.text;
    EXPECT_TRUE(std::signbit(parsed("-0").as_number()));
    EXPECT_TRUE(std::signbit(parsed("-1e-400").as_number()));
    EXPECT_EQ(parsed("[1,-2.5,3]"), JsonValue(JsonValue::Array{1, -2.5, 3}));
}

TEST(JsonReader, NumbersThatAreRefused) {
    const std::string_view refused[] = {"1e",    "1e+",    "1-2",
                                        "--1",   "+-1",    "-+1",
                                        "++1",   "+",      ".",
                                        "e5",    "E",      "1e1.5",
                                        "1.2.3", "1ee2",   "1.7976931348623159e308",
                                        "1e400", "-1e400", "123e99999999999999999999"};
    for (std::string_view text : refused) EXPECT_EQ(error_of(text), "bad number at byte 0") << text;
    EXPECT_EQ(error_of("[0, 1e]"), "bad number at byte 4");
    EXPECT_EQ(error_of("{\"n\":-}"), "bad number at byte 5");
}

}  // namespace
}  // namespace qm::json
