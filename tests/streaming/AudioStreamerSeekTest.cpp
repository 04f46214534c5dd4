// Seeking a file: the ranged request, where the audio resumes and what progress says then.

#include <string>

#include "tests/streaming/StreamerTestSupport.h"

using namespace streamertest;
using Access = AudioStreamerTestAccess;
using testsupport::Response;

namespace {

constexpr double kPacketSeconds = 1152.0 / 44100.0;
const char* const kFixture = "cbr128.mp3";

struct RangeValue {
    long first = -1;
    long last = -1;
};

RangeValue parseRange(const std::string& header) {
    RangeValue range;
    if (std::sscanf(header.c_str(), "bytes=%ld-%ld", &range.first, &range.last) != 2) return {};
    return range;
}

class SeekTest : public StreamerTest {
protected:
    void SetUp() override {
        StreamerTest::SetUp();
        file = fixturePath(kFixture);
        fileSize = long(readFile(file).size());
        packets = packetList(kFixture);
        server->serve("/song.mp3", Response::file(file));
    }

    // Where the audio after the last seek sits in the capture: the offset d with
    // capture[i] == reference[i + d] for the tail, and the first capture frame of the run of
    // blocks that matches it.
    struct Resumed {
        long d = 0;
        size_t firstFrame = 0;
    };
    std::optional<Resumed> resumedAudio(const Pcm& capture, const Pcm& reference) {
        const size_t tailStart = capture.frames() - 3 * 44100;
        const auto d = findOffset(capture, reference, tailStart, 4096, -long(capture.frames()),
                                  long(reference.frames()));
        if (!d) return std::nullopt;
        size_t first = tailStart;
        while (first >= 1152 &&
               maxDifference(capture, reference, first - 1152, 1152, *d) <= 1e-4f) {
            first -= 1152;
        }
        return Resumed{*d, first};
    }

    std::string file;
    long fileSize = 0;
    std::vector<std::pair<int64_t, int64_t>> packets;
};

}  // namespace

// A seek back into what was already parsed uses the parser's exact packet offset: the request
// starts at that packet, the audio resumes with it, and progress counts on from its time.
TEST_F(SeekTest, SeekBackStartsAtTheExactPacket) {
    useCapture(4);
    auto streamer = makeStreamer("/song.mp3");
    streamer->start();
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > 6.0; }));

    const double target = 2.0;
    streamer->seekToTime(target);
    ASSERT_TRUE(server->waitForRequests(2));
    const RangeValue range = parseRange(server->requests()[1].header("Range"));
    const size_t packet = size_t(target / kPacketSeconds);
    EXPECT_EQ(range.first, long(packets[packet].first)) << server->requests()[1].header("Range");
    EXPECT_EQ(range.last, fileSize);
    // The time moves back from the target to where that packet starts.
    const double packetTime = double(packet) * kPacketSeconds;
    EXPECT_NEAR(Access::seekTime(*streamer), packetTime, kPacketSeconds);

    // Progress continues from the packet's time.
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > packetTime + 1.0; }));
    streamer->pause();
    auto sink = lastSink();
    const uint64_t consumed = sink->consumedCount();
    const double progressWhenPaused = streamer->progress();
    streamer->pause();
    ASSERT_TRUE(waitForIdle(*streamer, 60));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);

    const Pcm capture = captured(*sink);
    const Pcm reference = referenceDecode(file, capture.sampleRate, capture.channels);
    const auto resumed = resumedAudio(capture, reference);
    ASSERT_TRUE(resumed);
    // The first blocks after a seek may differ while the decoder warms up, so the matching run
    // starts at the packet or a few packets later, never before it.
    const double resumedAt = double(long(resumed->firstFrame) + resumed->d) / 44100.0;
    std::printf("resumed at %.3f s for packet time %.3f s\n", resumedAt, packetTime);
    EXPECT_GE(resumedAt, packetTime - kPacketSeconds - 1105.0 / 44100.0);
    EXPECT_LE(resumedAt, packetTime + 4 * kPacketSeconds);
    // What progress said equals the reference time of what had been played.
    EXPECT_NEAR(progressWhenPaused, double(long(consumed) + resumed->d) / 44100.0,
                2 * kPacketSeconds);
}

