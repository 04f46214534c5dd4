#pragma once
// A sink that plays nothing but keeps real time: what is written is consumed at the sample
// rate while playing. The device sink falls back to it (FallbackAudioSink) when no device can be
// opened, so a machine without a sound card still plays, silently, with true timing.
//
// It has no thread: consumption is read off the clock (PacedConsumption), and the queue sleeps
// until the next frame it cares about is due, so playing costs a few wake-ups a second.

#include "platform/audio/sink/AudioSink.h"
#include "platform/audio/sink/PacedConsumption.h"

namespace audio {

class SilentAudioSink : public AudioSink {
public:
    SilentAudioSink() = default;

    std::optional<AudioSinkFormat> open(const AudioSinkFormat& wanted) override;
    size_t write(const float* samples, size_t frames) override;
    void setPlaying(bool playing) override;
    void discard() override;
    uint64_t framesConsumed() override;
    uint64_t framesWritten() const override;
    size_t capacityFrames() const override;
    std::optional<std::chrono::nanoseconds> timeUntilConsumed(uint64_t frame) override;

private:
    // Half a second ahead: the queue refills about twice a second.
    static constexpr double kCapacitySeconds = 0.5;

    AudioSinkFormat format_;
    std::optional<PacedConsumption> pace_;
};

}  // namespace audio
