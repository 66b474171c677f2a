#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "json/json.h"

namespace qm::json {
namespace {

TEST(JsonWriter, NumbersAsIntegersOrShortestPlainDecimals) {
    const struct {
        double value;
        std::string text;
    } cases[] = {
        {3, "3"},
        {2.5, "2.5"},
        {1.0, "1"},
        {-0.0, "0"},
        {-42, "-42"},
        {0.1, "0.1"},
        {0.1 + 0.2, "0.30000000000000004"},
        {1.5e-7, "0.00000015"},
        {123456.789, "123456.789"},
        {1125899906842624.5, "1125899906842624.5"},
        {8999999999999999, "8999999999999999"},
        {9e15, "9000000000000000"},
        {1e16, "10000000000000000"},
        {-1e21, "-1000000000000000000000"},
        {1e300, "1" + std::string(300, '0')},
        {std::numeric_limits<double>::denorm_min(), "0." + std::string(323, '0') + "5"},
        {std::numeric_limits<double>::max(), "17976931348623157" + std::string(292, '0')},
        // Never produced by the reader; written so that the text stays readable.
        {std::nan(""), "null"},
        {-std::numeric_limits<double>::infinity(), "null"},
    };
    for (const auto& c : cases) EXPECT_EQ(write(JsonValue(c.value)), c.text);
}

TEST(JsonWriter, EveryFiniteDoubleReadsBackExactly) {
    std::mt19937_64 random(20240611);
    for (int i = 0; i < 20000; ++i) {
        const double value = std::bit_cast<double>(random());
        if (!std::isfinite(value)) continue;
        const auto back = parse(write(JsonValue(value)));
        ASSERT_TRUE(back.has_value()) << write(JsonValue(value));
        ASSERT_EQ(back->as_number(), value) << write(JsonValue(value));
    }
}

TEST(JsonWriter, StringEscapes) {
    const struct {
        std::string_view text;
        std::string_view written;
    } cases[] = {
        {"\"", R"("\"")"},
        {"\\", R"("\\")"},
        {"\n\r\t", R"("\n\r\t")"},
        {"\x1f", R"("\u001f")"},
        {std::string_view("\0", 1), R"("\u0000")"},
        {"\b\f\x01", R"("\u0008\u000c\u0001")"},
        {"\x7f/", "\"\x7f/\""},
        {"caf\xC3\xA9 \xF0\x9F\x98\x80", "\"caf\xC3\xA9 \xF0\x9F\x98\x80\""},
    };
    for (const auto& c : cases) EXPECT_EQ(write(JsonValue(c.text)), c.written);
    EXPECT_EQ(write(parse("\"a\tb\"").value()), R"("a\tb")");  // raw tab read, escaped tab written
}

TEST(JsonWriter, InvalidUtf8IsWrittenAsReplacementCharacters) {
    const std::string replacement = "\xEF\xBF\xBD";
    EXPECT_EQ(write(JsonValue("a\xFF"
                              "b")),
              "\"a" + replacement + "b\"");
    EXPECT_EQ(write(JsonValue("\xE2\x82")), "\"" + replacement + "\"");  // one cut character
    EXPECT_EQ(write(JsonValue("\xED\xA0\x80")), "\"" + replacement + replacement + replacement + "\"");
    const JsonValue key = ObjectBuilder().flag("k\xC0", true).done();
    EXPECT_EQ(write(key), "{\"k" + replacement + "\":true}");
    EXPECT_TRUE(parse(write(key)).has_value());
}

TEST(JsonWriter, SpecialBytesAtEveryPositionOfALongString) {
    const struct {
        char byte;
        std::string_view written;
    } specials[] = {{'"', "\\\""}, {'\\', "\\\\"}, {'\x02', "\\u0002"}, {'\n', "\\n"}, {'\x80', "\xEF\xBF\xBD"}};
    for (const auto& special : specials) {
        for (std::size_t at = 0; at < 20; ++at) {
            std::string text(20, 'a');
            text[at] = special.byte;
            std::string expected = "\"";
            expected.append(at, 'a').append(special.written).append(19 - at, 'a').append("\"");
            EXPECT_EQ(write(JsonValue(text)), expected);
        }
    }
}

TEST(JsonWriter, CompactStructuresInStoredOrder) {
    JsonValue object = ObjectBuilder().value("a", JsonValue::Array{1, true, nullptr, "x"}).done();
    object =
        json::ObjectBuilder(std::move(object)).value("a", JsonValue::object()).value("k\"", JsonValue::array()).done();
    EXPECT_EQ(write(object), R"({"a":[1,true,null,"x"],"a":{},"k\"":[]})");
    std::string out = "prefix ";
    write_to(out, JsonValue::Array{false});
    EXPECT_EQ(out, "prefix [false]");
}

TEST(JsonWriter, RoundTrips) {
    const std::string_view compact[] = {
        R"({"id":"run|user|HKCU\\Run|App","n":[0,-1,2.5,1e-7],"nested":{"a":[[],{}],"b":null}})",
        R"(["\u0000\u001f\"\\","\u00e9\u20ac\ud83d\ude00",true,false])",
        R"({"a":1,"a":2})",
    };
    for (std::string_view text : compact) {
        const JsonValue value = parse(text).value();
        const std::string written = write(value);
        EXPECT_EQ(parse(written).value(), value);
        EXPECT_EQ(write(parse(written).value()), written);
    }
    EXPECT_EQ(write(parse(R"( { "b" : [ 1.50 , -0 , 1E2 ] } )").value()), R"({"b":[1.5,0,100]})");
}

}  // namespace
}  // namespace qm::json
