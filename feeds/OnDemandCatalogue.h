#pragma once
// The programme catalogue behind the on-demand list: the lists `titls`, `urls` and `artists`,
// filled each time the list is shown from the cached feed `SongList.XML` (then refreshed in
// the background) or, on first use, from a download.
//
// The list screen owns one, gives it the feed address and its table's reload request, calls
// getLocaXML each time it appears and reads the lists when the table asks. Row r shows
// titls[r + 2] and plays urls[r]; the lists are positional and may be out of step when the
// feed is irregular, so the reader checks their lengths.
//
// Threads: everything here runs on the main thread, including the reload request. The
// background refresh (CatalogueRefresh) hands its lists over through the main queue, so the
// table never reads a list while it is replaced.

#include "feeds/CatalogueRefresh.h"
#include "platform/http/URLLoader.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

inline constexpr const char* kSongListFileName = "SongList.XML";

class OnDemandCatalogue {
public:
    struct Options {
        // Timeouts and size cap of every feed download.
        platform::LoadOptions loadOptions;
        // Wait after the first failed background refresh, doubling up to maxBackoffSeconds.
        double backoffSeconds = 1.0;
        double maxBackoffSeconds = 300.0;
    };

    // `feedURL`: the programme feed (the app passes the compiled-in one). `reloadData`: asks
    // the table to read the lists again; called on the main thread.
    OnDemandCatalogue(std::string feedURL, std::function<void()> reloadData);
    OnDemandCatalogue(std::string feedURL, std::function<void()> reloadData, Options options);
    // Drops every hand-off still queued for this catalogue and stops a refresh that would
    // deliver only here. Does not wait for the refresh thread.
    ~OnDemandCatalogue();
    OnDemandCatalogue(const OnDemandCatalogue&) = delete;
    OnDemandCatalogue& operator=(const OnDemandCatalogue&) = delete;

    // Rebuilds the lists: from the cache, then a background refresh; or, with no usable cache
    // file, from a download on this (the main) thread, which also writes the cache. Never
    // throws; a failure leaves the lists as they were.
    void getLocaXML();

    const std::vector<std::string>& titls() const { return titls_; }
    const std::vector<std::string>& urls() const { return urls_; }
    // Filled only from the cache, so empty after a first run until the next showing.
    const std::vector<std::string>& artists() const { return artists_; }

    // SongList.XML in the documents directory.
    static std::filesystem::path cachePath();

private:
    void takeCachedPath(const std::filesystem::path& path, const std::string& cached);
    void takeFirstRunPath(const std::filesystem::path& path);
    // The refresh's hand-off, run on the main thread.
    void replaceTitlesAndURLs(std::vector<std::string> titls, std::vector<std::string> urls);

    const std::string feedURL_;
    const std::function<void()> reloadData_;
    const Options options_;

    // Main thread only.
    std::vector<std::string> titls_;
    std::vector<std::string> urls_;
    std::vector<std::string> artists_;
    // The refresh holds only a weak reference to it.
    std::shared_ptr<CatalogueDelivery> delivery_;
};