// A seek ahead of the download starts at the proportional byte offset (the parser can only
// estimate there), and the audio resumes close to the target.
TEST_F(SeekTest, SeekAheadUsesTheProportionalOffset) {
    useCapture(4);
    auto streamer = makeStreamer("/song.mp3");
    streamer->start();
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > 1.0; }));

    const double target = 15.0;
    const double bitRate = streamer->calculatedBitRate();
    const long dataOffset = Access::dataOffset(*streamer);
    streamer->seekToTime(target);
    ASSERT_TRUE(server->waitForRequests(2));
    const RangeValue range = parseRange(server->requests()[1].header("Range"));
    const long proportional = long(dataOffset + target * bitRate / 8.0);
    const size_t packet = size_t(target / kPacketSeconds);
    // Proportional when the parser estimates; its exact packet offset if it knew better.
    EXPECT_TRUE(std::abs(range.first - proportional) <= 1 ||
                range.first == long(packets[packet].first))
        << server->requests()[1].header("Range") << " proportional " << proportional;
    EXPECT_EQ(range.last, fileSize);

    ASSERT_TRUE(waitForIdle(*streamer, 60));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    const Pcm capture = captured(*lastSink());
    const Pcm reference = referenceDecode(file, capture.sampleRate, capture.channels);
    const auto resumed = resumedAudio(capture, reference);
    ASSERT_TRUE(resumed);
    const double resumedAt = double(long(resumed->firstFrame) + resumed->d) / 44100.0;
    std::printf("resumed at %.3f s for target %.3f s\n", resumedAt, target);
    // The estimate uses the average packet in whole bytes: off by up to 0.25 % of the target.
    EXPECT_NEAR(resumedAt, target, target * 0.0025 + 4 * kPacketSeconds);
}

// A seek at or past the end starts two buffers before the end of the file, and the run ends
// normally.
TEST_F(SeekTest, SeekPastTheEndStartsTwoBuffersBeforeIt) {
    useCapture(4);
    auto streamer = makeStreamer("/song.mp3");
    streamer->start();
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > 1.0; }));
    const long bufferSize = long(Access::packetBufferSize(*streamer));
    ASSERT_GT(bufferSize, 0);

    streamer->seekToTime(1000.0);
    ASSERT_TRUE(server->waitForRequests(2));
    const RangeValue range = parseRange(server->requests()[1].header("Range"));
    EXPECT_EQ(range.first, fileSize - 2 * bufferSize);
    EXPECT_EQ(range.last, fileSize);
    ASSERT_TRUE(waitForIdle(*streamer, 60));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    EXPECT_EQ(Access::stopReason(*streamer), AS_STOP_REASON_EOF);
}

// A seek that the streaming thread carries out before any packet arrived (here in a second run,
// which knows length and bit rate from the first) has no queue to stop: it just reopens the
// download at the new position.
TEST_F(SeekTest, SeekBeforeTheQueueExists) {
    auto requestCount = std::make_shared<std::atomic<int>>(0);
    const std::string body = readFile(file);
    server->serve("/slow.mp3", [requestCount, body](const testsupport::RecordedRequest&) {
        // The second run's first answer is late, so the seek comes before any byte.
        Response response = Response::bytes(body);
        if (++*requestCount == 2) response.stallBeforeHeaders(testsupport::Seconds(1.0));
        return response;
    });
    useCapture(20);
    auto streamer = makeStreamer("/slow.mp3");
    streamer->start();
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > 2.0; }));
    streamer->stop();

    streamer->start();
    streamer->seekToTime(15.0);
    ASSERT_TRUE(waitForIdle(*streamer, 60));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    // The stalled request may or may not have been recorded: the ranged one is the last.
    const auto requests = server->requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_FALSE(requests[0].hasHeader("Range"));
    const RangeValue range = parseRange(requests.back().header("Range"));
    EXPECT_GT(range.first, fileSize / 2);
    EXPECT_EQ(range.last, fileSize);
    EXPECT_EQ(Access::stopReason(*streamer), AS_STOP_REASON_EOF);
}

// A stream without a known length drops seeks; the request flag is still cleared.
TEST_F(SeekTest, SeekWithoutLengthIsDropped) {
    server->serve(
        "/live",
        Response::live(testsupport::repeating(readFile(fixturePath("cbr128-noxing.mp3"))), 64000));
    useCapture(1);
    auto streamer = makeStreamer("/live");
    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    streamer->seekToTime(3.0);
    // The seek was handled (and dropped) once the thread's loop has come round once more.
    EXPECT_FALSE(runUntil([&] { return server->requests().size() > 1; }, 0.5));
    EXPECT_TRUE(streamer->isPlaying());
    streamer->stop();
    EXPECT_EQ(server->requests().size(), 1u);
}

