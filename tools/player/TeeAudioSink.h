#pragma once
// A sink that passes everything to another sink and also hands each accepted frame to a
// listener: the player writes them to a WAV file and notes when the first one arrived.
//
// Threads: the AudioSink calls come from the queue (see AudioSink.h); the listener runs inside
// write, on the caller's thread, and must not call into the queue.

#include <functional>
#include <memory>

#include "platform/audio/sink/AudioSink.h"

namespace player {

using FramesListener =
    std::function<void(const audio::AudioSinkFormat& format, const float* samples, size_t frames)>;

class TeeAudioSink : public audio::AudioSink {
public:
    TeeAudioSink(std::shared_ptr<audio::AudioSink> inner, FramesListener listener);

    std::optional<audio::AudioSinkFormat> open(const audio::AudioSinkFormat& wanted) override;
    size_t write(const float* samples, size_t frames) override;
    void setPlaying(bool playing) override { inner_->setPlaying(playing); }
    void discard() override { inner_->discard(); }
    uint64_t framesConsumed() override { return inner_->framesConsumed(); }
    uint64_t framesWritten() const override { return inner_->framesWritten(); }
    size_t capacityFrames() const override { return inner_->capacityFrames(); }
    std::optional<std::chrono::nanoseconds> timeUntilConsumed(uint64_t frame) override {
        return inner_->timeUntilConsumed(frame);
    }
    std::string lastError() const override { return inner_->lastError(); }

private:
    std::shared_ptr<audio::AudioSink> inner_;
    FramesListener listener_;
    audio::AudioSinkFormat format_;
};

}  // namespace player
