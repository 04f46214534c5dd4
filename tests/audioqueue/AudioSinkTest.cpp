// The sinks: paced consumption keeps real time without bursts, the SDL device sink plays
// through a real SDL driver, and a queue whose device (or SDL itself) cannot open plays
// silently in real time.

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>

#include "AudioMaterial.h"
#include "QueueTestClient.h"
#include "platform/Log.h"
#include "platform/audio/sink/FallbackAudioSink.h"
#include "platform/audio/sink/PacedConsumption.h"
#include "platform/audio/sink/SdlAudioSink.h"

namespace queuetest {
namespace {

using namespace audio;

// Consumption runs only while playing, never passes what was written, and after running dry
// does not make up for the gap in a burst.
TEST(PacedConsumption, KeepsPaceWithoutBursts) {
    PacedConsumption pace(1000);
    pace.wrote(50);
    EXPECT_FALSE(pace.timeUntilConsumed(10).has_value()) << "halted";
    EXPECT_FALSE(waitUntil([&] { return pace.consumed() > 0; }, 30ms));

    const auto started = std::chrono::steady_clock::now();
    pace.setPlaying(true);
    ASSERT_TRUE(waitUntil([&] { return pace.consumed() == 50; }));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 50ms);
    EXPECT_FALSE(pace.timeUntilConsumed(51).has_value()) << "never written";

    // Dry for a while: the next frames still take their own time.
    EXPECT_FALSE(waitUntil([&] { return pace.consumed() != 50; }, 40ms));
    pace.wrote(100);
    EXPECT_LT(pace.consumed(), 60u);
    const auto due = pace.timeUntilConsumed(150);
    ASSERT_TRUE(due.has_value());
    EXPECT_GT(*due, 80ms);

