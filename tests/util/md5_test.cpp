#include <gtest/gtest.h>

#include <string>

#include "util/md5.h"

namespace {

// The test suite of RFC 1321, section A.5.
TEST(Md5, GivesTheStandardDigests) {
    const struct {
        std::string input, digest;
    } cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : cases) EXPECT_EQ(qm::md5_hex(c.input), c.digest) << c.input;
}

TEST(Md5, DoesNotDependOnHowTheInputIsSplit) {
    std::string input;
    for (int i = 0; i < 300; ++i) input.push_back(static_cast<char>(i * 7));
    const std::string whole = qm::md5_hex(input);
    for (std::size_t piece : {1u, 3u, 55u, 56u, 63u, 64u, 65u}) {
        qm::Md5 md5;
        for (std::size_t at = 0; at < input.size(); at += piece) md5.update(std::string_view(input).substr(at, piece));
        EXPECT_EQ(qm::digest_hex(md5.finish()), whole) << piece;
    }
}

}  // namespace
