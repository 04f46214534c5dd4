// stop in every state, buffering on a server that pauses, and the end of a download that
// comes while buffering.

#include <chrono>

#include "tests/streaming/StreamerTestSupport.h"

using namespace streamertest;
using Access = AudioStreamerTestAccess;
using testsupport::Response;

namespace {

class StopTest : public StreamerTest {
protected:
    // Stops, checks that the run ended cleanly as a user stop, and returns how long stop took.
    double stopAndCheck(AudioStreamer& streamer) {
        const auto before = std::chrono::steady_clock::now();
        streamer.stop();
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - before)
                .count();
        EXPECT_TRUE(streamer.isIdle());
        EXPECT_EQ(streamer.errorCode(), AS_NO_ERROR);
        EXPECT_EQ(Access::stopReason(streamer), AS_STOP_REASON_USER);
        EXPECT_TRUE(Access::handlesAreNone(streamer));
        EXPECT_EQ(alerts->count(), 0u);
        std::printf("stop took %.1f ms\n", ms);
        return ms;
    }

    std::string song() {
        server->serve("/song.mp3", Response::file(fixturePath("cbr128.mp3")));
        return "/song.mp3";
    }
};

}  // namespace

// stop right after start, usually before the thread's first step: the thread then opens
// nothing and ends quietly; later, it tears down what it opened. Either way the run ends idle.
TEST_F(StopTest, StopRightAfterStart) {
    auto streamer = makeStreamer(song());
    for (int i = 0; i < 20; ++i) {
        streamer->start();
        streamer->stop();
        EXPECT_TRUE(streamer->isIdle());
        EXPECT_TRUE(Access::openHandlesAreNone(*streamer));
    }
    std::printf("%zu of 20 runs reached the server\n", server->requests().size());
    EXPECT_FALSE(logs->contains("### Not starting audio thread"));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
}

// While waiting for data (no queue yet) stop sets AS_STATE_STOPPED and the thread ends.
TEST_F(StopTest, StopWhileWaitingForData) {
    server->serve(
        "/stall.mp3",
        Response::file(fixturePath("cbr128.mp3")).stallBeforeHeaders(testsupport::Seconds(30)));
    auto streamer = makeStreamer("/stall.mp3");
    StateHistory history(*mainQueue, streamer);
    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_WAITING_FOR_DATA));
    stopAndCheck(*streamer);
    mainQueue->drain();
    const std::vector<AudioStreamerState> expected = {AS_STATE_IDLE, AS_STATE_STARTING_THREAD,
                                                      AS_STATE_WAITING_FOR_DATA, AS_STATE_STOPPED,
                                                      AS_STATE_IDLE};
    EXPECT_EQ(history.states(), expected) << history.describe();
}

// While playing, stop stops the queue at once: STOPPING, then STOPPED from the queue, then idle.
TEST_F(StopTest, StopWhilePlaying) {
    useCapture(1);
    auto streamer = makeStreamer(song());
    StateHistory history(*mainQueue, streamer);
    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    stopAndCheck(*streamer);
    mainQueue->drain();
    const auto states = history.states();
    ASSERT_GE(states.size(), 4u);
    EXPECT_EQ(std::vector<AudioStreamerState>(states.end() - 4, states.end()),
              (std::vector<AudioStreamerState>{AS_STATE_PLAYING, AS_STATE_STOPPING,
                                               AS_STATE_STOPPED, AS_STATE_IDLE}))
        << history.describe();
}

// While paused the same.
TEST_F(StopTest, StopWhilePaused) {
    useCapture(1);
    auto streamer = makeStreamer(song());
    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    streamer->pause();
    ASSERT_TRUE(streamer->isPaused());
    stopAndCheck(*streamer);
}

