#include <gtest/gtest.h>

#include <string>

#include "util/hex.h"

namespace {

TEST(Hex, BytesBecomeTwoLowerCaseDigitsEach) {
    EXPECT_EQ(qm::to_hex(""), "");
    EXPECT_EQ(qm::to_hex(std::string("\x00\xFF\x10\xAB\x7F", 5)), "00ff10ab7f");
}

TEST(Hex, DigitsOfEitherCaseHaveTheirValueAndNothingElseIsADigit) {
    const std::string digits = "0123456789abcdef";
    for (int value = 0; value < 16; ++value) {
        const char lower = digits[static_cast<std::size_t>(value)];
        const char upper = lower >= 'a' ? static_cast<char>(lower - 'a' + 'A') : lower;
        EXPECT_EQ(qm::hex_digit_value(lower), value) << lower;
        EXPECT_EQ(qm::hex_digit_value(upper), value) << upper;
    }
    // The bytes just outside each range of digits, and one that is not ASCII.
    for (char c : {'/', ':', '@', 'G', '`', 'g', ' ', '\0', '\xC3'}) {
        EXPECT_EQ(qm::hex_digit_value(c), -1) << static_cast<int>(c);
        EXPECT_FALSE(qm::is_hex_digit(c)) << static_cast<int>(c);
    }
    EXPECT_TRUE(qm::is_hex_digit('F'));
}

}  // namespace
