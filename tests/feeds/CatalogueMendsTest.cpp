// The catalogue's guarantees beyond the plain algorithm: one refresh thread per process, a
// cache replaced whole, and failed loads that never overwrite a good cache.

#include "tests/feeds/CatalogueTestSupport.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <iterator>

using testsupport::RecordedRequest;
using testsupport::Response;
using testsupport::TestHttpServer;

namespace feedtest {
namespace {

using CatalogueMends = CatalogueTest;

std::size_t threadsInProcess() {
    const std::filesystem::directory_iterator tasks("/proc/self/task");
    return static_cast<std::size_t>(std::distance(begin(tasks), end(tasks)));
}

// An offline user who opens the list a hundred times gets one refresh thread, not a hundred.
TEST_F(CatalogueMends, ManyShowingsWhileOfflineRunOneRefresh) {
    writeCache(rssFeed(morningShows()));
    auto catalogue = makeCatalogue(
        "http://127.0.0.1:" + std::to_string(TestHttpServer::closedPort()) + "/dev/feed/");
    const std::size_t threadsBefore = threadsInProcess();

    for (int showing = 0; showing < 100; ++showing) catalogue->getLocaXML();

    EXPECT_EQ(refreshThreads(), 1u);
    EXPECT_TRUE(refresh().isRunning());
    EXPECT_LE(threadsInProcess(), threadsBefore + 1);
    EXPECT_EQ(reloads, 100);
    EXPECT_EQ(catalogue->urls(), urlsOf(morningShows()));
}

// Error statuses (with a body) and a timed-out load give no bytes, so the good cache stays.
TEST_F(CatalogueMends, FailedLoadsNeverOverwriteAGoodCache) {
    // Declared before the server, so that it outlives every request the server answers.
    std::atomic<int> served{0};
    TestHttpServer server;
    server.serve("/dev/feed/", [&](const RecordedRequest&) {
        switch (++served % 3) {
            case 1:
                return Response::status(500, "<rss><channel><title>Broken</title></channel></rss>");
            case 2: return Response::notFound();
            default:
                return Response::bytes(rssFeed(eveningShows()))
                    .stallBeforeHeaders(testsupport::Seconds(30));
        }
    });
    const std::string good = rssFeed(morningShows());
    writeCache(good);
    auto catalogue = makeCatalogue(server.url("/dev/feed/"), 0.005, 300);
    catalogue->getLocaXML();

    // The fourth request starts only after the timed-out third load has ended.
    ASSERT_TRUE(server.waitForRequests(4));
    ASSERT_TRUE(refresh().shutdown());
    EXPECT_EQ(readCache(), good);
    EXPECT_EQ(documentsFiles(), std::vector<std::string>{kSongListFileName});
    EXPECT_TRUE(CatalogueRefresh::continueNet());
}

// While the refresh rewrites the cache over and over, a reader only ever sees one whole
// download or the other, never an empty or half-written file.
TEST_F(CatalogueMends, CacheIsReplacedWhole) {
    // Neither feed has enclosures, so the refresh keeps downloading and rewriting.
    std::string big = "<rss><channel><title>Big</title>";
    while (big.size() < 256 * 1024) big += "<item><title>Programme without audio</title></item>";
    big += "</channel></rss>";
    const std::string small = "<rss><channel><title>Small</title></channel></rss>";

    std::atomic<int> served{0};
    TestHttpServer server;
    server.serve("/dev/feed/", [&](const RecordedRequest&) {
        return Response::bytes(++served % 2 ? small : big);
    });
    writeCache(big);
    auto catalogue = makeCatalogue(server.url("/dev/feed/"), 0.0);
    catalogue->getLocaXML();

    std::size_t reads = 0;
    std::size_t torn = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (server.requests().size() < 30 && std::chrono::steady_clock::now() < deadline) {
        const std::string seen = readCache();
        ++reads;
        if (seen != big && seen != small) ++torn;
    }
    ASSERT_TRUE(refresh().shutdown());
    EXPECT_GE(server.requests().size(), 30u);
    EXPECT_EQ(torn, 0u) << "of " << reads << " reads";
    EXPECT_EQ(documentsFiles(), std::vector<std::string>{kSongListFileName});
}

}  // namespace
}  // namespace feedtest