// When the server pauses mid-file, the streamer goes PLAYING -> BUFFERING once every queued
// buffer has played, and back to PLAYING exactly when the 15th new buffer is queued; nothing
// is lost. Stopping while buffering also works (second part).
TEST_F(StopTest, BufferingOnAServerThatPauses) {
    const std::string file = fixturePath("cbr128.mp3");
    server->serve("/gap.mp3", Response::file(file).pauseAfter(100000, "gap"));
    useCapture(20);
    auto streamer = makeStreamer("/gap.mp3");
    StateHistory history(*mainQueue, streamer);
    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_BUFFERING));
    EXPECT_EQ(Access::buffersUsed(*streamer), 0);
    server->release("gap");
    ASSERT_TRUE(waitForIdle(*streamer, 60));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);

    const auto states = history.states();
    const auto buffering = std::find(states.begin(), states.end(), AS_STATE_BUFFERING);
    ASSERT_NE(buffering, states.end());
    EXPECT_EQ(*(buffering - 1), AS_STATE_PLAYING);
    EXPECT_EQ(*(buffering + 1), AS_STATE_PLAYING) << history.describe();
    EXPECT_EQ(history.buffersAt(AS_STATE_PLAYING, 1), kAQStartThreshold);

    const Pcm capture = captured(*lastSink());
    const Pcm reference = referenceDecode(file, capture.sampleRate, capture.channels);
    const auto d = findOffset(capture, reference, 8192, 4096, -4096, 4096);
    ASSERT_TRUE(d);
    EXPECT_LE(maxDifference(capture, reference, 8192, reference.frames() - 8192 - 4096, *d), 1e-4f);
}

TEST_F(StopTest, StopWhileBuffering) {
    server->serve("/gap.mp3", Response::file(fixturePath("cbr128.mp3")).pauseAfter(50000, "gap"));
    useCapture(20);
    auto streamer = makeStreamer("/gap.mp3");
    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_BUFFERING));
    stopAndCheck(*streamer);
}

// The download ending while the queue is paused for buffering: the stop after what is queued
// still plays the rest out, and the run ends instead of waiting on a paused queue.
TEST_F(StopTest, EndOfDownloadWhileBuffering) {
    const std::string file = fixturePath("cbr128.mp3");
    const long size = long(readFile(file).size());
    server->serve("/gap.mp3", Response::file(file).pauseAfter(uint64_t(size - 2000), "gap"));
    useCapture(20);
    auto streamer = makeStreamer("/gap.mp3");
    StateHistory history(*mainQueue, streamer);
    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_BUFFERING));
    server->release("gap");
    ASSERT_TRUE(waitForIdle(*streamer, 20)) << history.describe();
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    EXPECT_EQ(Access::stopReason(*streamer), AS_STOP_REASON_EOF);

    const Pcm capture = captured(*lastSink());
    const Pcm reference = referenceDecode(file, capture.sampleRate, capture.channels);
    const auto d = findOffset(capture, reference, 8192, 4096, -4096, 4096);
    ASSERT_TRUE(d);
    // The last frames came out too.
    EXPECT_GE(long(capture.frames()) + *d + 1152, long(reference.frames()));
}

// stop while the end-of-stream stop plays out what is queued: stopped at once, the rest is
// dropped, and the thread ends.
TEST_F(StopTest, StopDuringTheEndOfStreamStop) {
    const auto packets = packetList("cbr128-noxing.mp3");
    const std::string shortFile =
        readFile(fixturePath("cbr128-noxing.mp3")).substr(0, size_t(packets[100].first));
    server->serve("/short.mp3", Response::bytes(shortFile));
    useCapture(1);
    auto streamer = makeStreamer("/short.mp3");
    streamer->start();
    ASSERT_TRUE(runUntil([&] {
        return streamer->state() == AS_STATE_STOPPING &&
               Access::stopReason(*streamer) == AS_STOP_REASON_EOF;
    }));
    stopAndCheck(*streamer);
    EXPECT_GT(lastSink()->discardedCount(), 0u);
}
