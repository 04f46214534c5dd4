// The catalogue's three paths against the loopback server: the first run, the cached path
// and its background refresh, and how the refresh ends.

#include "tests/feeds/CatalogueTestSupport.h"

#include <atomic>

using testsupport::RecordedRequest;
using testsupport::Response;
using testsupport::TestHttpServer;

namespace feedtest {
namespace {

using FirstRun = CatalogueTest;
using CachedPath = CatalogueTest;
using RefreshLifetime = CatalogueTest;

// A server that accepts the request and then says nothing for a minute.
Response silentFor60Seconds(std::string body) {
    return Response::bytes(std::move(body)).stallBeforeHeaders(testsupport::Seconds(60));
}

// With no cache and the server up, the download fills titles and URLs, asks once for a reload,
// writes the cache and starts no refresh; the authors come only with the next showing.
TEST_F(FirstRun, ServerUpFillsTitlesAndURLsAndWritesTheCache) {
    TestHttpServer server;
    const std::string feed = rssFeed(morningShows());
    server.serve("/dev/feed/", Response::bytes(feed));
    auto catalogue = makeCatalogue(server.url("/dev/feed/"));

    catalogue->getLocaXML();
    EXPECT_EQ(catalogue->titls(), titlesOf(morningShows()));
    EXPECT_EQ(catalogue->urls(), urlsOf(morningShows()));
    EXPECT_TRUE(catalogue->artists().empty());
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(readCache(), feed);
    EXPECT_EQ(refreshThreads(), 0u);
    EXPECT_EQ(mainQueue->pendingCount(), 0u);

    // The next showing reads the cache, authors included, and starts the refresh.
    catalogue->getLocaXML();
    EXPECT_EQ(catalogue->artists(), authorsOf(morningShows()));
    EXPECT_EQ(catalogue->titls(), titlesOf(morningShows()));
    EXPECT_EQ(reloads, 2);
    EXPECT_EQ(refreshThreads(), 1u);
}

// With no cache and nobody listening, nothing changes, nothing is written and no thread starts.
TEST_F(FirstRun, ServerDownLeavesEverythingEmpty) {
    auto catalogue = makeCatalogue(
        "http://127.0.0.1:" + std::to_string(TestHttpServer::closedPort()) + "/dev/feed/");
    for (int showing = 0; showing < 2; ++showing) {
        catalogue->getLocaXML();
        EXPECT_TRUE(catalogue->titls().empty());
        EXPECT_TRUE(catalogue->urls().empty());
        EXPECT_EQ(reloads, 0);
        EXPECT_FALSE(cacheExists());
        EXPECT_EQ(refreshThreads(), 0u);
    }
}

// A first run that fails (here an error status) writes nothing, and the next showing downloads
// again and fills the lists.
TEST_F(FirstRun, NextShowingTriesAgain) {
    // Declared before the server, so that it outlives every request the server answers.
    std::atomic<int> served{0};
    TestHttpServer server;
    server.serve("/dev/feed/", [&](const RecordedRequest&) {
        return ++served == 1 ? Response::status(503, "try later")
                             : Response::bytes(rssFeed(morningShows()));
    });
    auto catalogue = makeCatalogue(server.url("/dev/feed/"));

    catalogue->getLocaXML();
    EXPECT_TRUE(catalogue->urls().empty());
    EXPECT_FALSE(cacheExists());
    EXPECT_EQ(reloads, 0);

    catalogue->getLocaXML();
    EXPECT_EQ(catalogue->urls(), urlsOf(morningShows()));
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(server.requests().size(), 2u);
    EXPECT_EQ(refreshThreads(), 0u);
}

// The cached feed shows at once; the refresh then replaces titles and URLs, only when the main
// queue runs, keeps the cached authors, rewrites the cache and ends after one success.
TEST_F(CachedPath, ShowsTheCacheThenTheRefreshReplacesTitlesAndURLsOnTheMainQueue) {
    TestHttpServer server;
    const std::string evening = rssFeed(eveningShows());
    server.serve("/dev/feed/", Response::bytes(evening));
    writeCache(rssFeed(morningShows()));
    auto catalogue = makeCatalogue(server.url("/dev/feed/"));

    catalogue->getLocaXML();
    EXPECT_EQ(catalogue->titls(), titlesOf(morningShows()));
    EXPECT_EQ(catalogue->urls(), urlsOf(morningShows()));
    EXPECT_EQ(catalogue->artists(), authorsOf(morningShows()));
    EXPECT_EQ(reloads, 1);
    EXPECT_EQ(refreshThreads(), 1u);

    // The refresh ends by itself after its success; its lists wait on the main queue.
    ASSERT_TRUE(refresh().waitUntilIdle(std::chrono::seconds(10)));
    EXPECT_FALSE(CatalogueRefresh::continueNet());
    EXPECT_EQ(readCache(), evening);
    EXPECT_EQ(catalogue->titls(), titlesOf(morningShows()));
    EXPECT_EQ(reloads, 1);

    mainQueue->drain();
    EXPECT_EQ(catalogue->titls(), titlesOf(eveningShows()));
    EXPECT_EQ(catalogue->urls(), urlsOf(eveningShows()));
    EXPECT_EQ(catalogue->artists(), authorsOf(morningShows()));
    EXPECT_EQ(reloads, 2);
    EXPECT_EQ(server.requests().size(), 1u);
}

// After one successful refresh, later showings read the cache and start a refresh that ends
// without downloading, even though the feed on the server has changed.
TEST_F(CachedPath, AfterASuccessfulRefreshLaterShowingsDownloadNothing) {
    std::atomic<int> served{0};
    TestHttpServer server;
    server.serve("/dev/feed/", [&](const RecordedRequest&) {
        return Response::bytes(rssFeed(++served == 1 ? eveningShows() : morningShows()));
    });
    writeCache(rssFeed(morningShows()));
    auto catalogue = makeCatalogue(server.url("/dev/feed/"));
    catalogue->getLocaXML();
    ASSERT_TRUE(runUntilReloads(2));
    ASSERT_TRUE(refresh().waitUntilIdle(std::chrono::seconds(10)));

    for (int showing = 0; showing < 3; ++showing) {
        catalogue->getLocaXML();
        ASSERT_TRUE(refresh().waitUntilIdle(std::chrono::seconds(10)));
    }
    mainQueue->drain();
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(refreshThreads(), 4u);
    // The refreshed cache now gives the evening authors too.
    EXPECT_EQ(catalogue->titls(), titlesOf(eveningShows()));
    EXPECT_EQ(catalogue->artists(), authorsOf(eveningShows()));
    EXPECT_EQ(reloads, 5);
}

// A cache that does not parse keeps the lists shown and asks for no reload; the refresh keeps
// trying until a download yields titles and URLs.
TEST_F(CachedPath, UnparsableCacheKeepsTheListsAndTheRefreshRetries) {
    std::atomic<int> served{0};
    TestHttpServer server;
    server.serve("/dev/feed/", [&](const RecordedRequest&) {
        const int n = ++served;
        if (n == 1) return Response::bytes(rssFeed(morningShows()));
        if (n <= 4) return Response::bytes("<rss><channel><title>Closed</title></channel></rss>");
        return Response::bytes(rssFeed(eveningShows()));
    });
    auto catalogue = makeCatalogue(server.url("/dev/feed/"));
    catalogue->getLocaXML();  // first run: the morning lists
    ASSERT_EQ(reloads, 1);

    writeCache("\x89PNG not a feed at all");
    catalogue->getLocaXML();
    EXPECT_EQ(catalogue->titls(), titlesOf(morningShows()));
    EXPECT_EQ(catalogue->urls(), urlsOf(morningShows()));
    EXPECT_EQ(reloads, 1);

    ASSERT_TRUE(runUntilReloads(2));
    EXPECT_EQ(server.requests().size(), 5u);
    EXPECT_EQ(catalogue->titls(), titlesOf(eveningShows()));
    EXPECT_EQ(catalogue->urls(), urlsOf(eveningShows()));
    EXPECT_EQ(refreshThreads(), 1u);
}

// The back-off is a wait that stop ends: with an hour's back-off the refresh tries once, then
// ends at once when told.
TEST_F(RefreshLifetime, StopWakesTheBackOff) {
    TestHttpServer server;
    server.serve("/dev/feed/", Response::notFound());
    writeCache(rssFeed(morningShows()));
    auto catalogue = makeCatalogue(server.url("/dev/feed/"), 3600.0);
    catalogue->getLocaXML();
    ASSERT_TRUE(server.waitForRequests(1));

    EXPECT_TRUE(refresh().shutdown(std::chrono::seconds(10)));
    EXPECT_FALSE(refresh().isRunning());
    EXPECT_EQ(server.requests().size(), 1u);
    EXPECT_TRUE(CatalogueRefresh::continueNet());
}

// A refresh stuck in a download whose server says nothing ends when told, long before the
// load's own timeout, and changes neither the lists nor the cache.
TEST_F(RefreshLifetime, StopAbortsAStalledDownload) {
    TestHttpServer server;
    server.serve("/dev/feed/", silentFor60Seconds(rssFeed(eveningShows())));
    const std::string morning = rssFeed(morningShows());
    writeCache(morning);
    auto catalogue = makeCatalogue(server.url("/dev/feed/"), 0.005, 120'000);
    catalogue->getLocaXML();
    ASSERT_TRUE(server.waitForRequests(1));

    EXPECT_TRUE(refresh().shutdown(std::chrono::seconds(10)));
    mainQueue->drain();
    EXPECT_EQ(readCache(), morning);
    EXPECT_EQ(catalogue->titls(), titlesOf(morningShows()));
    EXPECT_EQ(reloads, 1);
}

// Lists handed off by a refresh that are still queued when the owner goes are dropped: the
// destroyed owner is never touched.
TEST_F(RefreshLifetime, HandOffQueuedForADestroyedOwnerIsDropped) {
    TestHttpServer server;
    server.serve("/dev/feed/", Response::bytes(rssFeed(eveningShows())));
    writeCache(rssFeed(morningShows()));
    auto catalogue = makeCatalogue(server.url("/dev/feed/"));
    catalogue->getLocaXML();
    ASSERT_TRUE(refresh().waitUntilIdle(std::chrono::seconds(10)));
    ASSERT_GT(mainQueue->pendingCount(), 0u);

    catalogue.reset();
    mainQueue->drain();
    EXPECT_EQ(reloads, 1);
}

// Destroying the owner ends the refresh that delivers to it, without waiting for a download.
TEST_F(RefreshLifetime, OwnerDestructionEndsItsRefresh) {
    TestHttpServer server;
    server.serve("/dev/feed/", silentFor60Seconds(rssFeed(eveningShows())));
    writeCache(rssFeed(morningShows()));
    auto catalogue = makeCatalogue(server.url("/dev/feed/"), 0.005, 120'000);
    catalogue->getLocaXML();
    ASSERT_TRUE(server.waitForRequests(1));

    catalogue.reset();
    EXPECT_TRUE(refresh().waitUntilIdle(std::chrono::seconds(10)));
    mainQueue->drain();
    EXPECT_EQ(reloads, 1);
}

// Showing a second catalogue while the first one's refresh runs starts no thread; the
// running refresh delivers to the newest one, and the first one's teardown leaves it running.
TEST_F(RefreshLifetime, RunningRefreshDeliversToTheLatestShowing) {
    std::atomic<int> served{0};
    TestHttpServer server;
    server.serve("/dev/feed/", [&](const RecordedRequest&) {
        return ++served <= 2 ? Response::notFound() : Response::bytes(rssFeed(eveningShows()));
    });
    writeCache(rssFeed(morningShows()));
    auto first = makeCatalogue(server.url("/dev/feed/"), 3600.0);
    first->getLocaXML();
    ASSERT_TRUE(server.waitForRequests(1));

    auto second = makeCatalogue(server.url("/dev/feed/"), 0.005);
    second->getLocaXML();
    first.reset();
    EXPECT_TRUE(refresh().isRunning());
    EXPECT_EQ(refreshThreads(), 1u);
    EXPECT_EQ(reloads, 2);  // each showing read the cache

    // The hour-long back-off of the running refresh is cut short only by stop; the next
    // showing after that starts a fresh one with the short back-off.
    ASSERT_TRUE(refresh().shutdown(std::chrono::seconds(10)));
    second->getLocaXML();
    ASSERT_TRUE(runUntilReloads(4));
    EXPECT_EQ(second->titls(), titlesOf(eveningShows()));
    EXPECT_EQ(refreshThreads(), 2u);
}

}  // namespace
}  // namespace feedtest
