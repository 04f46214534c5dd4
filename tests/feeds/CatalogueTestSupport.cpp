#include "tests/feeds/CatalogueTestSupport.h"

#include "platform/Files.h"
#include "platform/http/URLLoader.h"
#include "xml/XMLParserSetup.h"

#include <cstdlib>

namespace feedtest {

std::string rssFeed(const std::vector<Programme>& programmes, const std::string& channelTitle) {
    std::string feed =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<rss version=\"2.0\" xmlns:itunes=\"http://www.itunes.com/dtds/podcast-1.0.dtd\">\n"
        "<channel>\n"
        "  <title>" +
        channelTitle +
        "</title>\n"
        "  <link>http://radio.example/</link>\n"
        "  <description>Recorded programmes</description>\n"
        "  <itunes:title>Not a plain title</itunes:title>\n"
        "  <image>\n"
        "    <url>http://radio.example/logo.png</url>\n"
        "    <title>" +
        channelTitle +
        " logo</title>\n"
        "    <link>http://radio.example/</link>\n"
        "  </image>\n";
    for (const Programme& programme : programmes) {
        feed += "  <item>\n    <title>" + programme.title + "</title>\n";
        feed += "    <enclosure url=\"" + programme.url +
                "\" length=\"123456\" type=\"audio/mpeg\"/>\n";
        for (const std::string& author : programme.authors) {
            feed += "    <author>" + author + "</author>\n";
        }
        feed += "    <guid>" + programme.url + "</guid>\n  </item>\n";
    }
    feed += "</channel>\n</rss>\n";
    return feed;
}

std::vector<std::string> titlesOf(const std::vector<Programme>& programmes,
                                  const std::string& channelTitle) {
    std::vector<std::string> titles{channelTitle, channelTitle + " logo"};
    for (const Programme& programme : programmes) titles.push_back(programme.title);
    return titles;
}

std::vector<std::string> urlsOf(const std::vector<Programme>& programmes) {
    std::vector<std::string> urls;
    for (const Programme& programme : programmes) urls.push_back(programme.url);
    return urls;
}

std::vector<std::string> authorsOf(const std::vector<Programme>& programmes) {
    std::vector<std::string> authors;
    for (const Programme& programme : programmes) {
        authors.insert(authors.end(), programme.authors.begin(), programme.authors.end());
    }
    return authors;
}

std::vector<Programme> morningShows() {
    return {{"Wake-up call", "http://radio.example/audio/wake%20up.mp3", {"Ada"}},
            {"News at nine", "http://radio.example/audio/news9.mp3", {"Bo"}}};
}

std::vector<Programme> eveningShows() {
    return {{"Jazz hour", "http://radio.example/audio/jazz.mp3", {"Cy"}},
            {"Late talk", "http://radio.example/audio/talk.m4a", {"Di"}},
            {"Night mix", "http://radio.example/audio/mix.aac", {"Ed"}}};
}

void CatalogueTest::SetUp() {
    platform::initNetworking();
    initXMLParser();
    mainQueue = std::make_shared<platform::DeterministicMainQueue>();
    platform::MainQueue::setMain(mainQueue);

    std::string pattern = (std::filesystem::temp_directory_path() / "feeds-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    documents = pattern;
    platform::setDocumentsDirectoryOverride(documents);
    CatalogueRefresh::resetContinueNetForTesting();
    threadsBefore = refresh().threadsStarted();
}

void CatalogueTest::TearDown() {
    // Every refresh must end on request, even one in the middle of a download.
    EXPECT_TRUE(refresh().shutdown(std::chrono::seconds(10)));
    platform::setDocumentsDirectoryOverride(std::nullopt);
    std::error_code ignored;
    std::filesystem::remove_all(documents, ignored);
}

std::unique_ptr<OnDemandCatalogue> CatalogueTest::makeCatalogue(const std::string& feedURL,
                                                                double backoffSeconds,
                                                                long totalTimeoutMs) {
    OnDemandCatalogue::Options options;
    options.backoffSeconds = backoffSeconds;
    options.loadOptions.connectTimeoutMs = 2000;
    options.loadOptions.totalTimeoutMs = totalTimeoutMs;
    return std::make_unique<OnDemandCatalogue>(
        feedURL, [this] { ++reloads; }, options);
}

void CatalogueTest::writeCache(const std::string& bytes) {
    ASSERT_TRUE(platform::writeFileAtomically(documents / kSongListFileName, bytes));
}

std::string CatalogueTest::readCache() const {
    return platform::readWholeFile(documents / kSongListFileName).value_or(std::string());
}

bool CatalogueTest::cacheExists() const {
    return std::filesystem::exists(documents / kSongListFileName);
}

std::vector<std::string> CatalogueTest::documentsFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(documents)) {
        names.push_back(entry.path().filename().string());
    }
    return names;
}

bool CatalogueTest::runUntilReloads(int count) {
    return mainQueue->runUntil([&] { return reloads >= count; });
}

}  // namespace feedtest
