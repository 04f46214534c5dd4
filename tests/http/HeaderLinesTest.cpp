// The small parsers under the read stream, on the inputs a server or a caller may give them.

#include <gtest/gtest.h>

#include "platform/http/HeaderLines.h"

using namespace platform::http;

// Status lines of every generation are recognised, Shoutcast's included; other lines are not.
TEST(HeaderLines, StatusLines) {
    EXPECT_EQ(parseStatusLine("HTTP/1.1 206 Partial Content\r\n"), 206);
    EXPECT_EQ(parseStatusLine("HTTP/1.0 404 Not Found\r\n"), 404);
    EXPECT_EQ(parseStatusLine("HTTP/2 200\r\n"), 200);
    EXPECT_EQ(parseStatusLine("ICY 200 OK\r\n"), 200);
    EXPECT_EQ(parseStatusLine("Content-Type: audio/mpeg\r\n"), std::nullopt);
    EXPECT_EQ(parseStatusLine("HTTP/1.1 2000 OK\r\n"), std::nullopt);
    EXPECT_EQ(parseStatusLine("HTTP/1.1 20\r\n"), std::nullopt);
    EXPECT_EQ(parseStatusLine("\r\n"), std::nullopt);
}

// Fields are split at the first colon, trimmed, and named in the usual spelling.
TEST(HeaderLines, Fields) {
    std::string name;
    std::string value;
    ASSERT_TRUE(parseHeaderField("content-LENGTH:   5000 \r\n", name, value));
    EXPECT_EQ(name, "Content-Length");
    EXPECT_EQ(value, "5000");
    ASSERT_TRUE(parseHeaderField("Location: http://a/b:c\r\n", name, value));
    EXPECT_EQ(value, "http://a/b:c");
    ASSERT_TRUE(parseHeaderField("icy-metaint:8192\r\n", name, value));
    EXPECT_EQ(name, "Icy-Metaint");
    EXPECT_FALSE(parseHeaderField("\r\n", name, value));
    EXPECT_FALSE(parseHeaderField(": no name\r\n", name, value));
}

// Only a single "bytes=N-" or "bytes=N-M" range gives a start; numbers that do not fit or
// ranges that end before they start give none, so nothing is skipped on their account.
TEST(HeaderLines, RangeStart) {
    EXPECT_EQ(rangeStart("bytes=1000-5000"), 1000u);
    EXPECT_EQ(rangeStart("bytes=1000-"), 1000u);
    EXPECT_EQ(rangeStart("bytes=0-0"), 0u);
    EXPECT_EQ(rangeStart("bytes=18446744073709551615-"), 18446744073709551615u);
    EXPECT_EQ(rangeStart("bytes=18446744073709551616-"), std::nullopt);
    EXPECT_EQ(rangeStart("bytes=-500"), std::nullopt);
    EXPECT_EQ(rangeStart("bytes=5000-1000"), std::nullopt);
    EXPECT_EQ(rangeStart("bytes=1-2,5-6"), std::nullopt);
    EXPECT_EQ(rangeStart("items=1-2"), std::nullopt);
    EXPECT_EQ(rangeStart(""), std::nullopt);
}

// A Content-Length value gives its leading number after blanks and a plus sign; a minus sign,
// no digits or a number past 64 bits give no length rather than a wrapped one.
TEST(HeaderLines, ContentLength) {
    using platform::http::contentLength;
    EXPECT_EQ(contentLength("5000"), 5000u);
    EXPECT_EQ(contentLength("  \t42abc"), 42u);
    EXPECT_EQ(contentLength("+7"), 7u);
    EXPECT_EQ(contentLength("18446744073709551615"), 18446744073709551615u);
    EXPECT_EQ(contentLength("18446744073709551616"), std::nullopt);
    EXPECT_EQ(contentLength("-5"), std::nullopt);
    EXPECT_EQ(contentLength("+-5"), std::nullopt);
    EXPECT_EQ(contentLength("abc"), std::nullopt);
    EXPECT_EQ(contentLength(""), std::nullopt);
}

// A Content-Range gives its first byte only in the "bytes A-B/C" form, the length unknown
// ("*") included; anything else gives nothing.
TEST(HeaderLines, ContentRangeStart) {
    using platform::http::contentRangeStart;
    EXPECT_EQ(contentRangeStart("bytes 100-999/1000"), 100u);
    EXPECT_EQ(contentRangeStart(" bytes 0-0/*"), 0u);
    EXPECT_EQ(contentRangeStart("bytes 500-100/1000"), std::nullopt);
    EXPECT_EQ(contentRangeStart("bytes */1000"), std::nullopt);
    EXPECT_EQ(contentRangeStart("items 1-2/3"), std::nullopt);
    EXPECT_EQ(contentRangeStart("bytes 100-999"), std::nullopt);
}
