#include <string>

#include <gtest/gtest.h>

#include "util/base64.h"

namespace qm {
namespace {

TEST(Base64, EncodesTheStandardVectorsWithPadding) {
    EXPECT_EQ(base64_encode(""), "");
    EXPECT_EQ(base64_encode("f"), "Zg==");
    EXPECT_EQ(base64_encode("fo"), "Zm8=");
    EXPECT_EQ(base64_encode("foo"), "Zm9v");
    EXPECT_EQ(base64_encode("foob"), "Zm9vYg==");
    EXPECT_EQ(base64_encode("fooba"), "Zm9vYmE=");
    EXPECT_EQ(base64_encode("foobar"), "Zm9vYmFy");
}

TEST(Base64, EncodesEveryByteValueIncludingZerosAndHighBytes) {
    EXPECT_EQ(base64_encode(std::string("\0\0\0", 3)), "AAAA");
    EXPECT_EQ(base64_encode(std::string("\0", 1)), "AA==");
    EXPECT_EQ(base64_encode("\xff\xff\xff"), "////");
    EXPECT_EQ(base64_encode("\xfb\xef\xbe"), "++++");
    // UTF-16LE "a", as the PowerShell runner encodes scripts.
    EXPECT_EQ(base64_encode(std::string("a\0", 2)), "YQA=");
}

}  // namespace
}  // namespace qm
