// The streamer object on its own: error texts, file-type hints, the state notification, the
// predicates and the single error path. No thread is started here.

#include <thread>

#include "tests/streaming/StreamerTestSupport.h"

using namespace streamertest;
using Access = AudioStreamerTestAccess;

namespace {

class StateTest : public StreamerTest {
protected:
    std::shared_ptr<AudioStreamer> idleStreamer() { return makeStreamer("/unused.mp3"); }
};

}  // namespace

// The message texts, including the shared pause/dispose text and the generic fallback.
TEST(AudioStreamerTexts, StringForErrorCode) {
    EXPECT_EQ(AudioStreamer::stringForErrorCode(AS_NO_ERROR), "No error.");
    EXPECT_EQ(AudioStreamer::stringForErrorCode(AS_NETWORK_CONNECTION_FAILED),
              "Network connection failed");
    EXPECT_EQ(AudioStreamer::stringForErrorCode(AS_AUDIO_DATA_NOT_FOUND), "No audio data found.");
    EXPECT_EQ(AudioStreamer::stringForErrorCode(AS_AUDIO_QUEUE_BUFFER_MISMATCH),
              "Audio queue buffers don't match.");
    EXPECT_EQ(AudioStreamer::stringForErrorCode(AS_AUDIO_BUFFER_TOO_SMALL),
              "Audio packets are larger than kAQDefaultBufSize.");
    EXPECT_EQ(AudioStreamer::stringForErrorCode(AS_AUDIO_QUEUE_PAUSE_FAILED),
              AudioStreamer::stringForErrorCode(AS_AUDIO_QUEUE_DISPOSE_FAILED));
    EXPECT_EQ(AudioStreamer::stringForErrorCode(AS_AUDIO_QUEUE_DISPOSE_FAILED),
              "Audio queue dispose failed.");
    EXPECT_EQ(AudioStreamer::stringForErrorCode(AS_AUDIO_STREAMER_FAILED), "Audio playback failed");
    EXPECT_EQ(AudioStreamer::stringForErrorCode(22), "Audio playback failed");
    EXPECT_EQ(AudioStreamer::stringForErrorCode(-1), "Audio playback failed");
    // Every code has a text ending as listed: only codes 1 and 19 go without a full stop.
    for (int code = 0; code <= 21; ++code) {
        const std::string text = AudioStreamer::stringForErrorCode(code);
        EXPECT_EQ(text.back() == '.', code != 1 && code != 19) << code << ": " << text;
    }
}

// Extensions map case-sensitively; anything unknown, or none, is MP3.
TEST(AudioStreamerTexts, HintForFileExtension) {
    EXPECT_EQ(AudioStreamer::hintForFileExtension("aac"), audio::fourCC("adts"));
    EXPECT_EQ(AudioStreamer::hintForFileExtension("AAC"), audio::fourCC("MPG3"));
    EXPECT_EQ(AudioStreamer::hintForFileExtension(""), audio::fourCC("MPG3"));
    EXPECT_EQ(AudioStreamer::hintForFileExtension("m4a"), audio::fourCC("m4af"));
    EXPECT_EQ(AudioStreamer::hintForFileExtension("mp4"), audio::fourCC("mp4f"));
    EXPECT_EQ(AudioStreamer::hintForFileExtension("caf"), audio::fourCC("caff"));
    EXPECT_EQ(AudioStreamer::hintForFileExtension("aifc"), audio::fourCC("AIFC"));
    EXPECT_EQ(AudioStreamer::hintForFileExtension("wav"), audio::fourCC("WAVE"));
}

