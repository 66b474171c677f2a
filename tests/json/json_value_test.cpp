#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "json/json.h"

namespace qm::json {
namespace {

using Type = JsonValue::Type;

TEST(JsonValue, ConstructorsChooseTheRightCase) {
    EXPECT_EQ(JsonValue().type(), Type::null);
    EXPECT_EQ(JsonValue(nullptr).type(), Type::null);
    EXPECT_EQ(JsonValue("text").type(), Type::string);  // not a bool
    EXPECT_EQ(JsonValue(static_cast<const char*>(nullptr)).as_string(), "");
    EXPECT_EQ(JsonValue(std::string_view("view")).as_string(), "view");
    EXPECT_EQ(JsonValue(false).type(), Type::boolean);
    EXPECT_EQ(JsonValue(3).as_number(), 3);
    EXPECT_EQ(JsonValue(std::uint64_t{1} << 53).as_number(), 9007199254740992.0);
    EXPECT_EQ(JsonValue(-5L).as_number(), -5);
    EXPECT_EQ(JsonValue(7U).as_number(), 7);
    EXPECT_EQ(JsonValue(std::size_t{9}).as_number(), 9);
    EXPECT_TRUE(JsonValue::array().is_array() && JsonValue::array().as_array().empty());
    EXPECT_TRUE(JsonValue::object().is_object() && JsonValue::object().as_object().empty());
    static_assert(!std::is_constructible_v<JsonValue, int*>);
    static_assert(!std::is_constructible_v<JsonValue, const void*>);
}

TEST(JsonValue, CopiesAreIndependentAndChildrenCanReplaceTheirParent) {
    JsonValue original = ObjectBuilder().strings("list", {"a", "b"}).done();
    JsonValue copy = original;
    copy.as_object()[0].second.push_back("c");
    EXPECT_EQ(original.as_object()[0].second.as_array().size(), 2u);
    EXPECT_NE(copy, original);

    JsonValue parent(JsonValue::Array{JsonValue(JsonValue::Array{"inner"}), 2});
    parent = parent.as_array()[0];
    EXPECT_EQ(parent, JsonValue(JsonValue::Array{"inner"}));
    parent = std::move(parent.as_array()[0]);
    EXPECT_EQ(parent, JsonValue("inner"));
}

TEST(JsonValue, EqualityIsDeepAndOrdered) {
    const JsonValue ab = ObjectBuilder().number("a", 1).number("b", 2).done();
    const JsonValue ba = ObjectBuilder().number("b", 2).number("a", 1).done();
    EXPECT_NE(ab, ba);
    EXPECT_EQ(ab, ObjectBuilder(ObjectBuilder().number("a", 1).done()).number("b", 2).done());
    // Members of another object keep their order; a value that is not an object adds nothing.
    EXPECT_EQ(
        ab,
        ObjectBuilder().number("a", 1).members(ObjectBuilder().number("b", 2).done()).members(JsonValue(3.0)).done());
    EXPECT_EQ(JsonValue(-0.0), JsonValue(0.0));
    EXPECT_NE(JsonValue(0.0), JsonValue(false));
    EXPECT_NE(JsonValue(""), JsonValue());
    EXPECT_NE(JsonValue(JsonValue::Array{1}), JsonValue(JsonValue::Array{1, 1}));
}

TEST(JsonValue, AccessorsOfTheWrongTypeStaySafe) {
    JsonValue number(4.5);
    EXPECT_FALSE(number.as_bool());
    EXPECT_EQ(number.as_string(), "");
    EXPECT_TRUE(std::as_const(number).as_array().empty());
    EXPECT_TRUE(std::as_const(number).as_object().empty());
    EXPECT_EQ(JsonValue("4").as_number(), 0);
    number.push_back(1);  // turns the number into an array
    EXPECT_EQ(number, JsonValue(JsonValue::Array{1}));
}

TEST(JsonBuilder, StepsAppendInOrderAndNeverReplace) {
    JsonValue object = json::ObjectBuilder()
                           .string("name", "x")
                           .flag("on", true)
                           .number("ratio", 0.5)
                           .count("count", 12)
                           .strings("list", {"p", "q"})
                           .value("none", JsonValue())
                           .string("name", "y")
                           .done();
    EXPECT_EQ(write(object),
              R"({"name":"x","on":true,"ratio":0.5,"count":12,"list":["p","q"],"none":null,"name":"y"})");
    EXPECT_EQ(get_text(object, "name"), "x");
}

TEST(JsonBuilder, StepsOnAValueThatIsNotAnObjectChangeNothing) {
    const JsonValue others[] = {JsonValue(), JsonValue(true), JsonValue(1), JsonValue("s"),
                                JsonValue(JsonValue::Array{1})};
    for (const JsonValue& other : others) {
        EXPECT_EQ(ObjectBuilder(other).string("k", "v").done(), other);
        EXPECT_EQ(ObjectBuilder(other).flag("k", true).done(), other);
        EXPECT_EQ(ObjectBuilder(other).number("k", 1).done(), other);
        EXPECT_EQ(ObjectBuilder(other).count("k", 1).done(), other);
        EXPECT_EQ(ObjectBuilder(other).strings("k", {"v"}).done(), other);
        EXPECT_EQ(ObjectBuilder(other).value("k", JsonValue::object()).done(), other);
        EXPECT_EQ(ObjectBuilder(other).members(ObjectBuilder().flag("k", true).done()).done(), other);
    }
}

TEST(JsonLookup, TypedLookUps) {
    const JsonValue object = parse(R"({"s":"text","t":true,"one":1,"str":"true","n":null})").value();
    EXPECT_EQ(get(object, "missing"), nullptr);
    EXPECT_EQ(get(JsonValue(JsonValue::Array{"s"}), "s"), nullptr);
    EXPECT_EQ(get(object, "n")->type(), Type::null);
    EXPECT_EQ(get_text(object, "s"), "text");
    EXPECT_EQ(get_text(object, "one"), "");
    EXPECT_EQ(get_text(object, "missing"), "");
    EXPECT_TRUE(get_flag(object, "t"));
    EXPECT_FALSE(get_flag(object, "one"));
    EXPECT_FALSE(get_flag(object, "str"));
    EXPECT_FALSE(get_flag(object, "missing"));
}

TEST(JsonLookup, CountsTruncateAndClamp) {
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    const struct {
        JsonValue value;
        std::uint64_t count;
    } cases[] = {
        {JsonValue(5), 5},
        {JsonValue(5.99), 5},
        {JsonValue(0.5), 0},
        {JsonValue(-1), 0},
        {JsonValue(-0.5), 0},
        {JsonValue(std::nan("")), 0},  // only a built value can hold NaN
        {JsonValue(-std::numeric_limits<double>::infinity()), 0},
        {JsonValue(std::numeric_limits<double>::infinity()), max},
        {JsonValue(18446744073709551616.0), max},  // 2^64
        {JsonValue(1e30), max},
        {JsonValue(18446744073709549568.0), 18446744073709549568ULL},  // largest double below 2^64
        {JsonValue(9007199254740993.0), 9007199254740992ULL},
        {JsonValue("5"), 0},
        {JsonValue(true), 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(get_count(ObjectBuilder().value("n", c.value).done(), "n"), c.count) << write(c.value);
    }
    EXPECT_EQ(get_count(JsonValue::object(), "n"), 0u);
    EXPECT_EQ(get_count(parse(R"({"n":1e400})").value_or(JsonValue()), "n"), 0u);  // refused, not infinite
    EXPECT_EQ(get_count(parse(R"({"n":123456789012})").value(), "n"), 123456789012u);
}

}  // namespace
}  // namespace qm::json
