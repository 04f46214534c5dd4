// The extension and the last component of a URL's path, as the streamer's format hint and the
// list's fallback row title read them.

#include <gtest/gtest.h>

#include "platform/URLPath.h"

using platform::lastPathComponentOfURL;
using platform::pathExtensionOfURL;

// The extension comes from the last path component only, with escapes decoded and query and
// fragment left out; the host's name never counts as a file name.
TEST(URLPath, ExtensionOfThePath) {
    EXPECT_EQ(pathExtensionOfURL("http://host/programmes/night-ferry.mp3"), "mp3");
    EXPECT_EQ(pathExtensionOfURL("http://host/a/b.m4a?token=x.y#t=1.5"), "m4a");
    EXPECT_EQ(pathExtensionOfURL("http://host/a/b%2Eaac"), "aac");
    EXPECT_EQ(pathExtensionOfURL("http://host/a.d/stream/"), "");
    EXPECT_EQ(pathExtensionOfURL("http://host/archive.tar.gz"), "gz");
    EXPECT_EQ(pathExtensionOfURL("http://radio.example.mp3"), "");
    EXPECT_EQ(pathExtensionOfURL("http://host/"), "");
    EXPECT_EQ(pathExtensionOfURL("/local/file.wav"), "wav");
    EXPECT_EQ(pathExtensionOfURL(""), "");
}

// The last component is shown as written: escapes kept, query, fragment and trailing slashes
// gone; a URL without a path gives its host.
TEST(URLPath, LastComponentAsWritten) {
    EXPECT_EQ(lastPathComponentOfURL("http://host/a/night%20ferry.mp3?x=1/2"), "night%20ferry.mp3");
    EXPECT_EQ(lastPathComponentOfURL("http://host/shows/monday//"), "monday");
    EXPECT_EQ(lastPathComponentOfURL("http://host/a#frag/b"), "a");
    EXPECT_EQ(lastPathComponentOfURL("http://host"), "host");
    EXPECT_EQ(lastPathComponentOfURL("plain-name"), "plain-name");
}
