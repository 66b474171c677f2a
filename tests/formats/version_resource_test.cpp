#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/version_resource.h"

namespace qm::formats {
namespace {

std::string u16(std::uint16_t value) { return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)}; }

std::string utf16(std::u16string_view text) {
    std::string bytes;
    for (const char16_t unit : text) bytes += u16(unit);
    return bytes;
}

void pad(std::string& bytes) {
    while (bytes.size() % 4 != 0) bytes.push_back('\0');
}

// One node as the resource compiler lays it out, starting at a 4-byte
// boundary. `value_length` overrides wValueLength when given.
std::string node(std::u16string_view key, std::uint16_t type, const std::string& value,
                 const std::vector<std::string>& children = {}, std::optional<std::uint16_t> value_length = {}) {
    std::string body = utf16(key) + u16(0);
    std::string bytes = std::string(6, '\0') + body;
    pad(bytes);
    bytes += value;
    for (const std::string& child : children) {
        pad(bytes);
        bytes += child;
    }
    const auto length = static_cast<std::uint16_t>(bytes.size());
    const std::uint16_t units =
        value_length.value_or(static_cast<std::uint16_t>(type == 1 ? value.size() / 2 : value.size()));
    bytes.replace(0, 6, u16(length) + u16(units) + u16(type));
    return bytes;
}

std::string text(std::u16string_view value) { return utf16(value) + u16(0); }

std::string block(const std::vector<std::string>& strings, const std::string& translations = u16(0x409) + u16(0x4b0),
                  std::u16string_view table = u"040904B0") {
    return node(u"VS_VERSION_INFO", 0, std::string(52, '\0'),
                {node(u"StringFileInfo", 1, "", {node(table, 1, "", strings)}),
                 node(u"VarFileInfo", 1, "", {node(u"Translation", 0, translations)})});
}

TEST(VersionResource, FindsStringsIgnoringCaseAndReadsNoFurtherThanEachNode) {
    const std::string company = node(u"CompanyName", 1, text(u"Acme"));
    const std::string good = block({node(u"FileDescription", 1, text(u"Tray helper")), company});
    // A key that runs to the end of its node without a NUL names nothing.
    std::string unterminated = node(u"CompanyName", 1, text(u"Acme"));
    unterminated.replace(0, 2, u16(6 + 2 * 11));
    struct Case {
        const char* what;
        std::string bytes;
        std::string name;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"table and key in another case", good, "companyname", "Acme"},
        {"missing key", good, "ProductName", std::nullopt},
        {"length counted in bytes", block({node(u"CompanyName", 1, text(u"Acme"), {}, 10)}), "CompanyName", "Acme"},
        {"length past the block", block({node(u"CompanyName", 1, text(u"Acme"), {}, 900)}), "CompanyName", "Acme"},
        {"no length", block({node(u"CompanyName", 1, text(u"Acme"), {}, 0)}), "CompanyName", ""},
        {"embedded NUL", block({node(u"CompanyName", 1, utf16(u"Ac") + u16(0) + text(u"me"))}), "CompanyName", "Ac"},
        {"unpaired surrogate", block({node(u"CompanyName", 1, text(u"A\xD800"))}), "CompanyName", "A\xEF\xBF\xBD"},
        {"first of two equal keys", block({company, node(u"CompanyName", 1, text(u"Other"))}), "CompanyName", "Acme"},
        {"cut inside the key", good.substr(0, good.rfind(utf16(u"CompanyName")) + 6), "CompanyName", std::nullopt},
        {"unterminated key", block({unterminated}), "CompanyName", std::nullopt},
        {"empty", "", "CompanyName", std::nullopt},
        {"header only", std::string(6, '\xFF'), "CompanyName", std::nullopt},
    };
    for (const Case& c : cases) EXPECT_EQ(version_string(c.bytes, "040904b0", c.name), c.expected) << c.what;
    EXPECT_EQ(version_string(good, "040704b0", "CompanyName"), std::nullopt) << "another table";
}

TEST(VersionResource, ListsTranslationsInOrderAsTableNames) {
    const std::string two = u16(0x409) + u16(0x4b0) + u16(0x407) + u16(0x4E4);
    EXPECT_EQ(version_translations(block({}, two)), (std::vector<std::string>{"040904b0", "040704e4"}));
    EXPECT_EQ(version_translations(block({}, two + "\x01\x02")), (std::vector<std::string>{"040904b0", "040704e4"}))
        << "a part of a pair is no translation";
    EXPECT_TRUE(version_translations(block({}, "")).empty());
    const std::string whole = block({}, two);
    EXPECT_TRUE(version_translations(whole.substr(0, whole.size() - 4)).size() < 2) << "cut short";
    // A child claiming more than its parent holds is read only as far as the parent goes.
    std::string claims_more = whole;
    claims_more.replace(0, 2, u16(static_cast<std::uint16_t>(whole.size() - 4)));
    EXPECT_EQ(version_translations(claims_more), std::vector<std::string>{"040904b0"});
}

}  // namespace
}  // namespace qm::formats
