#include <gtest/gtest.h>

#include "formats/package_checksums.h"

namespace qm::formats {
namespace {

TEST(PackageChecksums, FindsThePathsLineAndSkipsAnyOther) {
    const std::string list =
        "0123456789abcdef0123456789ABCDEF  usr/bin/tool\n"
        "ffffffffffffffffffffffffffffffff *usr/bin/star\n"
        "not a checksum line\n"
        "0123456789abcdef0123456789abcdeg  usr/bin/bad\n"
        "0123456789abcdef0123456789abcdef usr/bin/one-space\n"
        "11111111111111111111111111111111  usr/bin/with space\r\n"
        "22222222222222222222222222222222  usr/bin/tool.d/tool";
    const struct {
        const char* path;
        std::optional<std::string> digest;
    } cases[] = {
        {"/usr/bin/tool", "0123456789abcdef0123456789abcdef"},
        {"/usr/bin/star", "ffffffffffffffffffffffffffffffff"},
        {"/usr/bin/with space", "11111111111111111111111111111111"},
        {"/usr/bin/tool.d/tool", "22222222222222222222222222222222"},
        {"/usr/bin/bad", std::nullopt},
        {"/usr/bin/one-space", std::nullopt},
        {"/usr/bin/to", std::nullopt},
        {"usr/bin/tool", std::nullopt},  // only absolute paths are asked
    };
    for (const auto& c : cases) EXPECT_EQ(recorded_md5(list, c.path), c.digest) << c.path;
}

}  // namespace
}  // namespace qm::formats
