// Irregular feeds served over loopback: how each one shapes (or fails to change) the lists.

#include "tests/feeds/CatalogueTestSupport.h"

#include <atomic>

using testsupport::RecordedRequest;
using testsupport::Response;
using testsupport::TestHttpServer;

namespace feedtest {
namespace {

const char* kHead =
    "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Ostra</title>"
    "<image><title>Logo</title></image>";
const char* kTail = "</channel></rss>";

std::string channelWith(const std::string& items) { return kHead + items + kTail; }

class FeedShapes : public CatalogueTest {
protected:
    // Serves `feed` and shows the list twice: the first run downloads it, the second reads it
    // from the cache (the only path that fills the authors). The refresh that the second
    // showing starts is left unrun on the main queue.
    std::unique_ptr<OnDemandCatalogue> showTwice(const std::string& feed) {
        server.serve("/dev/feed/", Response::bytes(feed));
        auto catalogue = makeCatalogue(server.url("/dev/feed/"), 3600.0);
        catalogue->getLocaXML();
        EXPECT_EQ(readCache(), feed);
        catalogue->getLocaXML();
        return catalogue;
    }

    // Shows a regular feed first, then puts `broken` in the cache and shows again: a failed
    // attempt must leave every list as it was and ask for no reload.
    void expectCachedFeedChangesNothing(const std::string& broken) {
        server.serve("/dev/feed/", Response::bytes(rssFeed(morningShows())));
        auto catalogue = makeCatalogue(server.url("/dev/feed/"), 3600.0);
        catalogue->getLocaXML();
        catalogue->getLocaXML();  // from the cache: authors too
        ASSERT_TRUE(refresh().shutdown());
        ASSERT_EQ(reloads, 2);

        writeCache(broken);
        catalogue->getLocaXML();
        EXPECT_EQ(catalogue->titls(), titlesOf(morningShows()));
        EXPECT_EQ(catalogue->urls(), urlsOf(morningShows()));
        EXPECT_EQ(catalogue->artists(), authorsOf(morningShows()));
        EXPECT_EQ(reloads, 2);
    }

