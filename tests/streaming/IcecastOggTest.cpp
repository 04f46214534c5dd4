// Live Ogg Vorbis and Opus mounts of a real Icecast server, fed by ffmpeg: a listener joins in
// the middle of the stream (Icecast sends the stream's headers, then pages from where it is),
// plays, and hears the file's own audio.

#include <chrono>

#include "tests/streaming/StreamerTestSupport.h"
#include "tests/support/IcecastServer.h"

using namespace streamertest;

namespace {

struct Mount {
    const char* fixture;
    const char* mount;
    float tolerance;  // the Opus mount is resampled to the capture's 44.1 kHz
};

void PrintTo(const Mount& m, std::ostream* os) { *os << m.mount; }

class IcecastOggTest : public StreamerTest, public ::testing::WithParamInterface<Mount> {};

}  // namespace

TEST_P(IcecastOggTest, AListenerJoiningMidStreamHearsTheFile) {
    if (!testsupport::installed("icecast2") || !testsupport::installed("ffmpeg")) {
        GTEST_SKIP() << "icecast2 or ffmpeg missing";
    }
    const std::string file = fixturePath(GetParam().fixture);
    testsupport::IcecastServer icecast;
    ASSERT_TRUE(icecast.start(file, GetParam().mount, "ogg", "application/ogg")) << icecast.log();

    useCapture(1);
    streamers.push_back(AudioStreamer::create(icecast.url()));
    auto streamer = streamers.back();
    StateHistory history(*mainQueue, streamer);
    const auto started = std::chrono::steady_clock::now();
    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING)) << history.describe() << icecast.log();
    std::printf(
        "%s: start to PLAYING %.1f ms\n", GetParam().mount,
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started)
            .count());
    EXPECT_EQ(streamer->stationName(), "Ostra Icecast Test");
    // Two seconds of audio heard, beyond the burst Icecast sends at once.
    ASSERT_TRUE(runUntil([&] { return lastSink()->consumedCount() > 88200; }));
    streamer->stop();
    ASSERT_TRUE(waitForIdle(*streamer));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);

    // The capture's second second is somewhere in the looped file.
    const Pcm capture = captured(*lastSink());
    const Pcm reference = referenceDecode(file, capture.sampleRate, capture.channels);
    const auto d = findOffset(capture, reference, 44100, 4096, -44100,
                              long(reference.frames()) - 44100 - 4096, GetParam().tolerance);
    EXPECT_TRUE(d.has_value()) << "the live audio is not the file's";
}

INSTANTIATE_TEST_SUITE_P(Mounts, IcecastOggTest,
                         ::testing::Values(Mount{"vorbis.ogg", "/live.ogg", 1e-4f},
                                           Mount{"opus.opus", "/live.opus", 2e-3f}),
                         [](const auto& info) {
                             return std::string(info.index ? "Opus" : "Vorbis");
                         });