// A seek asked for the moment playing starts comes before the bit-rate estimate exists (the
// ring holds fewer packets than the estimate needs). It waits for the estimate instead of
// taking the all-ones placeholder, which would put every target at the end of the file.
TEST_F(SeekTest, SeekAsSoonAsPlayingLandsAtTheTarget) {
    useCapture(4);
    auto streamer = makeStreamer("/song.mp3");
    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    const double target = 15.0;
    streamer->seekToTime(target);
    ASSERT_TRUE(server->waitForRequests(2));
    const RangeValue range = parseRange(server->requests()[1].header("Range"));
    const long proportional =
        long(Access::dataOffset(*streamer) + target * streamer->calculatedBitRate() / 8.0);
    const size_t packet = size_t(target / kPacketSeconds);
    EXPECT_TRUE(std::abs(range.first - proportional) <= 1 ||
                range.first == long(packets[packet].first))
        << server->requests()[1].header("Range") << " proportional " << proportional;
    streamer->stop();
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
}

// With the ring full the streaming thread waits for the queue to hand a buffer back. A seek
// ends that wait: here a buffer would take seconds to play, yet the ranged request goes out at
// once, and the audio then resumes at the target.
TEST_F(SeekTest, SeekDoesNotWaitForAFullRingToDrain) {
    // A first run at normal pace leaves the bit-rate estimate behind for the second.
    useCapture(4);
    auto streamer = makeStreamer("/song.mp3");
    streamer->start();
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > 1.0; }));
    streamer->stop();

    // A hundred times slower than real time: a buffer of three packets plays for 7.8 s.
    useCapture(0.01);
    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    ASSERT_TRUE(
        runUntil([&] { return Access::buffersUsed(*streamer) == int32_t(kAQBufferCount); }));
    streamer->seekToTime(15.0);
    ASSERT_TRUE(server->waitForRequests(3, testsupport::Seconds(3.0)));
    EXPECT_FALSE(server->requests()[2].header("Range").empty());
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    EXPECT_NEAR(streamer->progress(), 15.0, 1.0);
    streamer->stop();
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
}

// A run stopped after a seek, before the ranged answer brought any byte, must not hand its
// "next bytes follow a gap" mark to the next run: that run starts a new parser at byte 0, and
// a container format is only recognised by its header there.
TEST_F(SeekTest, RestartAfterAnUnansweredSeekPlaysFromTheHeader) {
    const std::string wav = readFile(fixturePath("pcm16.wav"));
    server->serve("/song.wav", [wav](const testsupport::RecordedRequest& request) {
        Response response = Response::bytes(wav);
        if (request.hasHeader("Range")) response.stallBeforeHeaders(testsupport::Seconds(30));
        return response;
    });
    useCapture(4);
    auto streamer = makeStreamer("/song.wav");
    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    streamer->seekToTime(1.0);
    ASSERT_TRUE(server->waitForRequests(2));
    streamer->stop();
    ASSERT_EQ(streamer->errorCode(), AS_NO_ERROR);

    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    streamer->stop();
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    EXPECT_EQ(alerts->count(), 0u);
}

// A time before the start seeks to the start, not (through an unsigned comparison) to two
// buffers before the end.
TEST_F(SeekTest, NegativeSeekGoesToTheStart) {
    useCapture(4);
    auto streamer = makeStreamer("/song.mp3");
    streamer->start();
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > 2.0; }));
    streamer->seekToTime(-30.0);
    ASSERT_TRUE(server->waitForRequests(2));
    const RangeValue range = parseRange(server->requests()[1].header("Range"));
    EXPECT_LE(range.first, long(packets[1].first)) << server->requests()[1].header("Range");
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    EXPECT_LT(streamer->progress(), 1.0);
    streamer->stop();
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
}

// PCM has no packet descriptions, so no bit-rate estimate forms; the description gives the
// exact rate, and with it the duration and a seek that lands where it should.
TEST_F(SeekTest, PcmTakesItsBitRateFromTheDescription) {
    const std::string wav = readFile(fixturePath("pcm16.wav"));
    server->serve("/song.wav", Response::bytes(wav));
    useCapture(4);
    auto streamer = makeStreamer("/song.wav");
    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    EXPECT_EQ(streamer->calculatedBitRate(), 44100.0 * 4 * 8);
    const double seconds = double(wav.size() - size_t(Access::dataOffset(*streamer))) / (44100 * 4);
    EXPECT_NEAR(streamer->duration(), seconds, 0.01);

    streamer->seekToTime(seconds / 2);
    ASSERT_TRUE(server->waitForRequests(2));
    const RangeValue range = parseRange(server->requests()[1].header("Range"));
    EXPECT_NEAR(double(range.first), double(Access::dataOffset(*streamer)) + (wav.size() / 2.0),
                wav.size() * 0.01);
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > seconds / 2; }));
    streamer->stop();
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
}

