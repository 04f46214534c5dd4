#pragma once
// Shared pieces of the catalogue tests: feeds written for the purpose, and a fixture that runs
// each test like a fresh process (its own documents folder, continueNet true, a main queue on
// virtual time) and ends every refresh thread before the next test.

#include <gtest/gtest.h>

#include "feeds/OnDemandCatalogue.h"
#include "platform/DeterministicMainQueue.h"
#include "tests/support/TestHttpServer.h"

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace feedtest {

struct Programme {
    std::string title;
    std::string url;
    std::vector<std::string> authors;
};

// A real RSS 2.0 channel: the channel's title and its image's title come ahead of the items,
// each item has a title, an enclosure and its authors.
std::string rssFeed(const std::vector<Programme>& programmes,
                    const std::string& channelTitle = "Ostra Radio");

// The titles an rssFeed yields: the two channel-level ones, then each programme's.
std::vector<std::string> titlesOf(const std::vector<Programme>& programmes,
                                  const std::string& channelTitle = "Ostra Radio");
std::vector<std::string> urlsOf(const std::vector<Programme>& programmes);
std::vector<std::string> authorsOf(const std::vector<Programme>& programmes);

// Two small, regular programme lists.
std::vector<Programme> morningShows();
std::vector<Programme> eveningShows();

class CatalogueTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A catalogue on `feedURL` that counts its reload requests. Downloads time out after a
    // few seconds and the back-off is `backoffSeconds` (short, so retries do not slow tests).
    std::unique_ptr<OnDemandCatalogue> makeCatalogue(const std::string& feedURL,
                                                     double backoffSeconds = 0.005,
                                                     long totalTimeoutMs = 5000);

    void writeCache(const std::string& bytes);
    // The cache file's bytes; empty when it does not exist.
    std::string readCache() const;
    bool cacheExists() const;
    // Names of every file in the documents folder.
    std::vector<std::string> documentsFiles() const;

    // Runs the main queue until the reload count reaches `count`.
    bool runUntilReloads(int count);

    static CatalogueRefresh& refresh() { return CatalogueRefresh::shared(); }
    // Refresh threads started since this test began.
    std::size_t refreshThreads() const { return refresh().threadsStarted() - threadsBefore; }

    std::shared_ptr<platform::DeterministicMainQueue> mainQueue;
    std::filesystem::path documents;
    int reloads = 0;
    std::size_t threadsBefore = 0;
};

}  // namespace feedtest
