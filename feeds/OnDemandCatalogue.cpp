#include "feeds/OnDemandCatalogue.h"

#include "feeds/CatalogueLists.h"
#include "platform/Files.h"
#include "xml/XMLParserSetup.h"

#include <utility>

OnDemandCatalogue::OnDemandCatalogue(std::string feedURL, std::function<void()> reloadData)
    : OnDemandCatalogue(std::move(feedURL), std::move(reloadData), Options()) {}

OnDemandCatalogue::OnDemandCatalogue(std::string feedURL, std::function<void()> reloadData,
                                     Options options)
    : feedURL_(std::move(feedURL)),
      reloadData_(std::move(reloadData)),
      options_(std::move(options)),
      delivery_(std::make_shared<CatalogueDelivery>(
          [this](std::vector<std::string> titls, std::vector<std::string> urls) {
              replaceTitlesAndURLs(std::move(titls), std::move(urls));
          })) {}

OnDemandCatalogue::~OnDemandCatalogue() {
    CatalogueRefresh::shared().stopDelivering(delivery_);
    // Hand-offs still queued hold only weak references: from here on they do nothing.
    delivery_.reset();
}

std::filesystem::path OnDemandCatalogue::cachePath() {
    return platform::documentsDirectory() / kSongListFileName;
}

void OnDemandCatalogue::getLocaXML() {
    initXMLParser();
    const std::filesystem::path path = cachePath();
    // A process killed mid-write leaves its temporary file behind; the next one clears it.
    platform::removeAbandonedTemporaries(path);
    // An absent, unreadable or empty file all mean there is no cache yet.
    const std::string cached = platform::readWholeFile(path).value_or(std::string());
    if (cached.empty()) {
        takeFirstRunPath(path);
    } else {
        takeCachedPath(path, cached);
    }
}

void OnDemandCatalogue::takeCachedPath(const std::filesystem::path& path,
                                       const std::string& cached) {
    bool replaced = false;
    try {
        CatalogueLists lists = buildCatalogueLists(cached, true);
        if (lists.usable()) {
            titls_ = std::move(lists.titls);
            urls_ = std::move(lists.urls);
            // Replaced even when empty: the authors always come from the same parse.
            artists_ = std::move(lists.artists);
            replaced = true;
        }
    } catch (...) {
        // A cache that fails to parse keeps the lists shown; the refresh may mend it.
    }
    if (replaced) reloadData_();
    CatalogueRefresh::shared().start(
        CatalogueSource{feedURL_, path, options_.loadOptions, options_.backoffSeconds,
                        options_.maxBackoffSeconds},
        delivery_);
}

void OnDemandCatalogue::takeFirstRunPath(const std::filesystem::path& path) {
    bool replaced = false;
    try {
        // The screen waits for this download: there is nothing to show until it ends.
        const platform::LoadResult download = platform::loadURL(feedURL_, options_.loadOptions);
        CatalogueLists lists = buildCatalogueLists(download.bytes, false);
        // Only a feed worth showing becomes the cache: a captive portal's page or an error
        // page sent with 200 must not leave the next start without network with nothing.
        if (lists.usable()) {
            platform::writeFileAtomically(path, download.bytes);
            titls_ = std::move(lists.titls);
            urls_ = std::move(lists.urls);
            replaced = true;
        }
    } catch (...) {
        // Nothing to show yet; the next showing downloads again.
    }
    if (replaced) reloadData_();
}

void OnDemandCatalogue::replaceTitlesAndURLs(std::vector<std::string> titls,
                                             std::vector<std::string> urls) {
    titls_ = std::move(titls);
    urls_ = std::move(urls);
    reloadData_();
}
