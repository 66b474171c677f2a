// The JSON value type, the builder steps and the typed look-ups.
#include "json/json.h"

#include <limits>
#include <memory>

namespace qm::json {

JsonValue::JsonValue(std::string text) noexcept : type_(Type::string) { std::construct_at(&string_, std::move(text)); }

JsonValue::JsonValue(std::string_view text) : JsonValue(std::string(text)) {}

JsonValue::JsonValue(const char* text) : JsonValue(text != nullptr ? std::string(text) : std::string()) {}

JsonValue::JsonValue(Array items) noexcept : type_(Type::array) { std::construct_at(&array_, std::move(items)); }

JsonValue::JsonValue(Object members) noexcept : type_(Type::object) { std::construct_at(&object_, std::move(members)); }

JsonValue::JsonValue(const JsonValue& other) { construct_from(other); }

JsonValue::JsonValue(JsonValue&& other) noexcept { construct_from(std::move(other)); }

JsonValue& JsonValue::operator=(const JsonValue& other) {
    if (this != &other) {
        // Copy first: `other` may be a child of this value.
        JsonValue copy(other);
        *this = std::move(copy);
    }
    return *this;
}

JsonValue& JsonValue::operator=(JsonValue&& other) noexcept {
    if (this != &other) {
        // Take `other` out before destroying: it may be a child of this value.
        JsonValue taken;
        taken.construct_from(std::move(other));
        destroy();
        construct_from(std::move(taken));
    }
    return *this;
}

JsonValue::~JsonValue() { destroy(); }

void JsonValue::destroy() noexcept {
    switch (type_) {
        case Type::null:
        case Type::boolean:
        case Type::number:
            break;
        case Type::string:
            std::destroy_at(&string_);
            break;
        case Type::array:
            std::destroy_at(&array_);
            break;
        case Type::object:
            std::destroy_at(&object_);
            break;
    }
    type_ = Type::null;
}

template <class Source>
void JsonValue::construct_like(Source&& other) {
    switch (other.type_) {
        case Type::null:
            break;
        case Type::boolean:
            flag_ = other.flag_;
            break;
        case Type::number:
            number_ = other.number_;
            break;
        case Type::string:
            std::construct_at(&string_, std::forward<Source>(other).string_);
            break;
        case Type::array:
            std::construct_at(&array_, std::forward<Source>(other).array_);
            break;
        case Type::object:
            std::construct_at(&object_, std::forward<Source>(other).object_);
            break;
    }
    type_ = other.type_;
}

void JsonValue::construct_from(const JsonValue& other) { construct_like(other); }

// Moving a string, array or map never throws.
void JsonValue::construct_from(JsonValue&& other) noexcept { construct_like(std::move(other)); }

const std::string& JsonValue::as_string() const noexcept {
    static const std::string empty;
    return type_ == Type::string ? string_ : empty;
}

const JsonValue::Array& JsonValue::as_array() const noexcept {
    static const Array empty;
    return type_ == Type::array ? array_ : empty;
}

JsonValue::Array& JsonValue::as_array() {
    if (type_ != Type::array) *this = array();
    return array_;
}

const JsonValue::Object& JsonValue::as_object() const noexcept {
    static const Object empty;
    return type_ == Type::object ? object_ : empty;
}

JsonValue::Object& JsonValue::as_object() {
    if (type_ != Type::object) *this = object();
    return object_;
}

void JsonValue::push_back(JsonValue item) { as_array().push_back(std::move(item)); }

bool operator==(const JsonValue& left, const JsonValue& right) {
    if (left.type_ != right.type_) return false;
    switch (left.type_) {
        case JsonValue::Type::null:
            return true;
        case JsonValue::Type::boolean:
            return left.flag_ == right.flag_;
        case JsonValue::Type::number:
            return left.number_ == right.number_;
        case JsonValue::Type::string:
            return left.string_ == right.string_;
        case JsonValue::Type::array:
            return left.array_ == right.array_;
        case JsonValue::Type::object:
            return left.object_ == right.object_;
    }
    return false;
}

// --- builder steps -----------------------------------------------------------

ObjectBuilder& ObjectBuilder::value(std::string_view key, JsonValue value) {
    if (object_.is_object()) object_.as_object().emplace_back(std::string(key), std::move(value));
    return *this;
}

ObjectBuilder& ObjectBuilder::members(const JsonValue& object) {
    if (!object_.is_object() || !object.is_object()) return *this;
    for (const JsonValue::Member& member : object.as_object()) object_.as_object().push_back(member);
    return *this;
}

ObjectBuilder& ObjectBuilder::strings(std::string_view key, const std::vector<std::string>& texts) {
    if (!object_.is_object()) return *this;
    JsonValue::Array items;
    items.reserve(texts.size());
    for (const std::string& text : texts) items.emplace_back(text);
    return value(key, JsonValue(std::move(items)));
}

// --- look-ups ----------------------------------------------------------------

const JsonValue* get(const JsonValue& object, std::string_view key) {
    if (!object.is_object()) return nullptr;
    for (const JsonValue::Member& member : object.as_object()) {
        if (member.first == key) return &member.second;
    }
    return nullptr;
}

std::string get_text(const JsonValue& object, std::string_view key) {
    const JsonValue* value = get(object, key);
    return value != nullptr && value->is_string() ? value->as_string() : std::string();
}

bool get_flag(const JsonValue& object, std::string_view key) {
    const JsonValue* value = get(object, key);
    return value != nullptr && value->is_bool() && value->as_bool();
}

std::uint64_t get_count(const JsonValue& object, std::string_view key) {
    const JsonValue* value = get(object, key);
    if (value == nullptr || !value->is_number()) return 0;
    const double number = value->as_number();
    if (!(number > 0.0)) return 0;  // negative, zero or NaN
    constexpr double two_to_64 = 18446744073709551616.0;
    if (number >= two_to_64) return std::numeric_limits<std::uint64_t>::max();
    return static_cast<std::uint64_t>(number);
}

}  // namespace qm::json