// Content-Length: a leading number, any letter case of the name; absent, junk, negative or too
// large for the signed 32-bit field means no length, never a wrapped one.
TEST(AudioStreamerTexts, FileLengthFromHeaders) {
    EXPECT_EQ(Access::fileLengthFromHeaders({{"Content-Length", "5000"}}), 5000);
    EXPECT_EQ(Access::fileLengthFromHeaders({{"content-length", " 42abc"}}), 42);
    EXPECT_EQ(Access::fileLengthFromHeaders({{"Content-Type", "audio/mpeg"}}), 0);
    EXPECT_EQ(Access::fileLengthFromHeaders({{"Content-Length", "abc"}}), 0);
    EXPECT_EQ(Access::fileLengthFromHeaders({{"Content-Length", "-5"}}), 0);
    EXPECT_EQ(Access::fileLengthFromHeaders({{"Content-Length", "2147483647"}}), 2147483647);
    EXPECT_EQ(Access::fileLengthFromHeaders({{"Content-Length", "2147483648"}}), 0);
    EXPECT_EQ(Access::fileLengthFromHeaders({{"Content-Length", "5000000000"}}), 0);
}

// A change on the main thread is announced before setState returns, one off it only later on
// the main thread; setting the same state again announces nothing.
TEST_F(StateTest, NotificationsFollowChangesOnTheMainThread) {
    auto streamer = idleStreamer();
    int notifications = 0;
    AudioStreamerState seen = AS_STATE_IDLE;
    const auto token = platform::NotificationCenter::defaultCenter().addObserver(
        ASStatusChangedNotification, streamer.get(), [&](const platform::Notification& n) {
            EXPECT_TRUE(mainQueue->isMainThread());
            EXPECT_EQ(n.object, streamer.get());
            ++notifications;
            seen = streamer->state();
        });

    Access::setState(*streamer, AS_STATE_WAITING_FOR_DATA);
    EXPECT_EQ(notifications, 1);
    EXPECT_EQ(seen, AS_STATE_WAITING_FOR_DATA);
    Access::setState(*streamer, AS_STATE_WAITING_FOR_DATA);
    EXPECT_EQ(notifications, 1);

    std::thread other([&] { Access::setState(*streamer, AS_STATE_PLAYING); });
    other.join();
    EXPECT_EQ(notifications, 1);
    mainQueue->drain();
    EXPECT_EQ(notifications, 2);
    EXPECT_EQ(seen, AS_STATE_PLAYING);

    Access::setState(*streamer, AS_STATE_IDLE);
    platform::NotificationCenter::defaultCenter().removeObserver(token);
}

// The first error is logged once, alerted once and kept; a second one changes nothing.
TEST_F(StateTest, OnlyTheFirstErrorCounts) {
    auto streamer = idleStreamer();
    Access::setState(*streamer, AS_STATE_WAITING_FOR_DATA);
    Access::failWithErrorCode(*streamer, AS_AUDIO_DATA_NOT_FOUND);
    Access::setErr(*streamer, int32_t(audio::fourCC("wht?")));
    Access::failWithErrorCode(*streamer, AS_FILE_STREAM_PARSE_BYTES_FAILED);
    mainQueue->drain();

    EXPECT_EQ(streamer->errorCode(), AS_AUDIO_DATA_NOT_FOUND);
    EXPECT_EQ(logs->lines(), std::vector<std::string>{"No audio data found."});
    ASSERT_EQ(alerts->count(), 1u);
    EXPECT_EQ(alerts->alerts()[0].title, "File Error");
    EXPECT_EQ(alerts->alerts()[0].message, "Unable to configure network read stream.");
    EXPECT_EQ(alerts->alerts()[0].buttonTitle, "OK");
    // While waiting for data the state stays; the loop sees the error through the predicates.
    EXPECT_EQ(streamer->state(), AS_STATE_WAITING_FOR_DATA);
    EXPECT_TRUE(Access::isFinishing(*streamer));
    EXPECT_TRUE(streamer->isWaiting());
    EXPECT_TRUE(Access::runLoopShouldExit(*streamer));
    Access::setState(*streamer, AS_STATE_IDLE);
}

