// The output queue's contract as the streaming engine relies on it: callbacks and on which
// thread, timing by consumption, stop, flush, dispose and the checks on what is enqueued.

#include <gtest/gtest.h>

#include <cmath>

#include "AudioMaterial.h"
#include "QueueTestClient.h"
#include "platform/Log.h"
#include "platform/audio/AudioSession.h"
#include "platform/audio/sink/SilentAudioSink.h"

namespace queuetest {
namespace {

using namespace audio;

constexpr double kRate = 44100;
const AudioStreamBasicDescription kPcm16 = pcmFormat(kRate, 2, 2, kAudioFormatFlagIsSignedInteger);

std::vector<float> floatsOf16(const std::vector<uint8_t>& bytes, float scale = 1.0f) {
    std::vector<float> out;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto s = int16_t(uint16_t(bytes[i]) | uint16_t(bytes[i + 1]) << 8);
        out.push_back(float(s) / 32768.0f * scale);
    }
    return out;
}

class QueueContract : public ::testing::Test {
protected:
    void useCapture(CaptureOptions options) {
        captures_.emplace(options);
        scoped_.emplace(captures_->factory());
    }
    std::shared_ptr<CaptureAudioSink> sink() { return captures_->last(); }

    // `count` buffers of `frames` frames each, frame numbers continuing from `first`.
    std::vector<uint8_t> fill(QueueTestClient& client, int count, size_t frames, size_t first = 0) {
        std::vector<uint8_t> all;
        for (int i = 0; i < count; ++i) {
            auto bytes = pcm16Stereo(frames, first + size_t(i) * frames);
            EXPECT_GE(client.enqueue(bytes), 0);
            all.insert(all.end(), bytes.begin(), bytes.end());
        }
        return all;
    }

