// How a request head is collected from the network and how its framing is
// judged: where the head ends, how long the body is, and which heads are
// refused before any of their values is trusted.
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

// Every way of cutting `bytes` in two or three, one byte at a time, and
// random pieces: the outcome never depends on how the bytes arrived.
std::vector<std::vector<std::size_t>> ways_to_cut(std::size_t size) {
    std::vector<std::vector<std::size_t>> ways{{}};
    for (std::size_t a = 0; a <= size; ++a) {
        ways.push_back({a});
        for (std::size_t b = a; b <= size; b += 7) ways.push_back({a, b});
    }
    std::vector<std::size_t> bytewise;
    for (std::size_t i = 1; i < size; ++i) bytewise.push_back(i);
    ways.push_back(bytewise);
    std::mt19937 random(18);
    for (int round = 0; round < 50; ++round) {
        std::vector<std::size_t> cuts;
        for (std::size_t at = 0; at < size; at += 1 + random() % 9) cuts.push_back(at);
        ways.push_back(cuts);
    }
    return ways;
}

TEST(HttpFraming, TheHeadEndsAtTheFirstBlankLineAndItsLimitCountsAllOfItAsSent) {
    const std::string head = "POST /api/plan HTTP/1.1\r\nHost: a\r\nX: \r\n";
    const std::string body = "{\"a\":\"\r\n\r\n\"}";
    const std::string sent = head + "\r\n" + body;
    const std::size_t exact = head.size() + 2;  // through the blank line
    for (const auto& cuts : ways_to_cut(sent.size())) {
        HeadCollector fits = collect(sent, cuts, exact);
        ASSERT_EQ(fits.state(), HeadCollector::State::complete);
        EXPECT_EQ(fits.head(), head.substr(0, head.size() - 2));
        // The start of the body that came with the head's last piece.
        EXPECT_TRUE(body.starts_with(fits.rest())) << fits.rest();
        EXPECT_EQ(collect(sent, cuts, exact - 1).state(), HeadCollector::State::too_large);
        // Without its blank line yet: more is needed below the limit, never at it.
        EXPECT_EQ(collect(head, cuts, exact).state(), HeadCollector::State::more);
        EXPECT_EQ(collect(head + "\r", cuts, exact).state(), HeadCollector::State::more);
        EXPECT_EQ(collect(head + "x\r", cuts, exact).state(), HeadCollector::State::too_large);
    }
}

TEST(HttpFraming, ContentLengthIsItsDigitsAndTooLongANumberIsOverEveryLimit) {
    const std::uint64_t too_large = server::length_too_large;
    const struct {
        const char* value;
        std::uint64_t length;
    } cases[] = {
        {"0", 0}, {"12", 12}, {" 12 ", 12}, {"0012", 12}, {"00000000000000000000012", 12},
        {"4194304", 4194304}, {"18446744073709551614", 18446744073709551614u},
        {"18446744073709551615", too_large}, {"18446744073709551616", too_large},
        {"99999999999999999999", too_large}, {"123456789012345678901234567890", too_large},
        // Not a length at all: no body, as before.
        {"", 0}, {"-5", 0}, {"+5", 0}, {"1e3", 0}, {"0x10", 0}, {"12abc", 0}, {"1 2", 0}, {"5, 5", 0},
    };
    for (const auto& c : cases) {
        std::optional<server::RequestHead> head = server::parse_request_head(std::string("POST / HTTP/1.1\r\nContent-Length:") + c.value);
        ASSERT_TRUE(head.has_value());
        EXPECT_EQ(head->content_length, c.length) << "\"" << c.value << "\"";
    }
}

TEST(HttpFraming, HeadsWhoseFramingCannotBeTrustedAreRefusedFirst) {
    const char* repeated = "A header that may appear only once is repeated.";
    const char* folded = "A header line is folded onto the one before it.";
    const struct {
        const char* headers;
        int status;  // 0: served
        const char* message;
    } cases[] = {
        {"Host: a\r\nContent-Length: 2\r\nOrigin: o\r\nToken: t\r\nAccept: x\r\nAccept: y", 0, ""},
        {"Host: a\r\nhost: a", 400, repeated},
        {"Host: a\r\nHOST:", 400, repeated},
        {"Content-Length: 2\r\nContent-Length: 2", 400, repeated},
        {"Origin: o\r\nX: y\r\norigin: p", 400, repeated},
        {"Token: t\r\nTOKEN: t", 400, repeated},
        {"Host: a\r\n b", 400, folded},
        {"X: y\r\n\tHost: a", 400, folded},
        {" Host: a", 400, folded},
        {"Transfer-Encoding: chunked", 501, "Transfer-Encoding is not supported."},
        {"transfer-encoding:", 501, "Transfer-Encoding is not supported."},
        {"Content-Length: 5\r\nTransfer-Encoding: identity", 501, "Transfer-Encoding is not supported."},
    };
    for (const auto& c : cases) {
        std::optional<server::RequestHead> head = server::parse_request_head(std::string("GET / HTTP/1.1\r\n") + c.headers);
        ASSERT_TRUE(head.has_value()) << c.headers;
        std::optional<server::HeadRefusal> refusal = server::refuse_head(*head, {"host", "content-length", "origin", "token"});
        EXPECT_EQ(refusal ? refusal->status : 0, c.status) << c.headers;
        EXPECT_EQ(refusal ? refusal->message : "", c.message) << c.headers;
    }
    // A folded line never becomes a header of its own.
    EXPECT_FALSE(server::find_header(*server::parse_request_head("GET / HTTP/1.1\r\nX: y\r\n Host: a"), "host"));
}

}  // namespace
}  // namespace qm
