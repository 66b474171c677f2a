// The reader against real shortcut files: each gives the fields listed in
// expected.json beside them, and any cut or damaged copy of one either reads
// or is not a link, without reading past its bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "json/json.h"
#include "formats/shell_link.h"
#include "formats/shell_link_samples.h"
#include "util/text.h"

namespace qm::formats {
namespace {

std::vector<std::string> sample_names() {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(test::shell_link_samples_folder())) {
        if (entry.path().extension() == ".lnk") names.push_back(entry.path().filename().string());
    }
    return names;
}

// Whatever a damaged file gives must still be text the rest of the program
// can take: valid UTF-8, and no more of it than the input could hold.
void expect_sound(const std::optional<formats::ShellLink>& link, std::size_t input_size, const std::string& what) {
    if (!link) return;
    for (const std::string* field : {&link->target, &link->arguments, &link->working_directory}) {
        EXPECT_TRUE(is_valid_utf8(*field)) << what;
        EXPECT_LE(field->size(), 3 * input_size) << what;
    }
}

TEST(ShellLinkConformance, RealFilesGiveTheirExpectedFields) {
    const auto expected = json::parse(test::read_shell_link_sample("expected.json"));
    ASSERT_TRUE(expected.has_value()) << expected.error();
    ASSERT_TRUE(expected->is_array());

    std::set<std::string> listed;
    for (const json::JsonValue& entry : expected->as_array()) {
        const std::string name = json::get_text(entry, "file");
        listed.insert(name);
        const std::string bytes = test::read_shell_link_sample(name);
        ASSERT_FALSE(bytes.empty()) << name;
        const std::optional<formats::ShellLink> link = formats::read_shell_link(bytes);
        ASSERT_EQ(link.has_value(), json::get_flag(entry, "is_link")) << name;
        if (!link) continue;
        EXPECT_EQ(link->target, json::get_text(entry, "target")) << name;
        EXPECT_EQ(link->arguments, json::get_text(entry, "arguments")) << name;
        EXPECT_EQ(link->working_directory, json::get_text(entry, "workdir")) << name;
    }
    // Every sample in the folder is listed, so none is silently skipped.
    const std::vector<std::string> names = sample_names();
    EXPECT_EQ(std::set<std::string>(names.begin(), names.end()), listed);
    EXPECT_EQ(listed.size(), 13U);
}

TEST(ShellLinkConformance, EveryCutOfARealFileReadsOrIsNotALink) {
    for (const std::string& name : sample_names()) {
        const std::string bytes = test::read_shell_link_sample(name);
        ASSERT_GE(bytes.size(), 76U) << name;
        for (std::size_t length = 0; length <= bytes.size(); ++length) {
            // A copy of exactly that length, so a read past it is caught by the sanitizers.
            const std::string cut = bytes.substr(0, length);
            const auto link = formats::read_shell_link(cut);
            if (length < 76) {
                EXPECT_FALSE(link.has_value()) << name << " cut at " << length;
            }
            expect_sound(link, length, name + " cut at " + std::to_string(length));
        }
    }
}

TEST(ShellLinkConformance, FlippedBytesAndRandomDamageReadOrAreNotALink) {
    std::mt19937 random(20240611);  // fixed, so a failure can be repeated
    for (const std::string& name : sample_names()) {
        const std::string bytes = test::read_shell_link_sample(name);
        // Every byte turned into its complement: sizes and offsets become huge, flags flip.
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            std::string damaged = bytes;
            damaged[i] = static_cast<char>(~damaged[i]);
            expect_sound(formats::read_shell_link(damaged), damaged.size(), name + " flipped at " + std::to_string(i));
        }
        // A few random bytes changed at random places, and sometimes the end cut off too.
        for (int round = 0; round < 300; ++round) {
            std::string damaged = bytes;
            const int changes = 1 + static_cast<int>(random() % 8);
            for (int c = 0; c < changes; ++c) {
                damaged[random() % damaged.size()] = static_cast<char>(random() & 0xFF);
            }
            if (round % 3 == 0) damaged.resize(random() % (damaged.size() + 1));
            expect_sound(formats::read_shell_link(damaged), damaged.size(),
                         name + " random round " + std::to_string(round));
        }
    }
}

}  // namespace
}  // namespace qm::formats
