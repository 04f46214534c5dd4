#include "platform/audio/sink/SilentAudioSink.h"

#include <algorithm>

namespace audio {

std::optional<AudioSinkFormat> SilentAudioSink::open(const AudioSinkFormat& wanted) {
    if (wanted.sampleRate <= 0 || wanted.channels <= 0) return std::nullopt;
    format_ = wanted;
    pace_.emplace(double(wanted.sampleRate));
    return format_;
}

size_t SilentAudioSink::write(const float*, size_t frames) {
    if (!pace_) return 0;
    const uint64_t held = pace_->written() - pace_->consumed();
    const size_t room = capacityFrames() > held ? capacityFrames() - size_t(held) : 0;
    const size_t taken = std::min(frames, room);
    pace_->wrote(taken);
    return taken;
}

void SilentAudioSink::setPlaying(bool playing) {
    if (pace_) pace_->setPlaying(playing);
}

void SilentAudioSink::discard() {
    if (pace_) pace_->discard();
}

uint64_t SilentAudioSink::framesConsumed() { return pace_ ? pace_->consumed() : 0; }

uint64_t SilentAudioSink::framesWritten() const { return pace_ ? pace_->written() : 0; }

size_t SilentAudioSink::capacityFrames() const {
    return size_t(format_.sampleRate * kCapacitySeconds);
}

std::optional<std::chrono::nanoseconds> SilentAudioSink::timeUntilConsumed(uint64_t frame) {
    if (!pace_) return std::nullopt;
    return pace_->timeUntilConsumed(frame);
}

}  // namespace audio
