#include <gtest/gtest.h>

#include "platform/PercentEscape.h"

using platform::addPercentEscapes;

// Illegal characters are escaped, reserved and unreserved ones kept.
TEST(PercentEscape, EscapesOnlyIllegalCharacters) {
    EXPECT_EQ(addPercentEscapes("http://host:8170/"), "http://host:8170/");
    EXPECT_EQ(addPercentEscapes("http://h/a b\"<>\\^`{|}[]"),
              "http://h/a%20b%22%3C%3E%5C%5E%60%7B%7C%7D%5B%5D");
    EXPECT_EQ(addPercentEscapes("http://h/p?q=1&r=a+b;c=$,@!~*'()-_.#frag"),
              "http://h/p?q=1&r=a+b;c=$,@!~*'()-_.#frag");
}

// Already escaped sequences stay as they are; a lone or malformed % is escaped.
TEST(PercentEscape, KeepsValidEscapes) {
    EXPECT_EQ(addPercentEscapes("http://h/My%20Show.mp3"), "http://h/My%20Show.mp3");
    EXPECT_EQ(addPercentEscapes("http://h/100%"), "http://h/100%25");
    EXPECT_EQ(addPercentEscapes("http://h/%zz%4"), "http://h/%25zz%254");
    EXPECT_EQ(addPercentEscapes(addPercentEscapes("http://h/a b")), "http://h/a%20b");
}

// Non-ASCII text is escaped byte by byte as UTF-8.
TEST(PercentEscape, EscapesUtf8Bytes) {
    EXPECT_EQ(addPercentEscapes("http://h/Rådio ü"), "http://h/R%C3%A5dio%20%C3%BC");
    EXPECT_EQ(addPercentEscapes(std::string("a\tb\x01", 4)), "a%09b%01");
}