    std::optional<CaptureAudioSinkFactory> captures_;
    std::optional<ScopedAudioSinkFactory> scoped_;
};

// Start fires is-running once, on the queue's thread; a second start and pause/resume fire
// nothing; stop fires it once more, reporting not running.
TEST_F(QueueContract, IsRunningFiresOnceForStartAndOnceForStopOnTheQueueThread) {
    useCapture({.speed = 1});
    QueueTestClient client(kPcm16, 4096);
    fill(client, 16, 1024);
    ASSERT_EQ(AudioQueueStart(client.queue(), nullptr), noErr);
    ASSERT_EQ(AudioQueueStart(client.queue(), nullptr), noErr);
    ASSERT_TRUE(client.waitForIsRunningCalls(1));
    ASSERT_EQ(AudioQueuePause(client.queue()), noErr);
    ASSERT_EQ(AudioQueueStart(client.queue(), nullptr), noErr);
    EXPECT_FALSE(client.waitForIsRunningCalls(2, 100ms));

    ASSERT_EQ(client.stopLocked(true), noErr);
    ASSERT_TRUE(client.waitForIsRunningCalls(2));
    EXPECT_FALSE(client.waitForIsRunningCalls(3, 100ms));
    EXPECT_EQ(client.runningValuesSeen(), (std::vector<uint32_t>{1, 0}));
    for (auto thread : client.isRunningThreads()) EXPECT_NE(thread, std::this_thread::get_id());
}

// A buffer comes back only once the sink has consumed all of its audio, in queue order, on
// the queue's thread, and the audio arrives unchanged.
TEST_F(QueueContract, BuffersComeBackOnceTheirAudioHasBeenConsumed) {
    useCapture({.speed = 8});
    QueueTestClient client(kPcm16, 4096);
    auto capture = sink();
    client.returnProbe = [capture] { return capture->consumedCount(); };
    const auto all = fill(client, 16, 1024);
    AudioQueueStart(client.queue(), nullptr);
    ASSERT_TRUE(client.waitForBuffersUsed(0));

    const auto returns = client.returns();
    ASSERT_EQ(returns.size(), 16u);
    for (size_t k = 0; k < returns.size(); ++k) {
        EXPECT_EQ(returns[k].index, int(k));
        EXPECT_GE(returns[k].probe, (k + 1) * 1024) << "buffer " << k << " came back unplayed";
        const auto consumed = capture->timeWhenConsumed((k + 1) * 1024);
        ASSERT_TRUE(consumed.has_value());
        EXPECT_GE(returns[k].when, *consumed) << "buffer " << k << " came back early";
        EXPECT_NE(returns[k].thread, std::this_thread::get_id());
    }
    EXPECT_EQ(capture->samples(), floatsOf16(all));
}

// Current time counts played frames in real time, stays still while paused and goes on from
// there on resume; a queue that is not running answers 'stop'.
TEST_F(QueueContract, CurrentTimeFollowsRealTimePlaybackAndFreezesWhilePaused) {
    ScopedAudioSinkFactory silent([] { return std::make_shared<SilentAudioSink>(); });
    QueueTestClient client(kPcm16, 4410 * 4);
    AudioTimeStamp stamp;
    EXPECT_EQ(AudioQueueGetCurrentTime(client.queue(), nullptr, &stamp, nullptr),
              kAudioQueueErr_NotRunning);
    fill(client, 16, 4410);

    const auto started = std::chrono::steady_clock::now();
    AudioQueueStart(client.queue(), nullptr);
    ASSERT_TRUE(waitUntil([&] { return client.sampleTime() >= 4410; }));
    const double played = client.sampleTime();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_GE(elapsed, played / kRate) << "consumed faster than real time";

    AudioQueuePause(client.queue());
    const double paused = client.sampleTime();
    EXPECT_GE(paused, played);
    EXPECT_FALSE(waitUntil([&] { return client.sampleTime() != paused; }, 100ms));

    AudioQueueStart(client.queue(), nullptr);
    EXPECT_GE(client.sampleTime(), paused);
    ASSERT_TRUE(waitUntil([&] { return client.sampleTime() > paused + 441; }));
    EXPECT_EQ(client.isRunningCalls(), 1);
}

// Current time is in the stream's frames even when the sink runs at another rate.
TEST_F(QueueContract, CurrentTimeCountsStreamFramesWhenTheSinkResamples) {
    useCapture({.sampleRate = 48000});
    QueueTestClient client(kPcm16, 4096);
    fill(client, 8, 1024);
    AudioQueueStart(client.queue(), nullptr);
    ASSERT_TRUE(client.waitForBuffersUsed(0));
    ASSERT_TRUE(waitUntil([&] { return client.sampleTime() > 8 * 1024 - 64; }));
    EXPECT_LE(client.sampleTime(), 8 * 1024);
}

// An immediate stop hands every buffer back before it returns, the unplayed ones on the
// stopping thread; the queue then starts afresh with new audio.
TEST_F(QueueContract, ImmediateStopHandsBackEveryBufferBeforeItReturns) {
    useCapture({.speed = 1});
    QueueTestClient client(kPcm16, 4096);
    fill(client, 16, 1024);
    AudioQueueStart(client.queue(), nullptr);
    ASSERT_TRUE(client.waitForIsRunningCalls(1));
    // Stop while the sink still holds audio it has not played, so there is something to drop.
    ASSERT_TRUE(waitUntil([&] { return sink()->frameCount() > sink()->consumedCount() + 1024; }));

    ASSERT_EQ(client.stopLocked(true), noErr);
    EXPECT_EQ(client.buffersUsed(), 0);
    const auto returns = client.returns();
    EXPECT_EQ(returns.size(), 16u);
    EXPECT_EQ(returns.back().thread, std::this_thread::get_id());
    EXPECT_EQ(client.doubleReturns(), 0);
    EXPECT_EQ(client.sampleTime(), -1);
    EXPECT_GT(sink()->discardedCount(), 0u);

    // Afresh: the audio after the restart is exactly the new buffers'.
    const auto before = sink()->frameCount();
    const auto fresh = fill(client, 2, 1024, 500000);
    AudioQueueStart(client.queue(), nullptr);
    ASSERT_TRUE(client.waitForBuffersUsed(0));
    const auto samples = sink()->samples();
    const std::vector<float> after(samples.begin() + long(before * 2), samples.end());
    EXPECT_EQ(after, floatsOf16(fresh));
    EXPECT_TRUE(client.waitForIsRunningCalls(3));
}

// Stop after queued plays every frame, then reports not running, even from pause; on a queue
// that never started it hands the buffers back at once without a notification.
TEST_F(QueueContract, StopAfterQueuedPlaysEverythingThenReportsNotRunning) {
    useCapture({.speed = 4});
    {
        QueueTestClient client(kPcm16, 4096);
        const auto all = fill(client, 10, 1024);
        AudioQueueStart(client.queue(), nullptr);
        AudioQueuePause(client.queue());
        ASSERT_EQ(client.stopLocked(false), noErr);
        ASSERT_TRUE(client.waitForIsRunningCalls(2));
        EXPECT_EQ(client.buffersUsed(), 0);
        EXPECT_EQ(sink()->samples(), floatsOf16(all));
        EXPECT_EQ(sink()->discardedCount(), 0u);
        EXPECT_EQ(client.sampleTime(), -1);
    }
    {
        QueueTestClient idle(kPcm16, 4096);
        fill(idle, 3, 1024);
        ASSERT_EQ(idle.stopLocked(false), noErr);
        EXPECT_EQ(idle.buffersUsed(), 0);
        EXPECT_FALSE(idle.waitForIsRunningCalls(1, 100ms));
    }
}

// Flush lets out what the rate converter still holds, so converted audio is not cut short.
TEST_F(QueueContract, FlushLetsOutTheConverterTail) {
    auto playedFrames = [&](bool flush) {
        useCapture({.sampleRate = 48000});
        QueueTestClient client(kPcm16, 4410 * 4);
        fill(client, 8, 4410);
        AudioQueueStart(client.queue(), nullptr);
        if (flush) AudioQueueFlush(client.queue());
        EXPECT_TRUE(client.waitForBuffersUsed(0));
        waitUntil([&] { return sink()->frameCount() >= 8 * 4800; }, flush ? 10s : 100ms);
        return sink()->frameCount();
    };
    EXPECT_LT(playedFrames(false), 8u * 4800);
    EXPECT_NEAR(double(playedFrames(true)), 8 * 4800, 1);
}

// Dispose hands back queued buffers before it returns, and no is-running callback follows it.
TEST_F(QueueContract, DisposeHandsBackQueuedBuffersAndNothingStartsAfterIt) {
    useCapture({.speed = 1});
    QueueTestClient idle(kPcm16, 4096);
    fill(idle, 16, 1024);
    ASSERT_EQ(idle.disposeLocked(), noErr);
    EXPECT_EQ(idle.buffersUsed(), 0);
    EXPECT_EQ(idle.returns().size(), 16u);
    AudioQueueBufferRef buffer;
    EXPECT_EQ(AudioQueueAllocateBuffer(idle.queue(), 16, &buffer), kAudioQueueErr_DisposalPending);
    EXPECT_EQ(AudioQueueStart(idle.queue(), nullptr), kAudioQueueErr_DisposalPending);
    idle.disposeAndJoin();
    EXPECT_EQ(idle.isRunningCalls(), 0);

    QueueTestClient playing(kPcm16, 4096);
    fill(playing, 16, 1024);
    AudioQueueStart(playing.queue(), nullptr);
    ASSERT_TRUE(playing.waitForIsRunningCalls(1));
    playing.disposeAndJoin();
    EXPECT_EQ(playing.buffersUsed(), 0);
    EXPECT_EQ(playing.isRunningCalls(), 1);
    EXPECT_EQ(playing.doubleReturns(), 0);
}

// A stop called from inside a buffer-done callback on the queue's thread (the engine's error
// path does this) neither deadlocks nor returns a buffer twice.
TEST_F(QueueContract, StopFromInsideABufferDoneCallbackHandsBackTheRestOnce) {
    useCapture({.speed = 2});
    QueueTestClient client(kPcm16, 4096);
    std::atomic<bool> stopped{false};
    const auto queue = client.queue();
    client.returnProbe = [&, queue] {
        if (!stopped.exchange(true)) AudioQueueStop(queue, true);
        return uint64_t(0);
    };
    fill(client, 16, 1024);
    AudioQueueStart(client.queue(), nullptr);
    ASSERT_TRUE(client.waitForBuffersUsed(0));
    EXPECT_EQ(client.returns().size(), 16u);
    EXPECT_EQ(client.doubleReturns(), 0);
}

// Enqueue refuses a buffer of another queue, one already queued, descriptions that reach past
// the data, and a byte count over the capacity; an empty buffer is taken and comes back.
TEST_F(QueueContract, EnqueueChecksWhatItIsGiven) {
    useCapture({});
    QueueTestClient client(kPcm16, 64, 2);
    QueueTestClient other(kPcm16, 64, 1);
    AudioQueueBufferRef foreign;
    ASSERT_EQ(AudioQueueAllocateBuffer(other.queue(), 64, &foreign), noErr);
    foreign->mAudioDataByteSize = 4;
    EXPECT_EQ(AudioQueueEnqueueBuffer(client.queue(), foreign, 0, nullptr),
              kAudioQueueErr_InvalidBuffer);

    AudioQueueBufferRef buffer;
    ASSERT_EQ(AudioQueueAllocateBuffer(client.queue(), 64, &buffer), noErr);
    buffer->mAudioDataByteSize = 65;
    EXPECT_EQ(AudioQueueEnqueueBuffer(client.queue(), buffer, 0, nullptr),
              kAudioQueueErr_InvalidParameter);
    buffer->mAudioDataByteSize = 16;
    const AudioStreamPacketDescription pastEnd{12, 0, 8};
    EXPECT_EQ(AudioQueueEnqueueBuffer(client.queue(), buffer, 1, &pastEnd),
              kAudioQueueErr_InvalidParameter);
    const AudioStreamPacketDescription negative{-4, 0, 8};
    EXPECT_EQ(AudioQueueEnqueueBuffer(client.queue(), buffer, 1, &negative),
              kAudioQueueErr_InvalidParameter);
    ASSERT_EQ(AudioQueueEnqueueBuffer(client.queue(), buffer, 0, nullptr), noErr);
    EXPECT_EQ(AudioQueueEnqueueBuffer(client.queue(), buffer, 0, nullptr),
              kAudioQueueErr_BufferInQueue);

    EXPECT_GE(client.enqueue({}), 0);
    AudioQueueStart(client.queue(), nullptr);
    EXPECT_TRUE(client.waitForBuffersUsed(0));
    client.stopLocked(true);

    uint32_t cookie = 0;
    EXPECT_EQ(AudioQueueSetProperty(client.queue(), fourCC("xxxx"), &cookie, 4),
              kAudioQueueErr_InvalidProperty);
}

// Formats no decoder plays are refused when the queue is made, as are run loops.
TEST_F(QueueContract, NewOutputRefusesWhatItCannotPlay) {
    auto status = [](const AudioStreamBasicDescription& format, void* runLoop = nullptr) {
        AudioQueueRef queue = nullptr;
        const OSStatus s = AudioQueueNewOutput(
            &format, [](void*, AudioQueueRef, AudioQueueBufferRef) {}, nullptr, runLoop, nullptr, 0,
            &queue);
        if (queue) {
            AudioQueueDispose(queue, true);
            AudioQueueJoinDisposed(queue);
        }
        return s;
    };
    EXPECT_EQ(status(compressedFormat(fourCC("ogg "), 44100, 2, 0)), kAudioQueueErr_CodecNotFound);
    EXPECT_EQ(status(pcmFormat(44100, 2, 5, kAudioFormatFlagIsSignedInteger)),
              kAudioQueueErr_CodecNotFound);
    EXPECT_EQ(status(pcmFormat(0, 2, 2, kAudioFormatFlagIsSignedInteger)),
              kAudioQueueErr_CodecNotFound);
    int loop = 0;
    EXPECT_EQ(status(kPcm16, &loop), kAudioQueueErr_InvalidParameter);
    EXPECT_EQ(status(kPcm16), noErr);
}

// The process-wide volume scales what reaches the sink, and is kept within 0 to 1.
TEST_F(QueueContract, OutputVolumeScalesTheAudio) {
    useCapture({});
    AudioQueueSetOutputVolume(0.25f);
    {
        QueueTestClient client(kPcm16, 4096);
        const auto all = fill(client, 4, 1024);
        AudioQueueStart(client.queue(), nullptr);
        ASSERT_TRUE(client.waitForBuffersUsed(0));
        EXPECT_EQ(sink()->samples(), floatsOf16(all, 0.25f));
    }
    AudioQueueSetOutputVolume(3.0f);
    EXPECT_EQ(AudioQueueGetOutputVolume(), 1.0f);
    AudioQueueSetOutputVolume(NAN);
    EXPECT_EQ(AudioQueueGetOutputVolume(), 0.0f);
    AudioQueueSetOutputVolume(1.0f);
}

// The session's calls succeed, and the interruption listener is kept and can be called.
TEST(AudioSession, KeepsTheInterruptionListener) {
    static std::vector<std::pair<void*, uint32_t>> calls;
    int client = 0;
    EXPECT_EQ(AudioSessionInitialize(
                  nullptr, nullptr,
                  [](void* data, uint32_t state) {
                      calls.push_back({data, state});
                  },
                  &client),
              noErr);
    const uint32_t category = kAudioSessionCategory_MediaPlayback;
    EXPECT_EQ(AudioSessionSetProperty(kAudioSessionProperty_AudioCategory, 4, &category), noErr);
    EXPECT_EQ(AudioSessionSetActive(true), noErr);
    AudioSessionSimulateInterruption(kAudioSessionBeginInterruption);
    AudioSessionSimulateInterruption(kAudioSessionEndInterruption);
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0], std::make_pair(static_cast<void*>(&client), 1u));
    EXPECT_EQ(calls[1], std::make_pair(static_cast<void*>(&client), 0u));
}

}  // namespace
}  // namespace queuetest