    pace.discard();
    EXPECT_EQ(pace.consumed(), 150u);
}

// The history tells when each frame was consumed: at the pace from where playing began, not
// at all for frames dropped by discard.
TEST(PacedConsumption, RemembersWhenFramesWereConsumed) {
    PacedConsumption pace(1000, true);
    pace.wrote(20);
    const auto before = PacedConsumption::Clock::now();
    pace.setPlaying(true);
    ASSERT_TRUE(waitUntil([&] { return pace.consumed() == 20; }));
    const auto first = pace.timeConsumed(1);
    const auto last = pace.timeConsumed(20);
    ASSERT_TRUE(first && last);
    EXPECT_GE(*first, before);
    EXPECT_NEAR(std::chrono::duration<double>(*last - *first).count(), 0.019, 1e-6);
    EXPECT_FALSE(pace.timeConsumed(21).has_value());

    pace.setPlaying(false);
    pace.wrote(10);
    pace.discard();
    EXPECT_EQ(pace.consumed(), 30u);
    EXPECT_FALSE(pace.timeConsumed(25).has_value()) << "discarded, never played";
}

// A gap heard while playing is an underrun, counted by the sink and for the whole process; the
// start, a pause, the wait after a discard (a seek) and the end of the audio are not.
TEST(PacedConsumption, CountsTheGapsAListenerHears) {
    const uint64_t processBefore = AudioSinkUnderrunCount();
    PacedConsumption pace(1000);
    pace.setPlaying(true);
    pace.wrote(20);  // the start: nothing was playing before
    ASSERT_TRUE(waitUntil([&] { return pace.consumed() == 20; }));
    EXPECT_FALSE(waitUntil([&] { return false; }, 20ms));
    pace.wrote(20);  // came 20 ms late
    EXPECT_EQ(pace.underruns(), 1u);
    ASSERT_TRUE(waitUntil([&] { return pace.consumed() == 40; }));

    pace.discard();
    EXPECT_FALSE(waitUntil([&] { return false; }, 20ms));
    pace.wrote(20);  // the refill after a seek
    EXPECT_EQ(pace.underruns(), 1u);
    ASSERT_TRUE(waitUntil([&] { return pace.consumed() == 60; }));

    pace.setPlaying(false);
    EXPECT_FALSE(waitUntil([&] { return false; }, 20ms));
    pace.wrote(20);  // paused: nobody was listening for it
    pace.setPlaying(true);
    EXPECT_EQ(pace.underruns(), 1u);
    EXPECT_EQ(AudioSinkUnderrunCount() - processBefore, 1u);
}

// With instant pacing, consumption follows writing only while playing.
TEST(PacedConsumption, InstantPaceConsumesOnlyWhilePlaying) {
    PacedConsumption pace(0);
    pace.wrote(10);
    EXPECT_EQ(pace.consumed(), 0u);
    pace.setPlaying(true);
    EXPECT_EQ(pace.consumed(), 10u);
    pace.setPlaying(false);
    pace.wrote(5);
    EXPECT_EQ(pace.consumed(), 10u);
}

class EnvironmentVariable {
public:
    EnvironmentVariable(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        setenv(name, value, 1);
    }
    ~EnvironmentVariable() {
        if (old_)
            setenv(name_, old_->c_str(), 1);
        else
            unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// The device sink, on SDL's dummy driver (real SDL code and timing, no sound card needed).
TEST(SdlAudioSink, PlaysAndDiscardsThroughSdl) {
    EnvironmentVariable driver("SDL_AUDIODRIVER", "dummy");
    SdlAudioSink sink;
    const auto format = sink.open({44100, 2});
    if (!format) GTEST_SKIP() << "SDL has no dummy driver: " << sink.lastError();
    ASSERT_GT(format->sampleRate, 0);
    const std::vector<float> silence(size_t(format->channels) * 4096, 0.0f);
    const size_t taken = sink.write(silence.data(), 4096);
    EXPECT_EQ(taken, std::min<size_t>(4096, sink.capacityFrames()));
    EXPECT_EQ(sink.framesConsumed(), 0u) << "a new device is paused";
    EXPECT_FALSE(sink.timeUntilConsumed(taken).has_value());

    sink.setPlaying(true);
    ASSERT_TRUE(waitUntil([&] { return sink.framesConsumed() > 0; }));
    sink.setPlaying(false);
    sink.discard();
    EXPECT_EQ(sink.framesConsumed(), sink.framesWritten());
}

bool sdlIsMapped() {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.find("libSDL2") != std::string::npos) return true;
    }
    return false;
}

// Nothing links SDL: a process maps it only once a device sink opens. (Like the log-line
// counts below, this needs a process of its own, as ctest runs each test.)
TEST(SdlAudioSink, LoadsSdlOnlyWhenADeviceOpens) {
    ASSERT_FALSE(sdlIsMapped());
    EnvironmentVariable driver("SDL_AUDIODRIVER", "dummy");
    SdlAudioSink sink;
    EXPECT_FALSE(sdlIsMapped()) << "a sink loads SDL when it opens, not before";
    if (!sink.open({44100, 2})) GTEST_SKIP() << sink.lastError();
    EXPECT_TRUE(sdlIsMapped());
}

// A queue on the device sink whose device cannot open: it must still play, on a silent sink in
// real time, and say so in exactly one log line containing `logText`.
void expectSilentFallback(const std::string& logText) {
    platform::LogCapture log;
    QueueTestClient client(pcmFormat(44100, 2, 2, kAudioFormatFlagIsSignedInteger), 4096);
    for (int i = 0; i < 4; ++i) client.enqueue(pcm16Stereo(1024));
    AudioQueueStart(client.queue(), nullptr);
    ASSERT_TRUE(waitUntil([&] { return client.sampleTime() > 441; }));
    EXPECT_TRUE(client.waitForBuffersUsed(0));
    EXPECT_EQ(log.count(), 1u);
    EXPECT_TRUE(log.contains(logText));
}

// When no device opens, the queue plays on a silent sink in real time, with one log line.
TEST(SdlAudioSink, QueueFallsBackToSilenceWhenNoDeviceOpens) {
    EnvironmentVariable driver("SDL_AUDIODRIVER", "no-such-driver");
    ScopedAudioSinkFactory device(makeDeviceAudioSink);
    expectSilentFallback("playing silently");
}

// Without the SDL library the sink reports which library it could not load, and a queue on
// it plays silently in real time with one log line naming it.
TEST(SdlAudioSink, QueueFallsBackToSilenceWithoutTheLibrary) {
    const std::string missing = "libno-such-sdl.so.0";
    SdlAudioSink alone(missing);
    EXPECT_FALSE(alone.open({44100, 2}).has_value());
    EXPECT_NE(alone.lastError().find(missing), std::string::npos) << alone.lastError();
    EXPECT_EQ(alone.framesConsumed(), 0u);

    ScopedAudioSinkFactory device([&] {
        return std::make_shared<FallbackAudioSink>(std::make_shared<SdlAudioSink>(missing));
    });
    expectSilentFallback(missing);
}

// A program that installs no sink gets a queue that still hands every buffer back, drops the
// audio and says so in one log line: the choice of device is the installer's, never the queue's.
TEST(AudioSinkFactory, QueueWithoutASinkDropsItsAudio) {
    ScopedAudioSinkFactory none(nullptr);
    platform::LogCapture log;
    QueueTestClient client(pcmFormat(44100, 2, 2, kAudioFormatFlagIsSignedInteger), 4096);
    for (int i = 0; i < 4; ++i) client.enqueue(pcm16Stereo(1024));
    AudioQueueStart(client.queue(), nullptr);
    EXPECT_TRUE(client.waitForBuffersUsed(0));
    EXPECT_LE(log.count(), 1u);
    EXPECT_EQ(AudioSinkMake(), nullptr);
}

}  // namespace
}  // namespace queuetest