// Playing again after a stop starts from byte 0, and so does the progress: the seek of the
// run before no longer adds to it.
TEST_F(SeekTest, ReplayAfterASeekCountsFromZero) {
    useCapture(4);
    auto streamer = makeStreamer("/song.mp3");
    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    streamer->seekToTime(15.0);
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > 15.0; }));
    streamer->stop();
    ASSERT_TRUE(waitForIdle(*streamer));

    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    EXPECT_LT(streamer->progress(), 5.0);
    streamer->stop();
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
}

// A resource of fewer packets than the bit-rate estimate needs never brings one: at its end
// the packets it had are the estimate, and the seek that waited for it is carried out. Here
// the seek comes while the download is held after a few packets, so the packets after it are
// dropped and only the ranged request can bring the rest.
TEST_F(SeekTest, SeekInAResourceTooShortForTheEstimate) {
    const std::string shortFile = readFile(fixturePath("cbr128-noxing.mp3")).substr(0, 16000);
    server->serve("/short.mp3", Response::bytes(shortFile).pauseAfter(5000, "held"));
    useCapture(0);
    auto streamer = makeStreamer("/short.mp3");
    StateHistory history(*mainQueue, streamer);
    streamer->start();
    ASSERT_TRUE(server->waitForPause("held"));
    ASSERT_TRUE(runUntil([&] { return streamer->calculatedBitRate() != 0; }));
    streamer->seekToTime(0.5);
    server->release("held");
    ASSERT_TRUE(server->waitForRequests(2));
    EXPECT_TRUE(server->requests()[1].hasHeader("Range"));
    ASSERT_TRUE(waitForIdle(*streamer));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    EXPECT_EQ(Access::stopReason(*streamer), AS_STOP_REASON_EOF);

    // 38 packets, about a second: half of it follows the target.
    const double seconds = streamer->duration();
    EXPECT_NEAR(seconds, 38 * kPacketSeconds, 3 * kPacketSeconds);
    auto sink = lastSink();
    ASSERT_TRUE(sink);
    // What was decoded ahead before the seek reached the sink and was discarded there.
    const double played = double(captured(*sink).frames() - sink->discardedCount()) / 44100.0;
    EXPECT_NEAR(played, seconds - 0.5, 4 * kPacketSeconds) << history.describe();
}

// A seek while paused loads the new position and stays paused: the ring fills, nothing is
// played, and the position reads the target. A second seek does the same; stop is at once;
// resuming plays from the last target, and the audio is that of the target.
TEST_F(SeekTest, SeekWhilePausedStaysPaused) {
    useCapture(4);
    auto streamer = makeStreamer("/song.mp3");
    streamer->start();
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > 2.0; }));
    streamer->pause();
    ASSERT_EQ(streamer->state(), AS_STATE_PAUSED);

    auto loadedAndPaused = [&] {
        return Access::buffersUsed(*streamer) >= kAQStartThreshold &&
               streamer->state() != AS_STATE_WAITING_FOR_DATA &&
               streamer->state() != AS_STATE_STOPPING;
    };
    for (const double target : {12.0, 6.0}) {
        SCOPED_TRACE(target);
        const size_t requests = server->requests().size();
        streamer->seekToTime(target);
        ASSERT_TRUE(server->waitForRequests(requests + 1));
        ASSERT_TRUE(runUntil(loadedAndPaused));
        mainQueue->drain();
        EXPECT_EQ(streamer->state(), AS_STATE_PAUSED);
        EXPECT_NEAR(streamer->progress(), target, kPacketSeconds);
    }

    auto sink = lastSink();
    const uint64_t playedBefore = sink->consumedCount() - sink->discardedCount();
    streamer->pause();  // resumes
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > 7.0; }));
    EXPECT_LT(streamer->progress(), 9.0);
    EXPECT_GT(sink->consumedCount() - sink->discardedCount(), playedBefore);
    streamer->stop();
    ASSERT_TRUE(waitForIdle(*streamer));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);

    const Pcm capture = captured(*sink);
    const Pcm reference = referenceDecode(file, capture.sampleRate, capture.channels);
    const auto d = findOffset(capture, reference, capture.frames() - 8192, 4096,
                              -long(capture.frames()), long(reference.frames()));
    ASSERT_TRUE(d);
    const double playedTo = double(long(capture.frames()) + *d) / 44100.0;
    EXPECT_GT(playedTo, 6.0);
    EXPECT_LT(playedTo, 9.5);
}

