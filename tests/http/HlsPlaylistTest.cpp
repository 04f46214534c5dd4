// HLS playlists: media playlists (on demand and live), master playlists and the variant chosen.

#include <gtest/gtest.h>

#include "platform/http/HlsPlaylist.h"
#include "tests/support/TestFiles.h"

using namespace platform::http;

namespace {

const std::string kBase = "http://127.0.0.1:8000/radio/hls/index.m3u8";

TEST(HlsPlaylistTest, AnOnDemandMediaPlaylistAsFfmpegWritesIt) {
    const std::string text = testsupport::readFile(testsupport::fixturePath("hls-adts/index.m3u8"));
    const HlsPlaylist playlist = parseHlsPlaylist(text, kBase);
    ASSERT_TRUE(playlist.media.has_value());
    EXPECT_TRUE(playlist.variants.empty());
    const HlsMediaPlaylist& media = *playlist.media;
    EXPECT_TRUE(media.ended);
    EXPECT_FALSE(media.encrypted);
    EXPECT_EQ(media.targetDuration, 3);
    ASSERT_GE(media.segments.size(), 10u);
    EXPECT_EQ(media.segments[0].url, "http://127.0.0.1:8000/radio/hls/seg000.aac");
    EXPECT_EQ(media.segments.back().sequence, media.segments.size() - 1);
    EXPECT_NEAR(media.totalDuration(), 20.0, 0.1);
    double start = 0;
    EXPECT_EQ(media.segmentAt(0.0, &start), std::optional<size_t>(0));
    EXPECT_EQ(media.segmentAt(5.0, &start), std::optional<size_t>(2));
    EXPECT_NEAR(start, 4.01, 0.02);
    // Past the end: the last.
    EXPECT_EQ(media.segmentAt(99.0), std::optional<size_t>(media.segments.size() - 1));
}

TEST(HlsPlaylistTest, ALiveWindowWithItsSequenceAndAddresses) {
    const HlsPlaylist playlist = parseHlsPlaylist(
        "#EXTM3U\r\n#EXT-X-TARGETDURATION:6\r\n#EXT-X-MEDIA-SEQUENCE:1207\r\n"
        "#EXTINF:6.0,Morning\r\nchunk-1207.ts\r\n"
        "#EXTINF:6.0,\r\n/other/chunk-1208.ts?token=a\r\n"
        "#EXT-X-DISCONTINUITY\r\n#EXTINF:5.5,\r\nhttps://cdn.example/chunk-1209.ts\r\n",
        kBase);
    ASSERT_TRUE(playlist.media.has_value());
    const HlsMediaPlaylist& media = *playlist.media;
    EXPECT_FALSE(media.ended);
    EXPECT_EQ(media.mediaSequence, 1207u);
    ASSERT_EQ(media.segments.size(), 3u);
    EXPECT_EQ(media.segments[0].url, "http://127.0.0.1:8000/radio/hls/chunk-1207.ts");
    EXPECT_EQ(media.segments[1].url, "http://127.0.0.1:8000/other/chunk-1208.ts?token=a");
    EXPECT_EQ(media.segments[2].url, "https://cdn.example/chunk-1209.ts");
    EXPECT_EQ(media.segments[2].sequence, 1209u);
    EXPECT_EQ(media.segments[2].duration, 5.5);

    const HlsPlaylist encrypted = parseHlsPlaylist(
        "#EXTM3U\n#EXT-X-TARGETDURATION:6\n#EXT-X-KEY:METHOD=AES-128,URI=\"k\"\n#EXTINF:6,\na.ts\n",
        kBase);
    ASSERT_TRUE(encrypted.media.has_value());
    EXPECT_TRUE(encrypted.media->encrypted);
}

TEST(HlsPlaylistTest, AMasterPlaylistGivesTheVariantWithinTheBound) {
    const HlsPlaylist playlist = parseHlsPlaylist(
        "#EXTM3U\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=2500000,CODECS=\"avc1.4d401f,mp4a.40.2\"\nvideo.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=320000,CODECS=\"mp4a.40.2\"\nhigh/index.m3u8\n"
        "#EXT-X-STREAM-INF:BANDWIDTH=96000,CODECS=\"mp4a.40.5\"\nlow/index.m3u8\n"
        "#EXT-X-STREAM-INF:PROGRAM-ID=1,BANDWIDTH=64000\nlowest/index.m3u8\n",
        kBase);
    EXPECT_FALSE(playlist.media.has_value());
    ASSERT_EQ(playlist.variants.size(), 4u);
    EXPECT_EQ(playlist.variants[1].codecs, "mp4a.40.2");
    EXPECT_EQ(playlist.variants[3].bandwidth, 64000u);
    // Video is never chosen; the first audio variant within the bound is.
    const HlsVariant* chosen = chooseHlsVariant(playlist.variants, 400000);
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->url, "http://127.0.0.1:8000/radio/hls/high/index.m3u8");
    chosen = chooseHlsVariant(playlist.variants, 100000);
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->url, "http://127.0.0.1:8000/radio/hls/low/index.m3u8");
    // None within the bound: the leanest.
    chosen = chooseHlsVariant(playlist.variants, 1000);
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->bandwidth, 64000u);
    EXPECT_EQ(chooseHlsVariant({}, 1000), nullptr);
}

TEST(HlsPlaylistTest, TextThatIsNotHls) {
    for (const char* text : {"", "http://radio.example/stream.mp3\n",
                             "#EXTM3U\n#EXTINF:-1,Radio\nhttp://radio.example/live\n",
                             "[playlist]\nFile1=http://a/b\n"}) {
        const HlsPlaylist playlist = parseHlsPlaylist(text, kBase);
        EXPECT_FALSE(playlist.media.has_value()) << text;
        EXPECT_TRUE(playlist.variants.empty()) << text;
    }
}

}  // namespace
