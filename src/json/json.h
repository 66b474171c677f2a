// JSON values, a strict reader and a compact writer for every file and message.
//
// parse() reads UTF-8 text in one pass into a JsonValue, or gives one message
// naming the fault; it never throws and nests at most 64 levels. write() gives
// compact text that parse() reads back (for values at most 64 levels deep).
// A value owns its children; objects keep their pairs in order, duplicates too.
// No shared state: a value may be read by many threads, changed by one owner.
#pragma once

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "util/result.h"

namespace qm::json {

class JsonValue {
public:
    enum class Type : std::uint8_t { null, boolean, number, string, array, object };
    using Array = std::vector<JsonValue>;
    using Member = std::pair<std::string, JsonValue>;
    using Object = std::vector<Member>;  // ordered, duplicate keys kept

    JsonValue() noexcept : type_(Type::null) {}
    JsonValue(std::nullptr_t) noexcept : type_(Type::null) {}
    JsonValue(bool flag) noexcept : type_(Type::boolean), flag_(flag) {}
    JsonValue(double number) noexcept : type_(Type::number), number_(number) {}
    JsonValue(int number) noexcept : JsonValue(static_cast<double>(number)) {}
    JsonValue(std::uint64_t number) noexcept : JsonValue(static_cast<double>(number)) {}
    // Every other integer type becomes a number too (rather than being
    // ambiguous between the constructors above).
    template <std::integral Integer>
        requires(!std::same_as<Integer, bool>)
    JsonValue(Integer number)
    noexcept : JsonValue(static_cast<double>(number)) {}
    JsonValue(std::string text) noexcept;
    JsonValue(std::string_view text);
    JsonValue(const char* text);  // a null pointer gives the empty string
    JsonValue(Array items) noexcept;
    JsonValue(Object members) noexcept;
    // Pointers other than text would otherwise silently become booleans.
    template <class Pointee>
        requires(!std::is_convertible_v<Pointee*, const char*>)
    JsonValue(Pointee*)
    = delete;

    JsonValue(const JsonValue& other);
    JsonValue(JsonValue&& other) noexcept;
    JsonValue& operator=(const JsonValue& other);
    JsonValue& operator=(JsonValue&& other) noexcept;
    ~JsonValue();

    static JsonValue array() { return JsonValue(Array{}); }
    static JsonValue object() { return JsonValue(Object{}); }

    Type type() const noexcept { return type_; }
    bool is_null() const noexcept { return type_ == Type::null; }
    bool is_bool() const noexcept { return type_ == Type::boolean; }
    bool is_number() const noexcept { return type_ == Type::number; }
    bool is_string() const noexcept { return type_ == Type::string; }
    bool is_array() const noexcept { return type_ == Type::array; }
    bool is_object() const noexcept { return type_ == Type::object; }

    // Accessors. Precondition: the value has the matching type. A caller that
    // breaks it still gets defined behaviour: false, 0, or a reference to an
    // empty string, array or object; the mutable as_array()/as_object() first
    // turn a value of another type into an empty array or object.
    bool as_bool() const noexcept { return type_ == Type::boolean && flag_; }
    double as_number() const noexcept { return type_ == Type::number ? number_ : 0.0; }
    const std::string& as_string() const noexcept;
    const Array& as_array() const noexcept;
    Array& as_array();
    const Object& as_object() const noexcept;
    Object& as_object();

    // Appends to an array; a value of another type is first made an empty array.
    void push_back(JsonValue item);

    friend bool operator==(const JsonValue& left, const JsonValue& right);

private:
    void destroy() noexcept;
    void construct_from(const JsonValue& other);
    void construct_from(JsonValue&& other) noexcept;
    // Both of the above: copies from an lvalue, moves from an rvalue.
    template <class Source>
    void construct_like(Source&& other);

    Type type_;
    union {
        bool flag_;
        double number_;
        std::string string_;
        Array array_;
        Object object_;
    };
};

// Errors are exactly one of: "unexpected data at byte {n}", "nested too
// deeply", "unexpected end", "expected , or ] at byte {n}", "expected a key at
// byte {n}", "expected : at byte {n}", "expected , or } at byte {n}", "bad
// literal at byte {n}", "bad number at byte {n}", "bad escape", "short \u
// escape", "bad \u escape", "unterminated string", "string is not valid UTF-8".
[[nodiscard]] Result<JsonValue> parse(std::string_view text);

// Compact text: no spaces or line breaks. Numbers that are NaN or infinite
// (which parse() never produces) are written as null, and bytes of a string
// that are not valid UTF-8 as U+FFFD, so that the text always reads back.
[[nodiscard]] std::string write(const JsonValue& value);
void write_to(std::string& out, const JsonValue& value);

// Builds an object by appending members in the order of the calls, so every
// object the program writes has its keys in one fixed order:
//   JsonValue item = ObjectBuilder().string("id", id).flag("ok", ok).done();
// Built on an existing object, it appends after that object's members; built
// on a value that is not an object, it leaves that value unchanged.
class ObjectBuilder {
public:
    ObjectBuilder() : object_(JsonValue::object()) {}
    explicit ObjectBuilder(JsonValue object) : object_(std::move(object)) {}

    ObjectBuilder& value(std::string_view key, JsonValue value);
    ObjectBuilder& string(std::string_view key, std::string text) { return value(key, JsonValue(std::move(text))); }
    ObjectBuilder& flag(std::string_view key, bool flag) { return value(key, JsonValue(flag)); }
    ObjectBuilder& number(std::string_view key, double number) { return value(key, JsonValue(number)); }
    ObjectBuilder& count(std::string_view key, std::uint64_t count) { return value(key, JsonValue(count)); }
    // An array of strings.
    ObjectBuilder& strings(std::string_view key, const std::vector<std::string>& texts);
    // Every member of another object, in its order (nothing when it is not one).
    ObjectBuilder& members(const JsonValue& object);

    [[nodiscard]] JsonValue done() { return std::move(object_); }

private:
    JsonValue object_;
};

// Look-ups see the first pair with the key. get() gives nullptr when the value
// is not an object or has no such key.
[[nodiscard]] const JsonValue* get(const JsonValue& object, std::string_view key);
// The string's text, or "" when missing or not a string.
[[nodiscard]] std::string get_text(const JsonValue& object, std::string_view key);
// True only for the boolean true.
[[nodiscard]] bool get_flag(const JsonValue& object, std::string_view key);
// A number truncated towards zero; 0 when missing, not a number, negative or
// NaN; the largest value for anything at or above 2^64.
[[nodiscard]] std::uint64_t get_count(const JsonValue& object, std::string_view key);

}  // namespace qm::json
