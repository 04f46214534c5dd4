// HLS through the whole engine: the playlist read at the stream's address, its segments read
// one after the other as one body (ADTS segments, MPEG-TS segments), on demand and live.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <sstream>

#include "platform/http/HlsPlaylist.h"
#include "tests/streaming/StreamerTestSupport.h"

using namespace streamertest;
using Access = AudioStreamerTestAccess;
using testsupport::Response;

namespace {

constexpr const char* kPlaylistType = "application/vnd.apple.mpegurl";

class HlsTest : public StreamerTest {
protected:
    // Serves every file of the fixture folder under /hls/NAME/; the segments' names in order.
    std::vector<std::string> serveFolder(const std::string& name) {
        std::vector<std::string> segments;
        for (const auto& entry : std::filesystem::directory_iterator(fixturePath(name))) {
            const std::string file = entry.path().filename().string();
            auto response = Response::file(entry.path().string());
            if (file == "index.m3u8") {
                response.header("Content-Type", kPlaylistType);
            } else {
                segments.push_back(file);
            }
            server->serve("/hls/" + name + "/" + file, std::move(response));
        }
        std::sort(segments.begin(), segments.end());
        return segments;
    }

    // The paths of the requests for segments, in the order they came.
    std::vector<std::string> segmentRequests() const {
        std::vector<std::string> paths;
        for (const auto& request : server->requests()) {
            if (request.path.find(".m3u8") == std::string::npos) paths.push_back(request.path);
        }
        return paths;
    }
};

class OnDemandHlsTest : public HlsTest, public ::testing::WithParamInterface<const char*> {};

}  // namespace

TEST_P(OnDemandHlsTest, SegmentsPlayAsOneStream) {
    const std::string name = GetParam();
    const std::vector<std::string> segments = serveFolder(name);
    ASSERT_GE(segments.size(), 10u);
    useCapture(0);
    auto streamer = makeStreamer("/hls/" + name + "/index.m3u8");
    const auto started = std::chrono::steady_clock::now();
    streamer->start();
    ASSERT_TRUE(runUntil([&] { return streamer->isPlaying() || streamer->isIdle(); }));
    const double toPlaying =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count();
    ASSERT_TRUE(waitForIdle(*streamer, 60));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR) << ::testing::PrintToString(logs->lines());
    EXPECT_EQ(Access::stopReason(*streamer), AS_STOP_REASON_EOF);

    // Every segment once, in order.
    std::vector<std::string> expected;
    for (const std::string& segment : segments) expected.push_back("/hls/" + name + "/" + segment);
    EXPECT_EQ(segmentRequests(), expected);

    const Pcm capture = captured(*lastSink());
    const Pcm reference =
        referenceDecode(fixturePath(name + "/index.m3u8"), capture.sampleRate, capture.channels);
    EXPECT_TRUE(sameAudio(capture, reference, 1e-4f, 1024));
    std::printf("%s: start to PLAYING %.1f ms\n", name.c_str(), toPlaying);
}

// On demand the playlist gives the duration, and a seek reads from the segment holding the
// time: that segment is the next one requested, and playback resumes within a packet of the
// time (the segment's packets before it are dropped), back and ahead alike.
TEST_P(OnDemandHlsTest, SeeksReadTheSegmentHoldingTheTime) {
    const std::string name = GetParam();
    const std::vector<std::string> segments = serveFolder(name);
    const auto playlist = platform::http::parseHlsPlaylist(
        readFile(fixturePath(name + "/index.m3u8")), "http://127.0.0.1/hls/" + name + "/");
    ASSERT_TRUE(playlist.media);
    const double length = playlist.media->totalDuration();
    useCapture(8);
    auto streamer = makeStreamer("/hls/" + name + "/index.m3u8");
    StateHistory history(*mainQueue, streamer);
    streamer->start();
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > 2.0; }));
    EXPECT_DOUBLE_EQ(streamer->duration(), length);
    const Pcm reference = referenceDecode(fixturePath(name + "/index.m3u8"), 44100, 2);
    for (const double target : {13.3, 5.1, 9.9}) {
        SCOPED_TRACE(target);
        double segmentStart = 0;
        const size_t segment = *playlist.media->segmentAt(target, &segmentStart);
        const size_t requestsBefore = server->requests().size();
        streamer->seekToTime(target);
        ASSERT_TRUE(runUntil([&] {
            return streamer->isPlaying() && std::abs(streamer->progress() - target) < 0.5;
        })) << history.describe()
            << " error " << streamer->errorCode() << " progress " << streamer->progress();
        const uint64_t after = lastSink()->consumedCount();
        ASSERT_TRUE(runUntil([&] { return lastSink()->consumedCount() > after + 22050; }));
        const double progress = streamer->progress();
        streamer->pause();

        // The segment holding the time is read next; only the one whose request was already on
        // its way when the seek was asked for may come before it.
        const auto requests = server->requests();
        ASSERT_GT(requests.size(), requestsBefore);
        const std::string wanted = "/hls/" + name + "/" + segments[segment];
        const auto sinceSeek = requests.begin() + std::ptrdiff_t(requestsBefore);
        const auto read = std::find_if(sinceSeek, requests.end(),
                                       [&](const auto& request) { return request.path == wanted; });
        ASSERT_NE(read, requests.end());
        EXPECT_LE(read - sinceSeek, 1);
        const auto resumed = resumedAt(captured(*lastSink()), reference, 1e-4f);
        ASSERT_TRUE(resumed);
        const double packet = 1024.0 / 44100;
        std::printf("%s: seek to %.3f s (segment from %.3f s) resumed at %.3f s, progress %.3f s\n",
                    name.c_str(), target, segmentStart, *resumed, progress);
        EXPECT_TRUE(landedWithinAPacket(target, *resumed, progress, packet));
        streamer->pause();
    }
    streamer->stop();
    ASSERT_TRUE(waitForIdle(*streamer));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
}

