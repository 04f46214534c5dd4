#pragma once
// The web side of the station: the programme feed, the advertisement list, a small podcast
// page, the artwork and the programme files, each under its path.
//
// Built once before the server starts and read only afterwards, so it needs no lock.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tools/station/StationCatalogue.h"

namespace station {

struct SiteResource {
    std::string mimeType;
    std::shared_ptr<const std::string> bytes;  // a document made in memory, or
    std::filesystem::path file;                // a file read at each request
};

class StationSite {
public:
    // `baseUrl` is how clients reach the web port ("http://127.0.0.1:8171"); the feed's
    // links point there. File sizes are read from `audioDir` for the feed's enclosures.
    StationSite(std::string baseUrl, const std::filesystem::path& audioDir);

    const SiteResource* find(std::string_view path) const;
    const std::string& feed() const { return *feed_; }
    const std::string& adList() const { return *adList_; }

    static std::string programmePath(const Programme& programme) {
        return "/programmes/" + programme.file;
    }

private:
    std::string baseUrl_;
    std::shared_ptr<const std::string> feed_;
    std::shared_ptr<const std::string> adList_;
    std::map<std::string, SiteResource, std::less<>> resources_;
};

// Text made safe for XML and HTML element content and double-quoted attribute values. The
// apostrophe stays as it is: an entity reference would be one more node for a reader that
// walks the children of an element.
std::string escapeMarkup(std::string_view text);

std::string makeFeed(const std::string& baseUrl, const std::vector<Programme>& programmes,
                     const std::vector<uint64_t>& fileSizes);
std::string makeAdList(const std::vector<std::string>& lines);
std::string makePodcastPage(const std::string& baseUrl, const std::vector<Programme>& programmes);

}  // namespace station
