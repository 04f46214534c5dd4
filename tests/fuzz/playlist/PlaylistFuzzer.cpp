// The playlist readers (station playlists and HLS) on any text: the first byte picks the playlist's
// own address from a few shapes, the rest is the playlist. It must never crash, and every entry it
// gives must be an absolute address no longer than the text and the playlist's address together.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/http/HlsPlaylist.h"
#include "platform/http/Playlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const char* const kBases[] = {"http://radio.example/lists/station.pls",
                                         "https://radio.example", "http://radio.example/a?b=/c",
                                         "not a url"};
    const std::string base = kBases[data[0] % 4];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    (void)platform::http::isPlaylistResponse(base, std::string(text.substr(0, 64)));
    for (const std::string& entry : platform::http::playlistEntries(text, base)) {
        const bool web = entry.rfind("http://", 0) == 0 || entry.rfind("https://", 0) == 0 ||
                         entry.rfind("HTTP://", 0) == 0 || entry.rfind("HTTPS://", 0) == 0;
        // At most the address, a "/" it may lack before its path, and the line.
        if (entry.size() > text.size() + base.size() + 1) std::abort();
        if (!web && entry.find("://") == std::string::npos) std::abort();
    }
    // HLS: segments and variants too, and the choice among the variants.
    const platform::http::HlsPlaylist hls = platform::http::parseHlsPlaylist(text, base);
    for (const auto& variant : hls.variants) {
        if (variant.url.size() > text.size() + base.size() + 1) std::abort();
    }
    (void)platform::http::chooseHlsVariant(hls.variants, 128000);
    if (hls.media) {
        for (const auto& segment : hls.media->segments) {
            if (segment.url.size() > text.size() + base.size() + 1) std::abort();
        }
        (void)hls.media->segmentAt(double(size));
    }
    return 0;
}
