// Two threads drive one queue at a time with random calls, as the engine's streaming and main
// threads do: stop and dispose under the streamer lock, an is-running callback that takes that
// lock, a buffer-done callback that takes only the buffer mutex. Every sequence must end with
// every buffer back exactly once, no deadlock, and no callback after dispose.
//
// 10,000 sequences by default; OSTRA_QUEUE_SOAK=<sequences> runs a longer soak.

#include <gtest/gtest.h>

#include <barrier>
#include <cstdlib>
#include <random>

#include "AudioMaterial.h"
#include "QueueTestClient.h"

namespace queuetest {
namespace {

using namespace audio;

int sequenceCount() {
    if (const char* soak = std::getenv("OSTRA_QUEUE_SOAK")) return std::max(1, std::atoi(soak));
    return 10000;
}

enum class Op { Enqueue, Start, Pause, Flush, StopNow, StopLater, Time, Volume };

void randomCalls(QueueTestClient& client, std::mt19937& random, int count, bool streaming) {
    static const auto buffer = pcm16Stereo(64);
    for (int i = 0; i < count; ++i) {
        // The streaming thread mostly fills buffers; the main thread mostly controls.
        const int pick = int(random() % 16);
        Op op = streaming ? (pick < 9 ? Op::Enqueue : Op(pick % 8)) : Op(1 + pick % 7);
        switch (op) {
            case Op::Enqueue: client.enqueue(buffer); break;
            case Op::Start: {
                std::lock_guard lock(client.streamerLock);
                AudioQueueStart(client.queue(), nullptr);
                break;
            }
            case Op::Pause: {
                std::lock_guard lock(client.streamerLock);
                AudioQueuePause(client.queue());
                break;
            }
            case Op::Flush: AudioQueueFlush(client.queue()); break;
            case Op::StopNow: client.stopLocked(true); break;
            case Op::StopLater: client.stopLocked(false); break;
            case Op::Time: client.sampleTime(); break;
            case Op::Volume: AudioQueueSetOutputVolume(float(random() % 3) / 2); break;
        }
    }
}

TEST(AudioQueueStress, RandomCallsFromTwoThreadsKeepTheContract) {
    const int sequences = sequenceCount();
    const auto format = pcmFormat(44100, 2, 2, kAudioFormatFlagIsSignedInteger);
    std::mt19937 seeds(20240611);
    std::atomic<int> failures{0};

    std::unique_ptr<QueueTestClient> client;
    std::barrier sync(3);
    uint32_t seedA = 0, seedB = 0;
    bool done = false;
    auto worker = [&](bool streaming) {
        for (;;) {
            sync.arrive_and_wait();  // a sequence is ready
            if (done) return;
            std::mt19937 random(streaming ? seedA : seedB);
            randomCalls(*client, random, 12, streaming);
            sync.arrive_and_wait();  // sequence finished
        }
    };
    std::thread streaming(worker, true), main(worker, false);

    for (int s = 0; s < sequences && failures == 0; ++s) {
        // Alternate sinks: played-back returns race with stops at once, or in real time.
        CaptureOptions options;
        options.speed = (s % 4 == 0) ? 50 : 0;
        options.capacitySeconds = 0.01;
        options.keepSamples = false;
        CaptureAudioSinkFactory captures(options);
        ScopedAudioSinkFactory scoped(captures.factory());
        client = std::make_unique<QueueTestClient>(format, 256, 4);
        seedA = seeds();
        seedB = seeds();
        sync.arrive_and_wait();
        sync.arrive_and_wait();

        // Dispose as the engine's clean-up does, then check under the buffer mutex that
        // everything is back: any later buffer-done would count as a double return.
        ASSERT_EQ(client->disposeLocked(), noErr);
        if (client->buffersUsed() != 0) ++failures;
        const int callsAtDispose = client->isRunningCalls();
        client->disposeAndJoin();
        if (client->doubleReturns() != 0 || client->foreignReturns() != 0) ++failures;
        // At most one is-running callback was already under way when dispose was called.
        if (client->isRunningCalls() > callsAtDispose + 1) ++failures;
        EXPECT_EQ(failures, 0) << "sequence " << s;
        client.reset();
    }
    done = true;
    sync.arrive_and_wait();
    streaming.join();
    main.join();
    AudioQueueSetOutputVolume(1.0f);
    EXPECT_EQ(failures, 0);
}

}  // namespace
}  // namespace queuetest
