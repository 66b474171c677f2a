// Where a request head ends when it arrives in pieces: the outcome, and the
// limit on the head as sent, never depend on how the bytes were cut.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "server/http_request.h"

namespace qm {
namespace {

using server::HeadCollector;

// Feeds `bytes` in pieces that end at each of `cuts` (those past the end count as the end).
HeadCollector collect(const std::string& bytes, const std::vector<std::size_t>& cuts, std::size_t limit) {
    HeadCollector collector(limit);
    std::size_t from = 0;
    for (std::size_t cut : cuts) {
        cut = std::min(cut, bytes.size());
        collector.add(std::string_view(bytes).substr(from, cut - from));
        from = cut;
    }
    collector.add(std::string_view(bytes).substr(from));
    return collector;
}

TEST(HttpFraming, TheHeadEndsAtTheFirstBlankLineAndItsLimitCountsAllOfItAsSent) {
    const std::string head = "POST /api/plan HTTP/1.1\r\nHost: a\r\nX: \r\n";
    const std::string body = "{\"a\":\"\r\n\r\n\"}";
    const std::string sent = head + "\r\n" + body;
    const std::size_t exact = head.size() + 2;  // through the blank line

    // Whole, cut once anywhere, one byte at a time, and in random pieces.
    std::vector<std::vector<std::size_t>> ways{{}};
    for (std::size_t at = 0; at <= sent.size(); ++at) ways.push_back({at});
    ways.emplace_back();
    for (std::size_t at = 1; at < sent.size(); ++at) ways.back().push_back(at);
    std::mt19937 random(18);
    for (int round = 0; round < 50; ++round) {
        ways.emplace_back();
        for (std::size_t at = 0; at < sent.size(); at += 1 + random() % 9) ways.back().push_back(at);
    }

    for (const auto& cuts : ways) {
        HeadCollector fits = collect(sent, cuts, exact);
        ASSERT_EQ(fits.state(), HeadCollector::State::complete);
        EXPECT_EQ(fits.head(), head.substr(0, head.size() - 2));
        EXPECT_TRUE(body.starts_with(fits.rest())) << fits.rest();
        EXPECT_EQ(collect(sent, cuts, exact - 1).state(), HeadCollector::State::too_large);
        // Without its blank line yet: more is needed below the limit, never at it.
        EXPECT_EQ(collect(head + "\r", cuts, exact).state(), HeadCollector::State::more);
        EXPECT_EQ(collect(head + "x\r", cuts, exact).state(), HeadCollector::State::too_large);
    }
}

}  // namespace
}  // namespace qm
