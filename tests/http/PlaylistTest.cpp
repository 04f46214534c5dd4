// Playlists as stations publish them: which answers are playlists, and the stream addresses
// taken from PLS and M3U text.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/http/Playlist.h"

namespace {

using platform::http::isPlaylistResponse;
using platform::http::playlistEntries;
using Entries = std::vector<std::string>;

TEST(Playlist, TellsAPlaylistByItsTypeOrElseItsAddress) {
    EXPECT_TRUE(isPlaylistResponse("http://radio.example/listen", "audio/x-scpls"));
    EXPECT_TRUE(
        isPlaylistResponse("http://radio.example/listen", "Audio/X-MpegURL; charset=utf-8"));
    EXPECT_TRUE(isPlaylistResponse("http://radio.example/live", "application/vnd.apple.mpegurl"));
    EXPECT_TRUE(isPlaylistResponse("http://radio.example/station.pls", "text/plain"));
    EXPECT_TRUE(isPlaylistResponse("http://radio.example/station.M3U?key=1", ""));
    EXPECT_TRUE(isPlaylistResponse("http://radio.example/a.m3u8", "application/octet-stream"));
    // The type wins over the address: an MP3 stream behind a .pls address is audio.
    EXPECT_FALSE(isPlaylistResponse("http://radio.example/station.pls", "audio/mpeg"));
    EXPECT_FALSE(isPlaylistResponse("http://radio.example/stream", "text/plain"));
    EXPECT_FALSE(isPlaylistResponse("http://radio.example/stream.mp3", ""));
}

TEST(Playlist, PlsEntriesInTheirNumberedOrder) {
    const std::string pls =
        "[playlist]\r\nNumberOfEntries=3\r\nFile2=http://b.example/two\r\n"
        "Title2=Two\r\nfile1 = https://a.example/one.mp3 \r\nFile3=/three\r\nLength1=-1\r\n"
        "Version=2\r\nFilex=http://c.example/bad\r\nFile4=ftp://d.example/no\r\n";
    EXPECT_EQ(playlistEntries(pls, "http://radio.example:8000/lists/station.pls"),
              (Entries{"https://a.example/one.mp3", "http://b.example/two",
                       "http://radio.example:8000/three"}));
}

TEST(Playlist, M3uLinesWithCommentsRelativeAddressesAndAByteOrderMark) {
    const std::string m3u =
        "\xEF\xBB\xBF#EXTM3U\n#EXTINF:-1,Ostra Radio\nhttp://radio.example/live\n\n"
        "  mirror.mp3  \n#EXTINF:-1,Backup\n/backup?q=1\n";
    EXPECT_EQ(playlistEntries(m3u, "http://radio.example/lists/station.m3u?x=1"),
              (Entries{"http://radio.example/live", "http://radio.example/lists/mirror.mp3",
                       "http://radio.example/backup?q=1"}));
    EXPECT_EQ(playlistEntries("stream", "http://radio.example"),
              (Entries{"http://radio.example/stream"}));
}

TEST(Playlist, HlsAndTextWithoutAddressesGiveNothing) {
    EXPECT_TRUE(playlistEntries("#EXTM3U\n#EXT-X-TARGETDURATION:6\n#EXTINF:6,\nseg0.aac\n",
                                "http://radio.example/live.m3u8")
                    .empty());
    EXPECT_TRUE(playlistEntries("#EXTM3U\n#EXT-X-STREAM-INF:BANDWIDTH=64000\nlow.m3u8\n",
                                "http://radio.example/master.m3u8")
                    .empty());
    EXPECT_TRUE(
        playlistEntries("[playlist]\nNumberOfEntries=0\n", "http://radio.example/a.pls").empty());
    EXPECT_TRUE(playlistEntries("", "http://radio.example/a.m3u").empty());
    EXPECT_TRUE(
        playlistEntries("file:///home/me/song.mp3\n", "http://radio.example/a.m3u").empty());
}

}  // namespace
