// Every failure that can be provoked from outside: the exact error code, one log line, one
// alert, an idle streamer with nothing left open, and no second chance for that streamer.

#include <chrono>
#include <future>
#include <random>

#include "tests/streaming/StreamerTestSupport.h"

using namespace streamertest;
using Access = AudioStreamerTestAccess;
using testsupport::Response;

namespace {

class FailureTest : public StreamerTest {
protected:
    // Runs the streamer to its end and checks the error was reported exactly once.
    void expectFailure(AudioStreamer& streamer,
                       std::initializer_list<AudioStreamerErrorCode> codes) {
        streamer.start();
        ASSERT_TRUE(waitForIdle(streamer, 60));
        mainQueue->drain();
        EXPECT_NE(std::find(codes.begin(), codes.end(), streamer.errorCode()), codes.end())
            << "error code " << streamer.errorCode();
        const auto lines = logs->lines();
        ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
        EXPECT_EQ(lines[0].rfind(AudioStreamer::stringForErrorCode(streamer.errorCode()), 0), 0u)
            << lines[0];
        EXPECT_EQ(alerts->count(), 1u);
        EXPECT_TRUE(Access::handlesAreNone(streamer));
        std::printf("error %d: %s\n", int(streamer.errorCode()), lines[0].c_str());
    }
};

}  // namespace

// A refused connection is an error event of the read stream: no audio data found.
TEST_F(FailureTest, ConnectionRefused) {
    streamers.push_back(AudioStreamer::create(
        "http://127.0.0.1:" + std::to_string(testsupport::TestHttpServer::closedPort()) +
        "/a.mp3"));
    expectFailure(*streamers.back(), {AS_AUDIO_DATA_NOT_FOUND});
}

// A connection reset while playing stops the queue for the error and ends the run.
TEST_F(FailureTest, ResetWhilePlaying) {
    server->serve("/cut.mp3", Response::file(fixturePath("cbr128.mp3")).resetAfter(120000));
    useCapture(4);
    auto streamer = makeStreamer("/cut.mp3");
    StateHistory history(*mainQueue, streamer);
    expectFailure(*streamer, {AS_AUDIO_DATA_NOT_FOUND});
    EXPECT_EQ(Access::stopReason(*streamer), AS_STOP_REASON_ERROR);
    EXPECT_TRUE(history.contains(AS_STATE_PLAYING));
}

// The download ends before any audio: an empty body, and a body that is only a tag.
TEST_F(FailureTest, EndBeforeAnyAudio) {
    server->serve("/empty.mp3", Response::bytes(""));
    expectFailure(*makeStreamer("/empty.mp3"), {AS_AUDIO_DATA_NOT_FOUND});
}

TEST_F(FailureTest, OnlyATagBeforeTheEnd) {
    // An ID3v2 header claiming 100 bytes of tag, and those bytes: no frame anywhere.
    std::string tag = std::string("ID3\x03\x00\x00\x00\x00\x00\x64", 10) + std::string(100, '\0');
    server->serve("/tag.mp3", Response::bytes(tag));
    expectFailure(*makeStreamer("/tag.mp3"), {AS_AUDIO_DATA_NOT_FOUND});
}

// A 404 page is fed to the parser like any body; it is not audio.
TEST_F(FailureTest, HtmlNotFoundPage) {
    server->serve("/missing.mp3", Response::notFound());
    expectFailure(*makeStreamer("/missing.mp3"),
                  {AS_FILE_STREAM_PARSE_BYTES_FAILED, AS_AUDIO_DATA_NOT_FOUND});
}

// Random bytes are not audio either.
TEST_F(FailureTest, GarbageBytes) {
    std::mt19937 random(7);
    std::string garbage(64 * 1024, '\0');
    for (char& c : garbage) c = char(random());
    server->serve("/noise.mp3", Response::bytes(garbage));
    expectFailure(*makeStreamer("/noise.mp3"),
                  {AS_FILE_STREAM_PARSE_BYTES_FAILED, AS_AUDIO_DATA_NOT_FOUND});
}

