#pragma once
// HLS playlists: a master playlist lists variants of one programme (#EXT-X-STREAM-INF with its
// BANDWIDTH, the variant's address on the next line); a media playlist lists the segments that
// make up the stream (#EXTINF with each one's duration), with the target duration a live one
// is reloaded at, the media sequence number of its first segment, and #EXT-X-ENDLIST once the
// list is complete (on demand, or a live event that ended).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace platform::http {

struct HlsSegment {
    std::string url;
    double duration = 0;    // seconds
    uint64_t sequence = 0;  // media sequence number
};

struct HlsMediaPlaylist {
    double targetDuration = 0;
    uint64_t mediaSequence = 0;
    bool ended = false;
    // Encrypted segments (#EXT-X-KEY with a method other than NONE) cannot be played here.
    bool encrypted = false;
    std::vector<HlsSegment> segments;

    double totalDuration() const;
    // The segment that holds `seconds` from the start of the list, and where it begins.
    std::optional<size_t> segmentAt(double seconds, double* segmentStart = nullptr) const;
};

struct HlsVariant {
    std::string url;
    uint64_t bandwidth = 0;  // bits per second
    std::string codecs;
};

struct HlsPlaylist {
    std::vector<HlsVariant> variants;       // a master playlist
    std::optional<HlsMediaPlaylist> media;  // a media playlist
};

// The playlist at `url`; neither variants nor media when the text is not HLS.
HlsPlaylist parseHlsPlaylist(std::string_view text, const std::string& url);

// The variant to play: the first within `maxBandwidth` whose codecs (when named) are audio a
// player here decodes; the leanest such one when none is within it; null when there is none.
const HlsVariant* chooseHlsVariant(const std::vector<HlsVariant>& variants, uint64_t maxBandwidth);

}  // namespace platform::http
