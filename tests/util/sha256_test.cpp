#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "util/sha256.h"

namespace {

// The inputs of tests/util/make_sha256_vectors.sh: n bytes from a linear
// congruential generator started at n, each the top byte of the new state.
std::string generated_input(std::size_t length, std::uint32_t seed) {
    std::uint32_t x = seed;
    std::string bytes(length, '\0');
    for (char& c : bytes) {
        x = x * 1664525u + 1013904223u;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

std::string generated_input(std::size_t length) { return generated_input(length, static_cast<std::uint32_t>(length)); }

std::string hex_of(const qm::Sha256::Digest& digest) {
    std::string hex;
    char pair[3];
    for (std::uint8_t byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned>(byte));
        hex += pair;
    }
    return hex;
}

// Unix paths reach Windows programs under Wine through its Z: drive.
std::ifstream open_source_file(const std::string& relative) {
    const std::string path = std::string(QM_SOURCE_DIR) + "/" + relative;
    std::ifstream in(path);
#ifdef _WIN32
    if (!in) in = std::ifstream("Z:" + path);
#endif
    return in;
}

TEST(Sha256, NistExampleVectors) {
    EXPECT_EQ(qm::sha256_hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(qm::sha256_hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(qm::sha256_hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(qm::sha256_hex(
                  "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopq"
                  "rsmnopqrstnopqrstu"),
              "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1");
    EXPECT_EQ(qm::sha256_hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

// Reference digests from the system's sha256sum for every length 0..1000
// (every padding case several times over) and one input of several megabytes.
TEST(Sha256, AgreesWithStoredReferenceDigests) {
    std::ifstream in = open_source_file("tests/util/sha256_vectors.txt");
    ASSERT_TRUE(in) << "cannot open the reference digests";
    std::size_t lines = 0;
    std::size_t largest = 0;
    std::size_t length = 0;
    std::string expected;
    while (in >> length >> expected) {
        ASSERT_EQ(qm::sha256_hex(generated_input(length)), expected) << "length " << length;
        if (length <= 1000) ++lines;
        largest = std::max(largest, length);
    }
    EXPECT_EQ(lines, 1001u);
    EXPECT_GT(largest, 4'000'000u);
}

TEST(Sha256, PiecewiseUpdatesGiveTheSameDigest) {
    // Two pieces split at every boundary of a three-block message.
    const std::string message = generated_input(200, 7);
    const std::string whole = qm::sha256_hex(message);
    for (std::size_t cut = 0; cut <= message.size(); ++cut) {
        qm::Sha256 hasher;
        hasher.update(std::string_view(message).substr(0, cut));
        hasher.update(std::string_view(message).substr(cut));
        ASSERT_EQ(hex_of(hasher.finish()), whole) << "cut at " << cut;
    }
    // Three pieces at every pair of boundaries of a shorter message.
    const std::string short_message = generated_input(130, 9);
    const std::string short_whole = qm::sha256_hex(short_message);
    const std::string_view view = short_message;
    for (std::size_t a = 0; a <= view.size(); ++a) {
        for (std::size_t b = a; b <= view.size(); ++b) {
            qm::Sha256 hasher;
            hasher.update(view.substr(0, a));
            hasher.update(view.substr(a, b - a));
            hasher.update(view.substr(b));
            ASSERT_EQ(hex_of(hasher.finish()), short_whole) << a << "," << b;
        }
    }
    // One byte at a time, and chunks of changing odd sizes over megabytes.
    qm::Sha256 bytewise;
    for (char c : message) bytewise.update(std::string_view(&c, 1));
    EXPECT_EQ(hex_of(bytewise.finish()), whole);

    const std::string big = generated_input(3'000'017, 11);
    qm::Sha256 chunked;
    std::uint32_t step = 1;
    for (std::size_t at = 0; at < big.size();) {
        step = step * 69069u + 1;
        const std::size_t size = std::min<std::size_t>(step % 9000, big.size() - at);
        chunked.update(std::string_view(big).substr(at, size));
        at += size;
    }
    EXPECT_EQ(hex_of(chunked.finish()), qm::sha256_hex(big));
}

TEST(Sha256, FinishStartsAFreshMessage) {
    qm::Sha256 hasher;
    hasher.update("something else first");
    (void)hasher.finish();
    hasher.update("abc");
    EXPECT_EQ(hex_of(hasher.finish()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex_of(hasher.finish()), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Sha256, HashesMegabytesQuickly) {
    const std::string data = generated_input(16 * 1024 * 1024, 3);
    const auto start = std::chrono::steady_clock::now();
    const std::string digest = qm::sha256_hex(data);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(digest.size(), 64u);
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

#ifndef _WIN32
// Natively the system tool is at hand, so inputs unlike those of the stored
// file are checked against it directly.
TEST(Sha256, AgreesWithTheSystemTool) {
    const std::filesystem::path folder = std::filesystem::temp_directory_path();
    for (std::size_t length : {0u, 1u, 55u, 56u, 63u, 64u, 65u, 111u, 119u, 120u, 128u, 4097u, 1'000'003u}) {
        const std::string data = generated_input(length, 0xC0FFEEu + static_cast<std::uint32_t>(length));
        const std::filesystem::path file = folder / ("qm-sha256-" + std::to_string(length) + ".bin");
        std::ofstream(file, std::ios::binary).write(data.data(), static_cast<std::streamsize>(data.size()));
        FILE* pipe = ::popen(("sha256sum '" + file.string() + "'").c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        char line[128] = {};
        const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
        ::pclose(pipe);
        std::filesystem::remove(file);
        if (!read) GTEST_SKIP() << "sha256sum is not available";
        EXPECT_EQ(qm::sha256_hex(data), std::string(line, 64)) << "length " << length;
    }
}
#endif

}  // namespace
