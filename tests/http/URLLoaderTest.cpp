// Whole-resource loading against the loopback test server, its faults included.

#include <gtest/gtest.h>

#include "StreamReader.h"
#include "platform/http/TransferPolicy.h"
#include "platform/http/URLLoader.h"
#include "tests/support/TestHttpServer.h"

using platform::LoadOptions;
using platform::loadURL;
using testsupport::Response;
using testsupport::TestHttpServer;

namespace {

std::string sampleBody(size_t size) {
    std::string body(size, '\0');
    for (size_t i = 0; i < size; ++i) body[i] = static_cast<char>(testsupport::patternByte(i));
    return body;
}

LoadOptions quick() {
    LoadOptions options;
    options.connectTimeoutMs = 2000;
    options.totalTimeoutMs = 2000;
    return options;
}

}  // namespace

// The body arrives byte-exact whatever the framing: Content-Length, chunked, close-delimited.
TEST(URLLoader, LoadsBodyInEveryFraming) {
    TestHttpServer server;
    const std::string body = sampleBody(300'000);
    server.serve("/length", Response::bytes(body));
    server.serve("/chunked", Response::bytes(body).chunked().writeSize(777));
    server.serve("/close", Response::bytes(body).closeDelimited());
    for (const char* path : {"/length", "/chunked", "/close"}) {
        SCOPED_TRACE(path);
        auto result = loadURL(server.url(path));
        EXPECT_TRUE(result.ok) << result.error;
        EXPECT_EQ(result.httpStatus, 200);
        EXPECT_TRUE(result.bytes == body);
    }
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].version, "HTTP/1.1");
}

// A redirect (relative or absolute) is followed to the final body.
TEST(URLLoader, FollowsRedirects) {
    TestHttpServer server;
    server.serve("/feed", Response::bytes("<rss/>"));
    server.serve("/old", Response::redirect("/feed", 301));
    server.serve("/older", Response::redirect(server.url("/old"), 307));
    auto result = loadURL(server.url("/older"));
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.bytes, "<rss/>");
    auto requests = server.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[2].path, "/feed");
}

// A redirect loop ends in a failure after the bound, not a hang, with no bytes.
TEST(URLLoader, RedirectLoopFails) {
    TestHttpServer server;
    server.serve("/a", Response::redirect("/b"));
    server.serve("/b", Response::redirect("/a"));
    LoadOptions options = quick();
    options.maxRedirects = 5;
    auto result = loadURL(server.url("/a"), options);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.bytes.empty());
    EXPECT_FALSE(result.error.empty());
    EXPECT_EQ(server.requests().size(), 6u);  // the first request and five redirects
}

// An https resource redirecting down to plain http is refused: the http server never sees it.
TEST(URLLoader, RefusesRedirectFromHttpsToHttp) {
    TestHttpServer plain;
    plain.serve("/feed", Response::bytes("plain text that must not be trusted"));
    TestHttpServer secure(TestHttpServer::Tls);
    secure.serve("/feed", Response::redirect(plain.url("/feed")));
    LoadOptions options = quick();
    options.caFile = secure.caFile();
    auto result = loadURL(secure.url("/feed"), options);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.bytes.empty());
    EXPECT_EQ(secure.requests().size(), 1u);
    EXPECT_TRUE(plain.requests().empty());
    // The scheme's case does not matter to libcurl, so it must not matter to the rule either.
    const std::string shouted = "HTTPS" + secure.url("/feed").substr(5);
    EXPECT_FALSE(loadURL(shouted, options).ok);
    EXPECT_EQ(secure.requests().size(), 2u);
    EXPECT_TRUE(plain.requests().empty());
}

