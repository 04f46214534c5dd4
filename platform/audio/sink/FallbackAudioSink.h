#pragma once
// A sink that plays on a first choice and, when that cannot open, on a silent sink that keeps
// real time, saying so in one log line per process. The application's sink is the device with
// this fallback (makeDeviceAudioSink), so a machine without a sound card (or without SDL)
// still plays, silently, with true timing.
//
// Threads: as any sink; every call after open() goes to the sink that opened.

#include <memory>

#include "platform/audio/sink/AudioSink.h"

namespace audio {

class FallbackAudioSink : public AudioSink {
public:
    explicit FallbackAudioSink(std::shared_ptr<AudioSink> preferred);

    std::optional<AudioSinkFormat> open(const AudioSinkFormat& wanted) override;
    size_t write(const float* samples, size_t frames) override;
    void setPlaying(bool playing) override;
    void discard() override;
    uint64_t framesConsumed() override;
    uint64_t framesWritten() const override;
    size_t capacityFrames() const override;
    std::optional<std::chrono::nanoseconds> timeUntilConsumed(uint64_t frame) override;
    std::string lastError() const override;

    // True once open() has had to fall back to silence.
    bool isSilent() const { return silent_; }

private:
    std::shared_ptr<AudioSink> active_;
    bool silent_ = false;
};

// The audio device (SDL2) with the silent fallback: the sink the application and the tools
// install with AudioSinkSetFactory.
std::shared_ptr<AudioSink> makeDeviceAudioSink();

}  // namespace audio
