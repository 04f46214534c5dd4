// The catalogue's guarantees beyond the plain algorithm: one refresh thread per process, a
// cache replaced whole, and failed loads that never overwrite a good cache.

#include "tests/feeds/CatalogueTestSupport.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>

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

// While the cache is replaced over and over, a reader only ever sees one whole download or
// the other, never an empty or half-written file. Each round starts a refresh (as a fresh
// process would) whose download replaces the cache with the other feed.
TEST_F(CatalogueMends, CacheIsReplacedWhole) {
    std::vector<Programme> many;
    while (many.size() < 2000) many.push_back({"Programme", "http://a/p.mp3", {}});
    const std::string big = rssFeed(many, "Big");
    const std::string small = rssFeed(morningShows(), "Small");

    std::atomic<int> served{0};
    TestHttpServer server;
    server.serve("/dev/feed/", [&](const RecordedRequest&) {
        return Response::bytes(++served % 2 ? small : big);
    });
    writeCache(big);
    auto catalogue = makeCatalogue(server.url("/dev/feed/"), 0.0);

    std::atomic<bool> reading{true};
    std::atomic<std::size_t> reads{0};
    std::atomic<std::size_t> torn{0};
    std::thread reader([&] {
        while (reading.load()) {
            const std::string seen = readCache();
            ++reads;
            if (seen != big && seen != small) ++torn;
        }
    });
    for (int round = 0; round < 30; ++round) {
        CatalogueRefresh::resetContinueNetForTesting();
        catalogue->getLocaXML();
        ASSERT_TRUE(refresh().waitUntilIdle(std::chrono::seconds(10)));
    }
    reading.store(false);
    reader.join();
    ASSERT_TRUE(refresh().shutdown());
    EXPECT_GE(server.requests().size(), 30u);
    EXPECT_EQ(torn.load(), 0u) << "of " << reads.load() << " reads";
    EXPECT_EQ(documentsFiles(), std::vector<std::string>{kSongListFileName});
}

// A feed that always answers 404, noting when each request came.
class FailingFeed {
public:
    FailingFeed() {
        server.serve("/dev/feed/", [this](const RecordedRequest&) {
            std::lock_guard lock(mutex_);
            times_.push_back(std::chrono::steady_clock::now());
            return Response::notFound();
        });
    }
    // Seconds between one request and the next.
    std::vector<double> gaps() const {
        std::lock_guard lock(mutex_);
        std::vector<double> gaps;
        for (size_t i = 0; i + 1 < times_.size(); ++i)
            gaps.push_back(std::chrono::duration<double>(times_[i + 1] - times_[i]).count());
        return gaps;
    }

    TestHttpServer server;

private:
    mutable std::mutex mutex_;
    std::vector<std::chrono::steady_clock::time_point> times_;
};

// The refresh waits longer after each failure (1 s, 2 s, 4 s, ... up to five minutes in the
// app; a fortieth of that here), so a broken feed is not fetched every second for hours.
TEST_F(CatalogueMends, RefreshBacksOffByDoubling) {
    FailingFeed feed;
    writeCache(rssFeed(morningShows()));
    OnDemandCatalogue::Options options;
    options.backoffSeconds = 0.025;
    options.maxBackoffSeconds = 0.1;
    OnDemandCatalogue catalogue(
        feed.server.url("/dev/feed/"), [] {}, options);
    catalogue.getLocaXML();
    ASSERT_TRUE(feed.server.waitForRequests(6));
    ASSERT_TRUE(refresh().shutdown());

    // Waits are never shorter than asked: 25, 50, 100, then 100 ms (the cap).
    const std::vector<double> least = {0.025, 0.05, 0.1, 0.1, 0.1};
    const std::vector<double> gaps = feed.gaps();
    for (size_t i = 0; i < gaps.size() && i < least.size(); ++i)
        EXPECT_GE(gaps[i], least[i]) << "gap " << i;
}

// In the app the first wait after a failure is a whole second: the second request never
// comes sooner.
TEST_F(CatalogueMends, FirstBackOffOfTheAppIsOneSecond) {
    FailingFeed feed;
    writeCache(rssFeed(morningShows()));
    OnDemandCatalogue catalogue(feed.server.url("/dev/feed/"), [] {});
    catalogue.getLocaXML();
    ASSERT_TRUE(feed.server.waitForRequests(2));
    ASSERT_TRUE(refresh().shutdown());
    const std::vector<double> gaps = feed.gaps();
    ASSERT_FALSE(gaps.empty());
    EXPECT_GE(gaps[0], 1.0);
}

// A process killed while it wrote the cache leaves its temporary file; the next showing
// removes it, and leaves alone the temporary files of processes that still run.
TEST_F(CatalogueMends, AbandonedTemporaryFilesAreRemoved) {
    writeCache(rssFeed(morningShows()));
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    ASSERT_GT(gone, 0);
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    const std::string cache = kSongListFileName;
    const std::string abandoned = cache + ".tmp." + std::to_string(gone) + ".0";
    const std::string live = cache + ".tmp." + std::to_string(getpid()) + ".99";
    for (const std::string& name : {abandoned, live}) {
        std::ofstream(documents / name) << "half a feed";
    }
    auto catalogue = makeCatalogue(
        "http://127.0.0.1:" + std::to_string(TestHttpServer::closedPort()) + "/dev/feed/");
    catalogue->getLocaXML();
    ASSERT_TRUE(refresh().shutdown());
    std::vector<std::string> files = documentsFiles();
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{cache, live}));
    std::filesystem::remove(documents / live);
}

}  // namespace
}  // namespace feedtest