// Stop right after a paused seek has loaded the new position ends the run at once: that queue
// never ran, so no is-running notice is waited for.
TEST_F(SeekTest, StopAfterAPausedSeek) {
    useCapture(4);
    auto streamer = makeStreamer("/song.mp3");
    streamer->start();
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > 1.0; }));
    streamer->pause();
    streamer->seekToTime(10);
    ASSERT_TRUE(runUntil([&] {
        return Access::buffersUsed(*streamer) >= kAQStartThreshold &&
               streamer->state() == AS_STATE_PAUSED;
    }));
    streamer->stop();
    EXPECT_TRUE(streamer->isIdle());
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    EXPECT_LT(streamer->progress(), 2.0);
    streamer->stop();
}

// A run started at a position (a programme resumed after a failed download): it reads the
// header, asks for the bytes from the position with the bit rate it was given, plays nothing
// of the start, and progress reads the position while it loads. In an MP3 the proportional
// offset is taken; in an MP4 the parser's exact packet, from the header it has just read.
TEST_F(SeekTest, ARunStartedAtAPositionPlaysNothingBeforeIt) {
    struct Case {
        const char* fixture;
        double target;
    };
    for (const Case& c : {Case{kFixture, 15.0}, Case{"aac.m4a", 6.0}}) {
        SCOPED_TRACE(c.fixture);
        const std::string path = fixturePath(c.fixture);
        server->serve("/resume", Response::file(path));
        const size_t requestsBefore = server->requests().size();

        // The run that failed: its bit rate is what the resumed one is given.
        useCapture(8);
        auto first = makeStreamer("/resume");
        first->start();
        ASSERT_TRUE(runUntil([&] { return first->progress() > 1.0; }));
        const double bitRate = first->calculatedBitRate();
        first->stop();

        useCapture(4);
        auto resumed = makeStreamer("/resume");
        resumed->setStartPosition(c.target, bitRate);
        resumed->start();
        EXPECT_DOUBLE_EQ(resumed->progress(), c.target);
        ASSERT_TRUE(server->waitForRequests(requestsBefore + 3));
        const auto requests = server->requests();
        EXPECT_FALSE(requests[requestsBefore + 1].hasHeader("Range"));
        const RangeValue range = parseRange(requests[requestsBefore + 2].header("Range"));
        EXPECT_GT(range.first, 0);
        EXPECT_EQ(range.last, long(readFile(path).size()));

        ASSERT_TRUE(waitForState(*resumed, AS_STATE_PLAYING));
        EXPECT_GE(resumed->progress(), c.target - 0.1);
        ASSERT_TRUE(waitForIdle(*resumed, 60));
        EXPECT_EQ(resumed->errorCode(), AS_NO_ERROR);

        // Everything played matches the reference from about the target on, from its very
        // first block: nothing of the start came before it.
        const Pcm capture = captured(*lastSink());
        const Pcm reference = referenceDecode(path, capture.sampleRate, capture.channels);
        const long rate = long(capture.sampleRate);
        const auto d = findOffset(capture, reference, capture.frames() - 2 * rate, 4096, 0,
                                  long(reference.frames()));
        ASSERT_TRUE(d);
        const double startsAt = double(*d) / double(rate);
        std::printf("%s: resumed audio starts at %.3f s for %.1f s\n", c.fixture, startsAt,
                    c.target);
        EXPECT_NEAR(startsAt, c.target, c.target * 0.0025 + 4 * kPacketSeconds);
        // The same alignment holds a few packets in (the decoder settles after the jump).
        EXPECT_LE(maxDifference(capture, reference, 8192, size_t(rate), *d), 1e-4f);
    }

    // An answer that brings no packet (an error page) ends the run as any other would: the
    // seek does not wait for a format that will never come.
    server->serve("/gone", Response::notFound());
    auto lost = makeStreamer("/gone");
    lost->setStartPosition(5.0, 128000);
    lost->start();
    ASSERT_TRUE(waitForIdle(*lost));
    EXPECT_EQ(lost->errorCode(), AS_AUDIO_DATA_NOT_FOUND);
}
