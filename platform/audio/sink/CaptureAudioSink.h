#pragma once
// A sink that keeps every frame written to it, for tests and benchmarks. It consumes at real
// time times a speed factor, or at once (speed 0), but only while playing, so a queue behaves
// as it would on a device, just faster.
//
// A test reaches the PCM of a queue the engine created through CaptureAudioSinkFactory, which
// keeps every sink it made.
//
// Threads: the AudioSink calls come from its queue (see AudioSink.h); the accessors below may be
// called from any thread at any time and lock the capture's own mutex (taken after the queue's).

#include <mutex>
#include <vector>

#include "platform/audio/sink/AudioSink.h"
#include "platform/audio/sink/PacedConsumption.h"

namespace audio {

struct CaptureOptions {
    // Multiple of real time; 0 consumes what is written at once (while playing).
    double speed = 0;
    // Force a format on the queue (0 takes what the queue offers), to exercise conversion.
    int sampleRate = 0;
    int channels = 0;
    // How far the queue may run ahead of consumption.
    double capacitySeconds = 0.5;
    // Keep the samples (benchmarks that only count frames turn this off).
    bool keepSamples = true;
};

class CaptureAudioSink : public AudioSink {
public:
    explicit CaptureAudioSink(CaptureOptions options = {});

    std::optional<AudioSinkFormat> open(const AudioSinkFormat& wanted) override;
    size_t write(const float* samples, size_t frames) override;
    void setPlaying(bool playing) override;
    void discard() override;
    uint64_t framesConsumed() override;
    uint64_t framesWritten() const override;
    size_t capacityFrames() const override;
    std::optional<std::chrono::nanoseconds> timeUntilConsumed(uint64_t frame) override;

    // ---- Accessors, any thread. ----
    // The format the queue writes in; sampleRate 0 until the queue opened the sink.
    AudioSinkFormat format() const;
    // Every sample written, interleaved, discarded ones included.
    std::vector<float> samples() const;
    uint64_t frameCount() const;
    // Frames consumed (played or discarded) so far.
    uint64_t consumedCount() const;
    // Frames dropped by discard (an immediate stop or a dispose).
    uint64_t discardedCount() const;
    // When frame number `frame` (counting from 1 since open) was consumed: so a test can tell
    // that a buffer came back after its last frame was played. nullopt when not consumed yet,
    // discarded, or samples are not kept.
    std::optional<std::chrono::steady_clock::time_point> timeWhenConsumed(uint64_t frame) const;

private:
    const CaptureOptions options_;
    mutable std::mutex mutex_;  // guards everything below; taken after the queue's mutex
    AudioSinkFormat format_;
    std::optional<PacedConsumption> pace_;
    std::vector<float> samples_;
    uint64_t discarded_ = 0;
};

// Makes capture sinks and keeps every one, in the order made. Install it with
// ScopedAudioSinkFactory(factory.factory()).
class CaptureAudioSinkFactory {
public:
    explicit CaptureAudioSinkFactory(CaptureOptions options = {});

    AudioSinkFactory factory();
    std::vector<std::shared_ptr<CaptureAudioSink>> sinks() const;
    std::shared_ptr<CaptureAudioSink> last() const;

private:
    struct Shared {
        std::mutex mutex;
        std::vector<std::shared_ptr<CaptureAudioSink>> sinks;
    };
    const CaptureOptions options_;
    std::shared_ptr<Shared> shared_ = std::make_shared<Shared>();
};

}  // namespace audio
