#include "tools/station/StationSite.h"

#include <system_error>

namespace station {

std::string escapeMarkup(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out += c;
        }
    }
    return out;
}

// An RSS 2.0 channel. The player's list screen pairs the n-th item with the (n+2)-th title in
// document order, so exactly two titles come before the first item's: the channel's and its
// image's. Every item has one title (plain text, never CDATA), one author and one enclosure;
// no element from another namespace repeats those names.
std::string makeFeed(const std::string& baseUrl, const std::vector<Programme>& programmes,
                     const std::vector<uint64_t>& fileSizes) {
    const std::string base = escapeMarkup(baseUrl);
    std::string xml;
    xml += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml += "<rss version=\"2.0\">\n<channel>\n";
    xml += "  <title>" + escapeMarkup(kStationName) + " \xe2\x80\x93 On Demand</title>\n";
    xml += "  <link>" + base + "/podcast/</link>\n";
    xml += "  <description>Recorded programmes from " + escapeMarkup(kStationName) +
           ", the voice of the coast.</description>\n";
    xml += "  <language>en</language>\n";
    xml += "  <image>\n";
    xml += "    <url>" + base + "/" + kArtworkFile + "</url>\n";
    xml += "    <title>" + escapeMarkup(kStationName) + "</title>\n";
    xml += "    <link>" + base + "/podcast/</link>\n";
    xml += "  </image>\n";
    for (size_t i = 0; i < programmes.size(); ++i) {
        const Programme& p = programmes[i];
        const std::string url = base + escapeMarkup(StationSite::programmePath(p));
        xml += "  <item>\n";
        xml += "    <title>" + escapeMarkup(p.title) + "</title>\n";
        xml += "    <author>" + escapeMarkup(p.author) + "</author>\n";
        xml += "    <description>" + escapeMarkup(p.description) + "</description>\n";
        xml += "    <enclosure url=\"" + url + "\" length=\"" + std::to_string(fileSizes.at(i)) +
               "\" type=\"" + escapeMarkup(p.mimeType) + "\"/>\n";
        xml += "    <guid isPermaLink=\"false\">ostra-" + escapeMarkup(p.file) + "</guid>\n";
        xml += "    <pubDate>" + escapeMarkup(p.pubDate) + "</pubDate>\n";
        xml += "  </item>\n";
    }
    xml += "</channel>\n</rss>\n";
    return xml;
}

// A property list in the usual Apple form; the players show its last string.
std::string makeAdList(const std::vector<std::string>& lines) {
    std::string xml;
    xml += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    xml +=
        "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
        "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n";
    xml += "<plist version=\"1.0\">\n<array>\n  <dict>\n";
    xml += "    <key>sponsor</key>\n";
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) xml += "    <key>line" + std::to_string(i) + "</key>\n";
        xml += "    <string>" + escapeMarkup(lines[i]) + "</string>\n";
    }
    xml += "  </dict>\n</array>\n</plist>\n";
    return xml;
}

std::string makePodcastPage(const std::string& baseUrl, const std::vector<Programme>& programmes) {
    const std::string name = escapeMarkup(kStationName);
    std::string html;
    html += "<!DOCTYPE html>\n<html lang=\"en\">\n<head><meta charset=\"utf-8\">";
    html += "<title>" + name + " podcast</title></head>\n<body>\n";
    html += "<h1>" + name + "</h1>\n<p>Recorded programmes. The feed is at <a href=\"" +
            escapeMarkup(baseUrl) + "/dev/feed/\">/dev/feed/</a>.</p>\n<ul>\n";
    for (const auto& p : programmes) {
        html += "<li><a href=\"" + escapeMarkup(baseUrl + StationSite::programmePath(p)) + "\">" +
                escapeMarkup(p.title) + "</a> by " + escapeMarkup(p.author) + " &mdash; " +
                escapeMarkup(p.description) + "</li>\n";
    }
    html += "</ul>\n</body>\n</html>\n";
    return html;
}

StationSite::StationSite(std::string baseUrl, const std::filesystem::path& audioDir)
    : baseUrl_(std::move(baseUrl)) {
    const auto& programmes = stationProgrammes();
    std::vector<uint64_t> sizes;
    for (const auto& p : programmes) {
        std::error_code error;
        const auto size = std::filesystem::file_size(audioDir / p.file, error);
        sizes.push_back(error ? 0 : size);
        resources_[programmePath(p)] = SiteResource{p.mimeType, nullptr, audioDir / p.file};
    }
    feed_ = std::make_shared<const std::string>(makeFeed(baseUrl_, programmes, sizes));
    adList_ = std::make_shared<const std::string>(makeAdList(sponsorLines()));
    auto page = std::make_shared<const std::string>(makePodcastPage(baseUrl_, programmes));

    const SiteResource feed{"application/rss+xml; charset=utf-8", feed_, {}};
    resources_["/dev/feed/"] = feed;
    resources_["/dev/feed"] = feed;
    resources_["/adXML.plist"] = SiteResource{"application/xml; charset=utf-8", adList_, {}};
    resources_["/podcast/"] = SiteResource{"text/html; charset=utf-8", page, {}};
    resources_["/"] = resources_["/podcast/"];
    resources_[std::string("/") + kArtworkFile] =
        SiteResource{"image/png", nullptr, audioDir / kArtworkFile};
}

const SiteResource* StationSite::find(std::string_view path) const {
    auto it = resources_.find(path);
    return it == resources_.end() ? nullptr : &it->second;
}

}  // namespace station
