// What the read stream delivers: bodies, ranges, redirects, headers, and the failures that
// end a stream with the error event. All against the loopback test server.

#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>

#include "platform/http/ReadStream.h"
#include "tests/http/StreamReader.h"
#include "tests/support/TestHttpServer.h"

using namespace platform::http;
using testsupport::Response;
using testsupport::StreamReader;
using testsupport::TestHttpServer;
using namespace std::chrono_literals;

namespace {

std::string sampleBody(size_t size, uint64_t from = 0) {
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i)
        body[i] = static_cast<char>(testsupport::patternByte(from + i));
    return body;
}

ReadStreamOptions withRange(const std::string& range) {
    ReadStreamOptions options;
    options.rangeHeader = range;
    return options;
}

// Reads `url` to its end; the end event must be the last event and the only terminal one.
void expectBody(const std::string& url, const std::string& expected,
                const ReadStreamOptions& options = {}) {
    StreamReader reader(url, options);
    ASSERT_TRUE(reader.open());
    ASSERT_TRUE(reader.run());
    EXPECT_TRUE(reader.ended()) << reader.stream().errorDescription();
    EXPECT_EQ(reader.terminalEvents, 1);
    EXPECT_EQ(reader.body.size(), expected.size());
    EXPECT_TRUE(reader.body == expected) << "body differs";
    EXPECT_LE(reader.largestRead, StreamReader::kReadSize);
}

// Reads `url` until the error event; returns the body delivered before it.
std::string expectError(const std::string& url, const ReadStreamOptions& options = {}) {
    StreamReader reader(url, options);
    EXPECT_TRUE(reader.open());
    EXPECT_TRUE(reader.run());
    EXPECT_TRUE(reader.failed());
    EXPECT_EQ(reader.terminalEvents, 1);
    EXPECT_FALSE(reader.stream().errorDescription().empty());
    return reader.body;
}

}  // namespace

// A body arrives byte-exact through 2048-byte reads, with the end event last, whether it is
// framed by Content-Length, by chunks of odd sizes, or by the connection's close.
TEST(ReadStreamBody, ArrivesExactInEveryFraming) {
    TestHttpServer server;
    const std::string body = sampleBody(1'000'003);
    server.serve("/length.mp3", Response::bytes(body));
    server.serve("/chunked.mp3", Response::bytes(body).chunked().writeSize(3001));
    server.serve("/close.mp3", Response::bytes(body).closeDelimited());
    server.serve("/empty.mp3", Response::bytes(""));
    for (const char* path : {"/length.mp3", "/chunked.mp3", "/close.mp3"}) {
        SCOPED_TRACE(path);
        expectBody(server.url(path), body);
    }
    expectBody(server.url("/empty.mp3"), "");
    const auto requests = server.requests();
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].version, "HTTP/1.1");
    EXPECT_FALSE(requests[0].hasHeader("Range"));
    EXPECT_FALSE(requests[0].hasHeader("Accept-Encoding"));  // no compressed transfer asked for
}

// A Range request reaches the server with the exact value and the 206 body is delivered.
TEST(ReadStreamRange, HonouredRangeDeliversPartialBody) {
    TestHttpServer server;
    const std::string body = sampleBody(5000);
    server.serve("/song.mp3", Response::bytes(body));
    // The engine asks up to the length itself, not length - 1.
    expectBody(server.url("/song.mp3"), body.substr(1000), withRange("bytes=1000-5000"));
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].header("Range"), "bytes=1000-5000");

    // The same from a file on disk, the way recorded programmes are served.
    const auto path = std::filesystem::temp_directory_path() /
                      ("ostra-range-" + std::to_string(::getpid()) + ".mp3");
    std::ofstream(path, std::ios::binary) << body;
    server.serve("/file.mp3", Response::file(path.string()));
    expectBody(server.url("/file.mp3"), body.substr(4321), withRange("bytes=4321-"));
    expectBody(server.url("/file.mp3"), body);
    std::filesystem::remove(path);
}

