// Request heads and byte ranges as the station reads them.

#include <gtest/gtest.h>

#include <string>

#include "tools/station/ByteRange.h"
#include "tools/station/HttpRequest.h"

using station::ByteRange;
using station::resolveByteRange;

namespace {

struct RangeCase {
    const char* header;  // nullptr: no Range header
    uint64_t length;
    ByteRange::Kind kind;
    uint64_t first;
    uint64_t last;
};

const char* kindName(ByteRange::Kind kind) {
    switch (kind) {
        case ByteRange::Kind::Whole: return "Whole";
        case ByteRange::Kind::Partial: return "Partial";
        case ByteRange::Kind::Unsatisfiable: return "Unsatisfiable";
    }
    return "?";
}

}  // namespace

// Every form of Range the station meets resolves to the bytes HTTP says, the streamer's own
// "bytes=N-LENGTH" included; what is not served falls back to the whole resource.
TEST(ByteRange, ResolvesEachFormAgainstTheLength) {
    using K = ByteRange::Kind;
    const RangeCase cases[] = {
        {nullptr, 1000, K::Whole, 0, 0},
        {"bytes=0-99", 1000, K::Partial, 0, 99},
        {"bytes=5000-5000", 5000, K::Unsatisfiable, 0, 0},  // seek to the very end
        {"bytes=1000-5000", 5000, K::Partial, 1000, 4999},
        {"bytes=1000-5000", 5001, K::Partial, 1000, 5000},
        {"bytes=1000-5000", 3000, K::Partial, 1000, 2999},  // end past the end reaches the end
        {"bytes=999-999", 1000, K::Partial, 999, 999},
        {"bytes=100-", 1000, K::Partial, 100, 999},
        {"bytes=-100", 1000, K::Partial, 900, 999},
        {"bytes=-5000", 1000, K::Partial, 0, 999},
        {"bytes=-0", 1000, K::Unsatisfiable, 0, 0},
        {"bytes=0-", 0, K::Unsatisfiable, 0, 0},
        {"BYTES= 10 - 20 ", 1000, K::Partial, 10, 20},
        {"bytes=99999999999999999999999-", 1000, K::Unsatisfiable, 0, 0},
        {"bytes=0-99999999999999999999999", 1000, K::Partial, 0, 999},
        {"bytes=5-3", 1000, K::Whole, 0, 0},
        {"bytes=0-1,5-6", 1000, K::Whole, 0, 0},
        {"items=0-5", 1000, K::Whole, 0, 0},
        {"bytes=abc", 1000, K::Whole, 0, 0},
        {"bytes=1-2x", 1000, K::Whole, 0, 0},
        {"bytes=-", 1000, K::Whole, 0, 0},
        {"bytes=+5-9", 1000, K::Whole, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.header ? c.header : "(none)") + " of " +
                     std::to_string(c.length));
        std::optional<std::string_view> header;
        if (c.header) header = c.header;
        const ByteRange range = resolveByteRange(header, c.length);
        EXPECT_STREQ(kindName(range.kind), kindName(c.kind));
        if (c.kind == K::Partial) {
            EXPECT_EQ(range.first, c.first);
            EXPECT_EQ(range.last, c.last);
        }
    }
}

// The head ends at the first blank line, whether the client ends lines with CRLF or LF.
TEST(HttpRequest, FindsTheEndOfTheHead) {
    using station::findRequestHeadEnd;
    EXPECT_FALSE(findRequestHeadEnd("GET / HTTP/1.1\r\nHost: x\r\n"));
    EXPECT_EQ(findRequestHeadEnd("GET / HTTP/1.1\r\n\r\nbody"), 18u);
    EXPECT_EQ(findRequestHeadEnd("GET / HTTP/1.0\n\n"), 16u);
    EXPECT_EQ(findRequestHeadEnd("GET / HTTP/1.1\r\nA: b\r\n\r\nX: y\n\n"), 24u);
}

// A well-formed request yields its method, path without query or authority, and its fields,
// found without regard to case.
TEST(HttpRequest, ParsesRequestLineAndFields) {
    auto request = station::parseRequestHead(
        "GET /programmes/night-ferry.mp3?x=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nrange:  bytes=5-  "
        "\r\n\r\n");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->method, "GET");
    EXPECT_EQ(request->path, "/programmes/night-ferry.mp3");
    EXPECT_EQ(request->version, "HTTP/1.1");
    EXPECT_EQ(request->header("Range").value_or(""), "bytes=5-");
    EXPECT_EQ(request->header("HOST").value_or(""), "127.0.0.1");
    EXPECT_FALSE(request->header("Accept"));

    auto absolute = station::parseRequestHead("GET http://127.0.0.1:8171/dev/feed/ HTTP/1.0\n\n");
    ASSERT_TRUE(absolute);
    EXPECT_EQ(absolute->path, "/dev/feed/");
    auto bare = station::parseRequestHead("HEAD http://127.0.0.1:8170 HTTP/1.1\r\n\r\n");
    ASSERT_TRUE(bare);
    EXPECT_EQ(bare->path, "/");
}

// Heads that are not HTTP/1.x requests are refused rather than guessed at.
TEST(HttpRequest, RefusesMalformedHeads) {
    const char* heads[] = {
        "",
        "\r\n\r\n",
        "GET /\r\n\r\n",
        "GET / HTTP/2.0\r\n\r\n",
        "GET  / HTTP/1.1\r\n\r\n",
        "GET / HTTP/1.1 extra\r\n\r\n",
        "GET relative HTTP/1.1\r\n\r\n",
        "G(T / HTTP/1.1\r\n\r\n",
        "GET / HTTP/1.1\r\nNo colon here\r\n\r\n",
        "GET / HTTP/1.1\r\nA: b\r\n folded\r\n\r\n",
        "GET / HTTP/1.1\r\nBad Name: b\r\n\r\n",
    };
    for (const char* head : heads) {
        SCOPED_TRACE(head);
        EXPECT_FALSE(station::parseRequestHead(head));
    }
}
