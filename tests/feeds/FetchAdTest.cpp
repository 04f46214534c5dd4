// The advertisement list fetched from the loopback server: which text wins, and what each kind
// of failure gives.

#include <gtest/gtest.h>

#include "feeds/FetchAd.h"
#include "platform/http/URLLoader.h"
#include "tests/support/TestHttpServer.h"
#include "xml/XMLParserSetup.h"

#include <atomic>
#include <chrono>

using testsupport::RecordedRequest;
using testsupport::Response;
using testsupport::TestHttpServer;

namespace {

std::string plist(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">" +
           body + "</plist>\n";
}

class FetchAdTest : public testing::Test {
protected:
    void SetUp() override {
        platform::initNetworking();
        initXMLParser();
    }

    std::optional<std::string> adsFrom(Response response) {
        server.serve("/adXML.plist", std::move(response));
        return FetchAd(server.url("/adXML.plist")).getAds();
    }
    std::optional<std::string> adsFrom(const std::string& document) {
        return adsFrom(Response::bytes(document));
    }

    TestHttpServer server;
};

// The last text of the list wins; earlier ones, and nesting, make no difference.
TEST_F(FetchAdTest, LastStringElementWins) {
    EXPECT_EQ(adsFrom(plist("<array><string>Bakery</string><string>Garage</string>"
                            "<string>Visit the fish market &amp; deli</string></array>")),
              "Visit the fish market & deli");
    EXPECT_EQ(adsFrom(plist("<dict><key>sponsors</key><array><string>First</string>"
                            "<dict><key>main</key><string>Nested sponsor</string></dict>"
                            "</array><key>count</key><integer>2</integer></dict>")),
              "Nested sponsor");
    // A trailing empty element has no children, so the one before it stays.
    EXPECT_EQ(adsFrom(plist("<array><string>One</string><string>Two</string><string/></array>")),
              "Two");
}

// A list without strings gives the empty string; a last child that is a comment gives none.
TEST_F(FetchAdTest, EmptyAndAbsentResults) {
    EXPECT_EQ(adsFrom(plist("<dict><key>n</key><integer>3</integer></dict>")), "");
    EXPECT_EQ(adsFrom(plist("<array><string>Shown before</string>"
                            "<string>Text<!-- expires friday --></string></array>")),
              std::nullopt);
}

// Whatever stops the list from arriving or parsing gives the empty string, not an error text.
TEST_F(FetchAdTest, FailuresToFetchOrParseGiveTheEmptyString) {
    const std::string closed =
        "http://127.0.0.1:" + std::to_string(TestHttpServer::closedPort()) + "/adXML.plist";
    EXPECT_EQ(FetchAd(closed).getAds(), "");
    EXPECT_EQ(adsFrom(Response::notFound()), "");
    EXPECT_EQ(adsFrom(Response::status(500, plist("<string>From an error page</string>"))), "");
    EXPECT_EQ(adsFrom(plist("<array><string>Unclosed</array>")), "");
    EXPECT_EQ(adsFrom(std::string()), "");
}

// A stalled advertisement server holds the screen (which fetches on the main thread) for the
// fetch's short budget, not for the loader's 30 s: the marquee then shows nothing.
TEST_F(FetchAdTest, StalledServerEndsWithinTheBudget) {
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(adsFrom(Response::bytes(plist("<string>Late</string>"))
                          .stallBeforeHeaders(testsupport::Seconds(20))),
              "");
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    EXPECT_LT(took.count(), 10.0);
    EXPECT_GE(took.count(), FetchAd::kBudgetMs / 1000.0 - 0.5);
}

// A node the document model cannot wrap raises inside the read, which gives "Network error".
TEST_F(FetchAdTest, ModelFailureGivesNetworkError) {
    EXPECT_EQ(adsFrom(plist("<string>Sale<?php echo 1; ?></string>")), "Network error");
}

// Nothing is cached: each call fetches the list again and sees what the server has now.
TEST_F(FetchAdTest, FetchesOnEveryCall) {
    std::atomic<int> served{0};
    server.serve("/adXML.plist", [&](const RecordedRequest&) {
        return Response::bytes(plist("<string>Ad " + std::to_string(++served) + "</string>"));
    });
    FetchAd fetch(server.url("/adXML.plist"));
    EXPECT_EQ(fetch.getAds(), "Ad 1");
    EXPECT_EQ(fetch.getAds(), "Ad 2");
    EXPECT_EQ(server.requests().size(), 2u);
}

}  // namespace
