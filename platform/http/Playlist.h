#pragma once
// Playlists that stations publish instead of their stream: PLS (`FileN=` lines) and M3U (one
// address a line, `#` lines are comments, the extended M3U too). An HLS playlist is not one of
// these: its lines are segments of one stream, not streams, so it yields no entries here.

#include <string>
#include <string_view>
#include <vector>

namespace platform::http {

// Bytes a playlist may have; more is taken for audio that was not a playlist after all.
inline constexpr size_t kMaxPlaylistBytes = 64 * 1024;

// Whether the answer to `url` is a playlist: by its content type (audio/x-scpls,
// audio/x-mpegurl, audio/mpegurl, application/x-mpegurl, application/vnd.apple.mpegurl), or,
// when the type says nothing more than text or octets, by the address's extension (pls, m3u,
// m3u8).
bool isPlaylistResponse(const std::string& url, const std::string& contentType);

// The playlist's stream addresses in its order, relative ones resolved against `playlistURL`;
// only http and https ones. Empty for anything else, an HLS playlist included.
std::vector<std::string> playlistEntries(std::string_view text, const std::string& playlistURL);

// The lines of a playlist, trimmed, without a byte-order mark.
std::vector<std::string_view> playlistLines(std::string_view text);
// Whether the lines are an HLS playlist (segments of one stream, or its variants).
bool isHlsPlaylist(const std::vector<std::string_view>& lines);
// `entry` against the playlist's own address: absolute as it is, "/path" on the same host,
// anything else beside the playlist.
std::string resolvePlaylistAddress(std::string_view entry, const std::string& playlistURL);

}  // namespace platform::http