// A server that stops sending, before its headers or in the middle of the body, times out.
TEST(URLLoader, StallTimesOut) {
    TestHttpServer server;
    server.serve("/silent", Response::bytes("never").stallBeforeHeaders(std::chrono::seconds(60)));
    server.serve("/halfway",
                 Response::bytes(sampleBody(10'000)).stallAfter(4000, std::chrono::seconds(60)));
    LoadOptions options = quick();
    options.totalTimeoutMs = 300;
    for (const char* path : {"/silent", "/halfway"}) {
        SCOPED_TRACE(path);
        auto result = loadURL(server.url(path), options);
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.bytes.empty());
    }
    // The server's destructor interrupts the 60 s stalls; the test ends at once.
}

// A slow but steady server finishes within the timeout.
TEST(URLLoader, TrickleWithinTimeoutSucceeds) {
    TestHttpServer server;
    server.serve("/slow", Response::bytes("0123456789").trickle(std::chrono::milliseconds(10)));
    auto result = loadURL(server.url("/slow"), quick());
    ASSERT_TRUE(result.ok) << result.error;
    EXPECT_EQ(result.bytes, "0123456789");
}

// A body over the size cap fails, whether its length is announced or only discovered.
TEST(URLLoader, SizeCapFailsTheLoad) {
    TestHttpServer server;
    const std::string body = sampleBody(200'000);
    server.serve("/announced", Response::bytes(body));
    server.serve("/chunked", Response::bytes(body).chunked());
    server.serve("/endless", Response::live(testsupport::counting()));
    LoadOptions options = quick();
    options.maxBytes = 100'000;
    for (const char* path : {"/announced", "/chunked", "/endless"}) {
        SCOPED_TRACE(path);
        auto result = loadURL(server.url(path), options);
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.bytes.empty());
        EXPECT_NE(result.error.find("larger than"), std::string::npos) << result.error;
    }
    // Exactly at the cap is still fine.
    options.maxBytes = body.size();
    EXPECT_TRUE(loadURL(server.url("/chunked"), options).ok);
}

// An error page is a failed load with its status and without its bytes.
TEST(URLLoader, NotFoundWithHtmlBodyGivesNoBytes) {
    TestHttpServer server;
    auto result = loadURL(server.url("/missing.xml"));
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.httpStatus, 404);
    EXPECT_TRUE(result.bytes.empty());
}

// A body cut short (reset, early close, or fewer bytes than Content-Length says) is a failure.
TEST(URLLoader, TruncatedBodiesFail) {
    TestHttpServer server;
    const std::string body = sampleBody(50'000);
    server.serve("/reset", Response::bytes(body).resetAfter(20'000));
    server.serve("/closed", Response::bytes(body).closeAfter(20'000));
    server.serve("/short", Response::bytes(body).contentLength(60'000));
    for (const char* path : {"/reset", "/closed", "/short"}) {
        SCOPED_TRACE(path);
        auto result = loadURL(server.url(path), quick());
        EXPECT_FALSE(result.ok);
        EXPECT_TRUE(result.bytes.empty());
    }
}

// A self-signed test CA is refused by default and accepted once it is passed in caFile.
TEST(URLLoader, VerifiesCertificates) {
    TestHttpServer server(TestHttpServer::Tls);
    server.serve("/feed", Response::bytes("secure feed"));
    auto refused = loadURL(server.url("/feed"), quick());
    EXPECT_FALSE(refused.ok);
    EXPECT_TRUE(refused.bytes.empty());
    EXPECT_TRUE(server.requests().empty());

    LoadOptions options = quick();
    options.caFile = server.caFile();
    auto accepted = loadURL(server.url("/feed"), options);
    ASSERT_TRUE(accepted.ok) << accepted.error;
    EXPECT_EQ(accepted.bytes, "secure feed");
}

// A certificate from a trusted CA but for another host name is refused.
TEST(URLLoader, VerifiesHostName) {
    TestHttpServer server(TestHttpServer::Tls, "DNS:elsewhere.example");
    server.serve("/feed", Response::bytes("secure feed"));
    LoadOptions options = quick();
    options.caFile = server.caFile();
    auto result = loadURL(server.url("/feed"), options);
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(server.requests().empty());
}

// Nobody listening: a quick failure, not a wait for the timeout.
TEST(URLLoader, ConnectionRefusedFails) {
    const std::string url =
        "http://127.0.0.1:" + std::to_string(TestHttpServer::closedPort()) + "/feed";
    auto result = loadURL(url, quick());
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.httpStatus, 0);
    EXPECT_FALSE(result.error.empty());
}

// Schemes other than http and https are not loaded at all.
TEST(URLLoader, RejectsOtherSchemes) {
    auto result = loadURL("file:///etc/passwd");
    EXPECT_FALSE(result.ok);
    EXPECT_TRUE(result.bytes.empty());
}

// The loader and the read stream set their transfers up alike: both name us with the same
// user agent, over HTTP/1.1.
TEST(URLLoader, SendsTheSameRequestAsTheReadStream) {
    TestHttpServer server;
    server.serve("/feed", Response::bytes("<rss/>"));
    ASSERT_TRUE(loadURL(server.url("/feed"), quick()).ok);
    testsupport::StreamReader reader(server.url("/feed"));
    ASSERT_TRUE(reader.open());
    ASSERT_TRUE(reader.run());
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) {
        EXPECT_EQ(request.header("user-agent"), platform::http::kUserAgent);
        EXPECT_EQ(request.version, "HTTP/1.1");
    }
}