// A nonzero status is logged as its four characters, most significant byte first, then in
// decimal.
TEST_F(StateTest, ErrorLogLineCarriesTheStatus) {
    auto streamer = idleStreamer();
    Access::setErr(*streamer, int32_t(audio::fourCC("typ?")));
    Access::failWithErrorCode(*streamer, AS_FILE_STREAM_OPEN_FAILED);
    EXPECT_EQ(logs->lines(),
              std::vector<std::string>{"Open audio file stream failed. err: typ? " +
                                       std::to_string(int32_t(audio::fourCC("typ?")))});
}

// An error recorded while idle is not "finishing", but a started run would leave at once.
TEST_F(StateTest, ErrorWhileIdle) {
    auto streamer = idleStreamer();
    Access::failWithErrorCode(*streamer, AS_AUDIO_STREAMER_FAILED);
    EXPECT_EQ(streamer->state(), AS_STATE_IDLE);
    EXPECT_FALSE(Access::isFinishing(*streamer));
    EXPECT_TRUE(Access::runLoopShouldExit(*streamer));
    EXPECT_FALSE(streamer->isWaiting());
}

// The predicates by state and stop reason: a seek's temporary stop is not finishing.
TEST_F(StateTest, PredicatesByStateAndStopReason) {
    auto streamer = idleStreamer();
    Access::setState(*streamer, AS_STATE_STOPPED);
    Access::setStopReason(*streamer, AS_STOP_REASON_TEMPORARY);
    EXPECT_FALSE(Access::isFinishing(*streamer));
    EXPECT_FALSE(Access::runLoopShouldExit(*streamer));
    for (auto reason : {AS_STOP_REASON_EOF, AS_STOP_REASON_USER, AS_STOP_REASON_ERROR}) {
        Access::setStopReason(*streamer, reason);
        EXPECT_TRUE(Access::isFinishing(*streamer));
        EXPECT_TRUE(Access::runLoopShouldExit(*streamer));
        EXPECT_TRUE(streamer->isWaiting());
    }
    // Stopping alone does not end the loop: the queue has yet to report that it stopped.
    Access::setState(*streamer, AS_STATE_STOPPING);
    EXPECT_TRUE(Access::isFinishing(*streamer));
    EXPECT_FALSE(Access::runLoopShouldExit(*streamer));

    Access::setStopReason(*streamer, AS_STOP_REASON_TEMPORARY);
    Access::setState(*streamer, AS_STATE_FLUSHING_EOF);
    EXPECT_FALSE(streamer->isWaiting());
    Access::setState(*streamer, AS_STATE_BUFFERING);
    EXPECT_TRUE(streamer->isWaiting());
    EXPECT_FALSE(streamer->isPlaying());
    Access::setState(*streamer, AS_STATE_PAUSED);
    EXPECT_TRUE(streamer->isPaused());
    EXPECT_FALSE(streamer->isWaiting());
    Access::setState(*streamer, AS_STATE_IDLE);
}

// Pause, stop and a queue notification in states where they have nothing to do.
TEST_F(StateTest, ControlsOnAnIdleStreamer) {
    auto streamer = idleStreamer();
    int notifications = 0;
    const auto token = platform::NotificationCenter::defaultCenter().addObserver(
        ASStatusChangedNotification, streamer.get(),
        [&](const platform::Notification&) { ++notifications; });
    streamer->pause();
    streamer->stop();
    EXPECT_EQ(notifications, 0);
    EXPECT_EQ(streamer->progress(), 0.0);
    EXPECT_EQ(streamer->duration(), 0.0);
    EXPECT_EQ(streamer->calculatedBitRate(), 0.0);
    EXPECT_FALSE(streamer->httpHeaders());

    Access::handlePropertyChangeForQueue(*streamer, audio::kAudioQueueProperty_IsRunning);
    EXPECT_TRUE(logs->contains("AudioQueue changed state in unexpected way."));
    EXPECT_TRUE(streamer->isIdle());
    platform::NotificationCenter::defaultCenter().removeObserver(token);
}