// A programme resumed at a position (after its download failed) starts there in HLS too: the
// segment holding the position is read next, and nothing before the position plays.
TEST_P(OnDemandHlsTest, ARunStartedAtAPositionPlaysFromThere) {
    const std::string name = GetParam();
    const std::vector<std::string> segments = serveFolder(name);
    useCapture(8);
    auto streamer = makeStreamer("/hls/" + name + "/index.m3u8");
    const double target = 9.5;
    streamer->setStartPosition(target, 128000);
    streamer->start();
    ASSERT_TRUE(runUntil([&] { return streamer->isPlaying() && streamer->progress() > target; }))
        << "error " << streamer->errorCode() << " progress " << streamer->progress();
    const uint64_t after = lastSink()->consumedCount();
    ASSERT_TRUE(runUntil([&] { return lastSink()->consumedCount() > after + 22050; }));
    const double progress = streamer->progress();
    streamer->stop();
    ASSERT_TRUE(waitForIdle(*streamer));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);

    // The first segment brings the format; the next one read is the one holding 9.5 s.
    const std::vector<std::string> requested = segmentRequests();
    ASSERT_GE(requested.size(), 2u);
    EXPECT_EQ(requested[1], "/hls/" + name + "/" + segments[4]);
    const Pcm capture = captured(*lastSink());
    const Pcm reference = referenceDecode(fixturePath(name + "/index.m3u8"), 44100, 2);
    const auto resumed = resumedAt(capture, reference, 1e-4f);
    ASSERT_TRUE(resumed);
    EXPECT_TRUE(landedWithinAPacket(target, *resumed, progress, 1024.0 / 44100));
    // Nothing before the position was played: the capture holds what played since (and what
    // the sink held when stopped), not the first segment's audio.
    const double captured = double(capture.frames()) / 44100;
    std::printf("%s: started at %.1f s, resumed at %.3f s, progress %.3f s, captured %.3f s\n",
                name.c_str(), target, *resumed, progress, captured);
    EXPECT_LT(captured, progress - target + 1.5);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, OnDemandHlsTest, ::testing::Values("hls-adts", "hls-ts"),
                         [](const auto& info) {
                             return std::string(info.index ? "TransportStream" : "Adts");
                         });

// A live window: each reload of the playlist shows one more segment and the oldest goes, one
// reload fails on the way, and the last one ends the list. Every segment is read once, in
// order, and the audio is the whole programme's, without a gap.
TEST_F(HlsTest, ALivePlaylistIsReloadedAndItsSegmentsReadInOrder) {
    const std::vector<std::string> segments = serveFolder("hls-ts");
    const size_t count = segments.size();
    std::atomic<int> reloads{0};
    server->serve("/live/index.m3u8", [&](const testsupport::RecordedRequest&) {
        const int reload = reloads.fetch_add(1);
        if (reload == 3) return Response::status(503);
        const size_t shown = std::min(count, size_t(3 + std::max(0, reload - 1)));
        const size_t first = shown > 3 ? shown - 3 : 0;
        std::ostringstream text;
        text << "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXT-X-MEDIA-SEQUENCE:" << first << "\n";
        for (size_t i = first; i < shown; ++i) {
            text << "#EXTINF:2.0,\n/hls/hls-ts/" << segments[i] << "\n";
        }
        if (shown == count) text << "#EXT-X-ENDLIST\n";
        return Response::bytes(text.str()).header("Content-Type", kPlaylistType);
    });
    useCapture(0);
    auto streamer = makeStreamer("/live/index.m3u8");
    streamer->start();
    ASSERT_TRUE(waitForIdle(*streamer, 60));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR) << ::testing::PrintToString(logs->lines());
    EXPECT_EQ(Access::stopReason(*streamer), AS_STOP_REASON_EOF);
    // A live stream has no length: nothing to seek in.
    EXPECT_EQ(Access::fileLength(*streamer), 0);

    std::vector<std::string> expected;
    for (const std::string& segment : segments) expected.push_back("/hls/hls-ts/" + segment);
    EXPECT_EQ(segmentRequests(), expected);
    EXPECT_GE(reloads.load(), int(count - 3) + 2);

    const Pcm capture = captured(*lastSink());
    const Pcm reference =
        referenceDecode(fixturePath("hls-ts.ts"), capture.sampleRate, capture.channels);
    EXPECT_TRUE(sameAudio(capture, reference, 1e-4f, 1024));
}

