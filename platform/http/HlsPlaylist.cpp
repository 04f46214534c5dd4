#include "platform/http/HlsPlaylist.h"

#include <algorithm>
#include <cstdlib>

#include "platform/http/Playlist.h"

namespace platform::http {

namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// The value of `name` in an attribute list (NAME=value,NAME="quoted, value",...).
std::string attribute(std::string_view list, std::string_view name) {
    size_t at = 0;
    while (at < list.size()) {
        const size_t equals = list.find('=', at);
        if (equals == std::string_view::npos) return {};
        const std::string_view key = list.substr(at, equals - at);
        size_t valueStart = equals + 1;
        size_t valueEnd;
        size_t next;
        if (valueStart < list.size() && list[valueStart] == '"') {
            ++valueStart;
            valueEnd = list.find('"', valueStart);
            if (valueEnd == std::string_view::npos) valueEnd = list.size();
            next = list.find(',', valueEnd);
        } else {
            valueEnd = list.find(',', valueStart);
            if (valueEnd == std::string_view::npos) valueEnd = list.size();
            next = valueEnd;
        }
        if (key == name) return std::string(list.substr(valueStart, valueEnd - valueStart));
        if (next == std::string_view::npos) return {};
        at = next + 1;
    }
    return {};
}

double number(std::string_view text) {
    const std::string copy(text);
    return std::strtod(copy.c_str(), nullptr);
}

// Codecs a variant may name that are audio we decode: AAC (mp4a), MP3, Opus, FLAC.
bool decodableCodecs(const std::string& codecs) {
    if (codecs.empty()) return true;
    size_t at = 0;
    while (at <= codecs.size()) {
        size_t end = codecs.find(',', at);
        if (end == std::string::npos) end = codecs.size();
        std::string codec = codecs.substr(at, end - at);
        codec.erase(0, codec.find_first_not_of(' '));
        if (!startsWith(codec, "mp4a") && codec != "mp3" && codec != "opus" && codec != "fLaC" &&
            codec != "flac") {
            return false;  // video, or audio we do not decode
        }
        at = end + 1;
    }
    return true;
}

}  // namespace

double HlsMediaPlaylist::totalDuration() const {
    double total = 0;
    for (const HlsSegment& segment : segments) total += segment.duration;
    return total;
}

std::optional<size_t> HlsMediaPlaylist::segmentAt(double seconds, double* segmentStart) const {
    double start = 0;
    for (size_t i = 0; i < segments.size(); ++i) {
        if (seconds < start + segments[i].duration || i + 1 == segments.size()) {
            if (segmentStart) *segmentStart = start;
            return i;
        }
        start += segments[i].duration;
    }
    return std::nullopt;
}

HlsPlaylist parseHlsPlaylist(std::string_view text, const std::string& url) {
    HlsPlaylist playlist;
    const std::vector<std::string_view> lines = playlistLines(text);
    if (lines.empty() || !startsWith(lines.front(), "#EXTM3U") || !isHlsPlaylist(lines)) {
        return playlist;
    }
    HlsMediaPlaylist media;
    bool isMedia = false;
    double pendingDuration = -1;  // the next address is a segment when not negative
    std::optional<HlsVariant> pendingVariant;
    for (const std::string_view line : lines) {
        if (line.empty()) continue;
        if (startsWith(line, "#EXT-X-STREAM-INF:")) {
            const std::string_view list = line.substr(18);
            pendingVariant = HlsVariant{};
            pendingVariant->bandwidth = uint64_t(number(attribute(list, "BANDWIDTH")));
            pendingVariant->codecs = attribute(list, "CODECS");
        } else if (startsWith(line, "#EXT-X-TARGETDURATION:")) {
            media.targetDuration = number(line.substr(22));
            isMedia = true;
        } else if (startsWith(line, "#EXT-X-MEDIA-SEQUENCE:")) {
            media.mediaSequence = uint64_t(number(line.substr(22)));
        } else if (startsWith(line, "#EXT-X-ENDLIST")) {
            media.ended = true;
        } else if (startsWith(line, "#EXT-X-KEY:")) {
            const std::string method = attribute(line.substr(11), "METHOD");
            if (!method.empty() && method != "NONE") media.encrypted = true;
        } else if (startsWith(line, "#EXTINF:")) {
            pendingDuration = std::max(0.0, number(line.substr(8)));
            isMedia = true;
        } else if (line.front() == '#') {
            continue;
        } else if (pendingVariant) {
            pendingVariant->url = resolvePlaylistAddress(line, url);
            playlist.variants.push_back(std::move(*pendingVariant));
            pendingVariant.reset();
        } else if (pendingDuration >= 0) {
            const uint64_t sequence = media.mediaSequence + media.segments.size();
            media.segments.push_back(
                {resolvePlaylistAddress(line, url), pendingDuration, sequence});
            pendingDuration = -1;
        }
    }
    if (isMedia && playlist.variants.empty()) playlist.media = std::move(media);
    return playlist;
}

const HlsVariant* chooseHlsVariant(const std::vector<HlsVariant>& variants, uint64_t maxBandwidth) {
    const HlsVariant* leanest = nullptr;
    for (const HlsVariant& variant : variants) {
        if (!decodableCodecs(variant.codecs)) continue;
        if (variant.bandwidth <= maxBandwidth) return &variant;
        if (!leanest || variant.bandwidth < leanest->bandwidth) leanest = &variant;
    }
    return leanest;
}

}  // namespace platform::http