// Against a server that ignores Range, the bytes delivered still start at the offset asked
// for, across chunk and pause boundaries and whatever the framing.
TEST(ReadStreamRange, IgnoredRangeIsSkippedLocally) {
    TestHttpServer server;
    const std::string body = sampleBody(400'000);
    server.serve("/plain.mp3", Response::bytes(body).ignoreRange());
    server.serve("/chunked.mp3", Response::bytes(body).ignoreRange().chunked().writeSize(1000));
    for (const char* path : {"/plain.mp3", "/chunked.mp3"}) {
        for (size_t offset : {size_t{1}, size_t{70'001}, size_t{399'999}}) {
            SCOPED_TRACE(std::string(path) + " from " + std::to_string(offset));
            expectBody(server.url(path), body.substr(offset),
                       withRange("bytes=" + std::to_string(offset) + "-400000"));
        }
    }
}

// A 206 whose part starts before the byte asked for is skipped up to it; one that starts after
// it (here the whole file claimed as 500-) fails rather than playing the wrong place.
TEST(ReadStreamRange, PartialContentFromTheWrongPlace) {
    TestHttpServer server;
    const std::string body = sampleBody(10'000);
    server.serve("/early.mp3", Response::bytes(body)
                                   .ignoreRange()
                                   .statusLine("HTTP/1.1 206 Partial Content")
                                   .header("Content-Range", "bytes 0-9999/10000"));
    server.serve("/late.mp3", Response::bytes(body.substr(500))
                                  .ignoreRange()
                                  .statusLine("HTTP/1.1 206 Partial Content")
                                  .header("Content-Range", "bytes 500-9999/10000"));
    expectBody(server.url("/early.mp3"), body.substr(300), withRange("bytes=300-10000"));

    StreamReader reader(server.url("/late.mp3"), withRange("bytes=300-10000"));
    ASSERT_TRUE(reader.open());
    ASSERT_TRUE(reader.run());
    EXPECT_TRUE(reader.failed());
    EXPECT_TRUE(reader.body.empty());
}

// A range at or past the end is answered 416, which is the end of the stream, with no bytes.
TEST(ReadStreamRange, UnsatisfiableRangeEndsTheStream) {
    TestHttpServer server;
    server.serve("/song.mp3", Response::bytes(sampleBody(5000)));
    expectBody(server.url("/song.mp3"), "", withRange("bytes=5000-5000"));
    EXPECT_EQ(server.requests().at(0).header("Range"), "bytes=5000-5000");
}

// After redirects the header map is the final response's, its names in their usual spelling.
TEST(ReadStreamHeaders, FinalResponseHeadersAfterRedirect) {
    TestHttpServer server;
    const std::string body = sampleBody(3000);
    server.serve(
        "/song.mp3",
        Response::bytes(body).header("content-type", "audio/mpeg").header("X-Station", "final"));
    server.serve("/moved", Response::redirect("/song.mp3").header("X-Station", "redirect"));
    server.serve("/moved-twice", Response::redirect(server.url("/moved"), 301));
    StreamReader reader(server.url("/moved-twice"));
    ASSERT_TRUE(reader.open());
    EXPECT_TRUE(reader.stream().responseHeaders().empty());  // nothing before the response
    ASSERT_TRUE(reader.run());
    EXPECT_TRUE(reader.ended());
    EXPECT_TRUE(reader.body == body);
    EXPECT_EQ(reader.headers["X-Station"], "final");
    EXPECT_EQ(reader.headers["Content-Length"], "3000");
    EXPECT_EQ(reader.headers["Content-Type"], "audio/mpeg");
    EXPECT_EQ(reader.headers.count("Location"), 0u);
    EXPECT_EQ(server.requests().size(), 3u);
}

// A 404's HTML body is delivered as bytes like any other: the status is not examined here.
TEST(ReadStreamHeaders, NotFoundBodyIsDelivered) {
    TestHttpServer server;
    StreamReader reader(server.url("/missing.mp3"));
    ASSERT_TRUE(reader.open());
    ASSERT_TRUE(reader.run());
    EXPECT_TRUE(reader.ended());
    EXPECT_NE(reader.body.find("<html>"), std::string::npos);
    EXPECT_EQ(reader.headers["Content-Type"], "text/html; charset=utf-8");
}

// A Shoutcast-style "ICY 200 OK" live stream is accepted like HTTP 200.
TEST(ReadStreamHeaders, IcyLiveStreamIsAccepted) {
    TestHttpServer server;
    const std::string frames = sampleBody(4177);
    server.serve("/", Response::live(testsupport::repeating(frames)).icy());
    StreamReader reader(server.url("/"));
    ASSERT_TRUE(reader.open());
    ASSERT_TRUE(
        reader.run(std::chrono::seconds(10), [&] { return reader.body.size() >= 100'000; }));
    EXPECT_EQ(reader.terminalEvents, 0);
    ASSERT_GE(reader.body.size(), 100'000u);
    for (size_t at = 0; at + frames.size() <= reader.body.size(); at += frames.size()) {
        ASSERT_TRUE(reader.body.compare(at, frames.size(), frames) == 0) << "at " << at;
    }
    EXPECT_EQ(reader.headers["Icy-Name"], "Ostra Test Radio");
    EXPECT_EQ(reader.headers["Content-Type"], "audio/mpeg");
    EXPECT_EQ(reader.headers.count("Content-Length"), 0u);
}

// A live stream paced at a byte rate arrives no faster than that rate.
TEST(ReadStreamHeaders, PacedLiveStreamKeepsItsRate) {
    TestHttpServer server;
    server.serve("/", Response::live(testsupport::counting(), 400'000).icy());
    StreamReader reader(server.url("/"));
    ASSERT_TRUE(reader.open());
    const auto began = std::chrono::steady_clock::now();
    ASSERT_TRUE(reader.run(10s, [&] { return reader.body.size() >= 200'000; }));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    std::printf("200 kB of a 400 kB/s stream took %.3f s\n", seconds);
    EXPECT_GE(seconds, 0.4);  // a lower bound only: a slow machine may take longer
    EXPECT_EQ(reader.terminalEvents, 0);
}

// Redirects that never end, or that go from https down to http, give the error event.
TEST(ReadStreamFailure, BadRedirectsGiveError) {
    TestHttpServer plain;
    plain.serve("/a", Response::redirect("/b"));
    plain.serve("/b", Response::redirect("/a"));
    plain.serve("/song.mp3", Response::bytes("plain audio"));
    ReadStreamOptions options;
    options.maxRedirects = 4;
    EXPECT_TRUE(expectError(plain.url("/a"), options).empty());
    EXPECT_EQ(plain.requests().size(), 5u);

    TestHttpServer secure(TestHttpServer::Tls);
    secure.serve("/song.mp3", Response::redirect(plain.url("/song.mp3")));
    options.caFile = secure.caFile();
    EXPECT_TRUE(expectError(secure.url("/song.mp3"), options).empty());
    EXPECT_TRUE(expectError("HTTPS" + secure.url("/song.mp3").substr(5), options).empty());
    EXPECT_EQ(plain.requests().size(), 5u);  // the plain server never saw the downgrade
}

// Nobody listening gives the error event promptly, not a hang until the stall bound.
TEST(ReadStreamFailure, ConnectionRefusedGivesError) {
    const std::string url =
        "http://127.0.0.1:" + std::to_string(TestHttpServer::closedPort()) + "/live";
    ReadStreamOptions options;
    options.stallTimeoutSeconds = 30;
    StreamReader reader(url, options);
    ASSERT_TRUE(reader.open());  // the open succeeds; the connection fails later
    const auto began = std::chrono::steady_clock::now();
    ASSERT_TRUE(reader.run(std::chrono::seconds(10)));
    EXPECT_TRUE(reader.failed());
    EXPECT_LT(std::chrono::steady_clock::now() - began, std::chrono::seconds(10));
    EXPECT_EQ(reader.stream().read(nullptr, 0), -1);
}

// A reset in the middle of the body delivers what came before it, then the error event.
TEST(ReadStreamFailure, ResetMidBodyGivesErrorAfterTheBytes) {
    TestHttpServer server;
    const std::string body = sampleBody(200'000);
    server.serve("/song.mp3", Response::bytes(body).resetAfter(100'000));
    server.serve("/short.mp3", Response::bytes(body).contentLength(300'000));
    const std::string got = expectError(server.url("/song.mp3"));
    EXPECT_LE(got.size(), 100'000u);
    EXPECT_TRUE(body.compare(0, got.size(), got) == 0);
    // A body shorter than its Content-Length fails the same way.
    EXPECT_EQ(expectError(server.url("/short.mp3")), body);
}

// TLS: the test CA is refused by default and trusted once given; the host name is checked.
TEST(ReadStreamFailure, VerifiesCertificates) {
    TestHttpServer server(TestHttpServer::Tls);
    const std::string body = sampleBody(100'000);
    server.serve("/song.mp3", Response::bytes(body));
    EXPECT_TRUE(expectError(server.url("/song.mp3")).empty());
    EXPECT_TRUE(server.requests().empty());

    ReadStreamOptions options;
    options.caFile = server.caFile();
    expectBody(server.url("/song.mp3"), body, options);

    TestHttpServer otherName(TestHttpServer::Tls, "DNS:elsewhere.example");
    otherName.serve("/song.mp3", Response::bytes(body));
    options.caFile = otherName.caFile();
    EXPECT_TRUE(expectError(otherName.url("/song.mp3"), options).empty());
}

// Only http and https are opened, and a Range value cannot smuggle in extra header lines.
TEST(ReadStreamFailure, OpenRefusesUnsafeRequests) {
    EXPECT_FALSE(ReadStream::create("file:///etc/passwd")->open());
    EXPECT_FALSE(ReadStream::create("ftp://127.0.0.1/song.mp3")->open());
    EXPECT_FALSE(
        ReadStream::create("http://127.0.0.1:1/a.mp3", withRange("bytes=0-\r\nX-Evil: 1"))->open());
    EXPECT_TRUE(ReadStream::create("HTTP://127.0.0.1:1/a.mp3")->open());
}
