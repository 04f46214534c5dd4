#include "platform/http/Playlist.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>

#include "platform/URLPath.h"

namespace platform::http {

namespace {

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

// The media type without its parameters, lower case.
std::string mediaType(const std::string& contentType) {
    return lowered(trimmed(std::string_view(contentType).substr(0, contentType.find(';'))));
}

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool isWebAddress(std::string_view address) {
    const std::string lower = lowered(address.substr(0, 8));
    return startsWith(lower, "http://") || startsWith(lower, "https://");
}

}  // namespace

// `entry` against the playlist's own address: absolute as it is, "/path" on the same host,
// anything else beside the playlist.
std::string resolvePlaylistAddress(std::string_view entry, const std::string& base) {
    if (entry.find("://") != std::string_view::npos) return std::string(entry);
    const size_t schemeEnd = base.find("://");
    if (schemeEnd == std::string::npos) return std::string(entry);
    const size_t pathStart = base.find('/', schemeEnd + 3);
    if (!entry.empty() && entry.front() == '/') {
        return base.substr(0, pathStart == std::string::npos ? base.size() : pathStart) +
               std::string(entry);
    }
    const std::string withoutQuery = base.substr(0, base.find_first_of("?#"));
    const size_t lastSlash = withoutQuery.rfind('/');
    const std::string directory = lastSlash == std::string::npos || lastSlash < schemeEnd + 3
                                      ? withoutQuery + "/"
                                      : withoutQuery.substr(0, lastSlash + 1);
    return directory + std::string(entry);
}

std::vector<std::string_view> playlistLines(std::string_view text) {
    // A byte-order mark is not part of the first line.
    if (startsWith(text, "\xEF\xBB\xBF")) text.remove_prefix(3);
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = text.find_first_of("\r\n");
        lines.push_back(trimmed(text.substr(0, end)));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

bool isHlsPlaylist(const std::vector<std::string_view>& lines) {
    return std::any_of(lines.begin(), lines.end(), [](std::string_view line) {
        return startsWith(line, "#EXT-X-TARGETDURATION") || startsWith(line, "#EXT-X-STREAM-INF") ||
               startsWith(line, "#EXT-X-MEDIA-SEQUENCE");
    });
}

bool isPlaylistResponse(const std::string& url, const std::string& contentType) {
    const std::string type = mediaType(contentType);
    for (const char* playlist :
         {"audio/x-scpls", "audio/x-mpegurl", "audio/mpegurl", "application/x-mpegurl",
          "application/vnd.apple.mpegurl", "application/pls+xml"}) {
        if (type == playlist) return true;
    }
    // A server that names no better type than text or bytes: the address says what it is.
    if (!type.empty() && type != "text/plain" && type != "application/octet-stream") return false;
    const std::string extension = lowered(pathExtensionOfURL(url));
    return extension == "pls" || extension == "m3u" || extension == "m3u8";
}

std::vector<std::string> playlistEntries(std::string_view text, const std::string& playlistURL) {
    const std::vector<std::string_view> lines = playlistLines(text);
    std::vector<std::string> entries;
    if (isHlsPlaylist(lines)) return entries;

    const bool pls = std::any_of(lines.begin(), lines.end(), [](std::string_view line) {
        return lowered(line) == "[playlist]";
    });
    if (pls) {
        // FileN=address, in the order of N.
        std::map<long, std::string> numbered;
        for (std::string_view line : lines) {
            const size_t equals = line.find('=');
            if (equals == std::string_view::npos) continue;
            const std::string key = lowered(trimmed(line.substr(0, equals)));
            if (!startsWith(key, "file") || key.size() == 4) continue;
            char* end = nullptr;
            const long number = std::strtol(key.c_str() + 4, &end, 10);
            if (*end != '\0') continue;
            const std::string address =
                resolvePlaylistAddress(trimmed(line.substr(equals + 1)), playlistURL);
            if (isWebAddress(address)) numbered.emplace(number, address);
        }
        for (auto& [number, address] : numbered) entries.push_back(std::move(address));
        return entries;
    }
    for (std::string_view line : lines) {
        if (line.empty() || line.front() == '#') continue;
        const std::string address = resolvePlaylistAddress(line, playlistURL);
        if (isWebAddress(address)) entries.push_back(address);
    }
    return entries;
}

}  // namespace platform::http