// A live list whose packager has stopped: the same three segments at every reload, never an
// end. They are read once each and played; after three and a half target durations without a
// new one the run fails, and the player can tell, instead of waiting in silence for good.
TEST_F(HlsTest, ALivePlaylistThatStopsChangingFailsTheRun) {
    const std::vector<std::string> segments = serveFolder("hls-ts");
    std::atomic<int> reloads{0};
    server->serve("/stuck/index.m3u8", [&](const testsupport::RecordedRequest&) {
        reloads.fetch_add(1);
        std::ostringstream text;
        text << "#EXTM3U\n#EXT-X-TARGETDURATION:1\n#EXT-X-MEDIA-SEQUENCE:0\n";
        for (size_t i = 0; i < 3; ++i) text << "#EXTINF:2.0,\n/hls/hls-ts/" << segments[i] << "\n";
        return Response::bytes(text.str()).header("Content-Type", kPlaylistType);
    });
    useCapture(0);
    auto streamer = makeStreamer("/stuck/index.m3u8");
    streamer->start();
    ASSERT_TRUE(waitForIdle(*streamer, 60));
    EXPECT_EQ(streamer->errorCode(), AS_AUDIO_DATA_NOT_FOUND);
    const std::vector<std::string> logged = logs->lines();
    EXPECT_TRUE(std::any_of(logged.begin(), logged.end(), [](const std::string& line) {
        return line.find("stopped changing") != std::string::npos;
    })) << ::testing::PrintToString(logged);
    EXPECT_EQ(segmentRequests(),
              (std::vector<std::string>{"/hls/hls-ts/" + segments[0], "/hls/hls-ts/" + segments[1],
                                        "/hls/hls-ts/" + segments[2]}));
    // The first reload after a target duration, then every half of one: about eight in all.
    EXPECT_GE(reloads.load(), 5);
    EXPECT_LE(reloads.load(), 12);
    EXPECT_GT(captured(*lastSink()).frames(), size_t(5 * 44100));
}

// A master playlist: the video variant is passed over for the audio one within the bound.
TEST_F(HlsTest, AMasterPlaylistPlaysItsAudioVariant) {
    serveFolder("hls-adts");
    server->serve(
        "/master.m3u8",
        Response::bytes("#EXTM3U\n"
                        "#EXT-X-STREAM-INF:BANDWIDTH=2000000,CODECS=\"avc1.64001f,mp4a.40.2\"\n"
                        "/video/index.m3u8\n"
                        "#EXT-X-STREAM-INF:BANDWIDTH=140000,CODECS=\"mp4a.40.2\"\n"
                        "hls/hls-adts/index.m3u8\n")
            .header("Content-Type", kPlaylistType));
    useCapture(0);
    auto streamer = makeStreamer("/master.m3u8");
    streamer->start();
    ASSERT_TRUE(waitForIdle(*streamer, 60));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR) << ::testing::PrintToString(logs->lines());
    for (const auto& request : server->requests()) EXPECT_NE(request.path, "/video/index.m3u8");
    EXPECT_GE(segmentRequests().size(), 10u);
    EXPECT_GT(captured(*lastSink()).frames(), size_t(19 * 44100));
}

// Encrypted segments cannot be played: the run fails as for any stream without audio.
TEST_F(HlsTest, EncryptedSegmentsFailTheRun) {
    server->serve("/locked.m3u8",
                  Response::bytes("#EXTM3U\n#EXT-X-TARGETDURATION:2\n"
                                  "#EXT-X-KEY:METHOD=AES-128,URI=\"key.bin\"\n#EXTINF:2,\nseg.ts\n"
                                  "#EXT-X-ENDLIST\n")
                      .header("Content-Type", kPlaylistType));
    auto streamer = makeStreamer("/locked.m3u8");
    streamer->start();
    ASSERT_TRUE(waitForIdle(*streamer));
    EXPECT_EQ(streamer->errorCode(), AS_AUDIO_DATA_NOT_FOUND);
    EXPECT_TRUE(segmentRequests().empty());
}