    TestHttpServer server;
};

// Titles and URLs are separate queries paired only by position: an empty title adds no entry
// and shifts every later title against its URL; a title holding an element adds two entries.
TEST_F(FeedShapes, TitlesCountEveryChildAndShiftWhenIrregular) {
    auto catalogue = showTwice(channelWith(
        "<item><title></title><enclosure url=\"http://a/1.mp3\"/><author>A</author></item>"
        "<item><title>Two <b>bold</b></title><enclosure url=\"http://a/2.mp3\"/></item>"
        "<item><title>Three &amp; more</title><enclosure url=\"http://a/3.mp3\"/></item>"));
    EXPECT_EQ(catalogue->titls(),
              (std::vector<std::string>{"Ostra", "Logo", "Two ", "bold", "Three & more"}));
    EXPECT_EQ(catalogue->urls(),
              (std::vector<std::string>{"http://a/1.mp3", "http://a/2.mp3", "http://a/3.mp3"}));
}

// Only the direct `author` children of items count: none gives nothing, two give two, so the
// authors can be out of step with the URLs. A namespaced author (iTunes') is not one.
TEST_F(FeedShapes, AuthorsComeFromItemsOnly) {
    auto catalogue = showTwice(channelWith(
        "<author>Channel author</author>"
        "<item><title>1</title><enclosure url=\"u1\"/></item>"
        "<item><title>2</title><enclosure url=\"u2\"/><author>X</author><author>Y</author></item>"
        "<item><title>3</title><enclosure url=\"u3\"/><credits><author>Z</author></credits>"
        "<author>W</author></item>"
        "<item><title>4</title><enclosure url=\"u4\"/>"
        "<itunes:author "
        "xmlns:itunes=\"http://www.itunes.com/dtds/podcast-1.0.dtd\">I</itunes:author>"
        "<author>V</author></item>"));
    EXPECT_EQ(catalogue->artists(), (std::vector<std::string>{"X", "Y", "W", "V"}));
    EXPECT_EQ(catalogue->urls().size(), 4u);
}

// A feed without enclosures never replaces the lists, from the download or from the cache, and
// the refresh keeps trying. Nor does the download become the cache.
TEST_F(FeedShapes, NoEnclosuresNeverReplaceTheLists) {
    const std::string feed = channelWith("<item><title>Only a title</title></item>");
    server.serve("/dev/feed/", Response::bytes(feed));
    auto catalogue = makeCatalogue(server.url("/dev/feed/"));
    catalogue->getLocaXML();
    EXPECT_TRUE(catalogue->titls().empty());
    EXPECT_EQ(reloads, 0);
    EXPECT_FALSE(cacheExists());

    writeCache(feed);  // as an older version of the app left it
    catalogue->getLocaXML();
    ASSERT_TRUE(server.waitForRequests(4));
    EXPECT_TRUE(refresh().isRunning());
    mainQueue->drain();
    EXPECT_TRUE(catalogue->titls().empty());
    EXPECT_EQ(reloads, 0);
}

// Each of these fails the whole attempt, so the lists from before stay as they were.
TEST_F(FeedShapes, EnclosureWithoutURLChangesNothing) {
    expectCachedFeedChangesNothing(channelWith(
        "<item><title>1</title><enclosure url=\"u1\"/><author>A</author></item>"
        "<item><title>2</title><enclosure type=\"audio/mpeg\"/><author>B</author></item>"));
}

TEST_F(FeedShapes, CDATATitleChangesNothing) {
    expectCachedFeedChangesNothing(
        channelWith("<item><title><![CDATA[Rock & roll]]></title><enclosure url=\"u1\"/></item>"));
}

TEST_F(FeedShapes, TitleWithACommentChangesNothing) {
    expectCachedFeedChangesNothing(
        channelWith("<item><title>News<!-- rerun --></title><enclosure url=\"u1\"/></item>"));
}

// A node kind the document model cannot wrap (a processing instruction) is a failure too.
TEST_F(FeedShapes, UnwrappableNodeChangesNothing) {
    expectCachedFeedChangesNothing(
        channelWith("<item><title>News<?render bold?></title><enclosure url=\"u1\"/></item>"));
}

// Among an item's children too, where the authors are looked for.
TEST_F(FeedShapes, UnwrappableNodeBesideTheAuthorChangesNothing) {
    expectCachedFeedChangesNothing(channelWith(
        "<item><title>1</title><enclosure url=\"u1\"/><?render bold?><author>A</author></item>"));
}

// An author with no text has no string value, which fails the attempt.
TEST_F(FeedShapes, EmptyAuthorChangesNothing) {
    expectCachedFeedChangesNothing(
        channelWith("<item><title>1</title><enclosure url=\"u1\"/><author/></item>"));
}

// An error page served as a document (a captive portal's login page, a database error sent
// with 200) never replaces a good cache: the next start without network still shows the
// programmes.
TEST_F(FeedShapes, ErrorPageNeverReplacesTheCache) {
    const std::string page =
        "<html><head><title>Oops</title></head><body><p>Database error<br></body></html>";
    // The fixture's server outlives this body, so its handler keeps its own state.
    auto served = std::make_shared<std::atomic<int>>(0);
    server.serve("/dev/feed/", [served, page](const RecordedRequest&) {
        return ++*served == 1 ? Response::bytes(rssFeed(morningShows())) : Response::bytes(page);
    });
    auto catalogue = makeCatalogue(server.url("/dev/feed/"));
    catalogue->getLocaXML();  // first run: the morning lists
    catalogue->getLocaXML();  // cached path; the refresh now gets the error page
    ASSERT_TRUE(server.waitForRequests(3));
    ASSERT_TRUE(refresh().shutdown());
    EXPECT_EQ(readCache(), rssFeed(morningShows()));

    // The third showing reads the good cache again.
    catalogue->getLocaXML();
    EXPECT_EQ(catalogue->titls(), titlesOf(morningShows()));
    EXPECT_EQ(catalogue->urls(), urlsOf(morningShows()));
    EXPECT_EQ(reloads, 3);
}

}  // namespace
}  // namespace feedtest