// An MP4 whose index is sound but whose audio data is not: every packet is queued and none
// decodes. That run played nothing, so it fails rather than ending like a finished programme.
TEST_F(FailureTest, NothingDecodes) {
    std::string file = readFile(fixturePath("aac.m4a"));
    const size_t mdat = file.find("mdat");
    ASSERT_NE(mdat, std::string::npos);
    const auto box = static_cast<unsigned char*>(static_cast<void*>(&file[mdat - 4]));
    const size_t boxSize =
        size_t(box[0]) << 24 | size_t(box[1]) << 16 | size_t(box[2]) << 8 | box[3];
    std::fill(file.begin() + int64_t(mdat + 4), file.begin() + int64_t(mdat - 4 + boxSize), '\xff');
    server->serve("/undecodable.m4a", Response::bytes(file));
    useCapture(0);
    auto streamer = makeStreamer("/undecodable.m4a");
    StateHistory history(*mainQueue, streamer);
    expectFailure(*streamer, {AS_AUDIO_STREAMER_FAILED});
    EXPECT_EQ(Access::stopReason(*streamer), AS_STOP_REASON_ERROR);
    EXPECT_TRUE(history.contains(AS_STATE_PLAYING));
    EXPECT_EQ(AudioStreamer::stringForErrorCode(AS_AUDIO_STREAMER_FAILED),
              std::string("Audio playback failed"));
}

// After an error the streamer cannot play again: a new start leaves its loop at once and the
// first error stays, with nothing more logged or shown.
TEST_F(FailureTest, NoSecondRunAfterAnError) {
    server->serve("/empty.mp3", Response::bytes(""));
    server->serve("/song.mp3", Response::file(fixturePath("cbr128.mp3")));
    auto streamer = makeStreamer("/empty.mp3");
    expectFailure(*streamer, {AS_AUDIO_DATA_NOT_FOUND});

    streamer->start();
    ASSERT_TRUE(waitForIdle(*streamer));
    mainQueue->drain();
    EXPECT_EQ(streamer->errorCode(), AS_AUDIO_DATA_NOT_FOUND);
    EXPECT_EQ(logs->count(), 1u);
    EXPECT_EQ(alerts->count(), 1u);
    EXPECT_TRUE(captureFactory->sinks().empty());

    // A later error report changes nothing either.
    Access::failWithErrorCode(*streamer, AS_AUDIO_QUEUE_START_FAILED);
    mainQueue->drain();
    EXPECT_EQ(streamer->errorCode(), AS_AUDIO_DATA_NOT_FOUND);
    EXPECT_EQ(logs->count(), 1u);
    EXPECT_EQ(alerts->count(), 1u);
}

// A buffer handed back that is not one of the ring's is recorded by the buffer-done handler
// without the streamer lock (which an immediate stop may hold while it waits for that very
// callback); it wakes a streaming thread waiting for a free buffer, which reports
// AS_AUDIO_QUEUE_BUFFER_MISMATCH.
TEST_F(FailureTest, ForeignBufferIsReportedByTheStreamingThread) {
    const std::string frames = readFile(fixturePath("cbr128-noxing.mp3"));
    server->serve("/song.mp3", Response::bytes(frames));
    useCapture(0.05);  // plays slowly, so the ring fills and the thread waits for a buffer
    auto streamer = makeStreamer("/song.mp3");
    streamer->start();
    ASSERT_TRUE(runUntil([&] { return Access::buffersUsed(*streamer) == int(kAQBufferCount); }));

    audio::AudioQueueBuffer foreign{};
    {
        std::unique_lock held(Access::streamerLock(*streamer));
        auto handed = std::async(std::launch::async,
                                 [&] { Access::handleBufferComplete(*streamer, &foreign); });
        EXPECT_EQ(handed.wait_for(std::chrono::seconds(5)), std::future_status::ready)
            << "the buffer-done handler waited for the streamer lock";
        held.unlock();
        handed.wait();
    }
    ASSERT_TRUE(waitForIdle(*streamer, 20));
    mainQueue->drain();
    EXPECT_EQ(streamer->errorCode(), AS_AUDIO_QUEUE_BUFFER_MISMATCH);
    EXPECT_EQ(alerts->count(), 1u);
    EXPECT_TRUE(Access::handlesAreNone(*streamer));
}
