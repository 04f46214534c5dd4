#include "platform/audio/sink/CaptureAudioSink.h"

#include <algorithm>

namespace audio {

CaptureAudioSink::CaptureAudioSink(CaptureOptions options) : options_(options) {}

std::optional<AudioSinkFormat> CaptureAudioSink::open(const AudioSinkFormat& wanted) {
    AudioSinkFormat format = wanted;
    if (options_.sampleRate > 0) format.sampleRate = options_.sampleRate;
    if (options_.channels > 0) format.channels = options_.channels;
    if (format.sampleRate <= 0 || format.channels <= 0) return std::nullopt;
    std::lock_guard lock(mutex_);
    format_ = format;
    pace_.emplace(options_.speed > 0 ? options_.speed * format.sampleRate : 0.0,
                  options_.keepSamples);
    return format;
}

size_t CaptureAudioSink::write(const float* samples, size_t frames) {
    std::lock_guard lock(mutex_);
    if (!pace_) return 0;
    const uint64_t held = pace_->written() - pace_->consumed();
    const size_t capacity = size_t(options_.capacitySeconds * format_.sampleRate);
    const size_t room = capacity > held ? capacity - size_t(held) : 0;
    const size_t taken = std::min(frames, room);
    if (options_.keepSamples) {
        samples_.insert(samples_.end(), samples, samples + taken * size_t(format_.channels));
    }
    pace_->wrote(taken);
    return taken;
}

void CaptureAudioSink::setPlaying(bool playing) {
    std::lock_guard lock(mutex_);
    if (pace_) pace_->setPlaying(playing);
}

void CaptureAudioSink::discard() {
    std::lock_guard lock(mutex_);
    if (!pace_) return;
    discarded_ += pace_->written() - pace_->consumed();
    pace_->discard();
}

uint64_t CaptureAudioSink::framesConsumed() { return consumedCount(); }

uint64_t CaptureAudioSink::framesWritten() const { return frameCount(); }

size_t CaptureAudioSink::capacityFrames() const {
    std::lock_guard lock(mutex_);
    return size_t(options_.capacitySeconds * format_.sampleRate);
}

std::optional<std::chrono::nanoseconds> CaptureAudioSink::timeUntilConsumed(uint64_t frame) {
    std::lock_guard lock(mutex_);
    if (!pace_) return std::nullopt;
    return pace_->timeUntilConsumed(frame);
}

AudioSinkFormat CaptureAudioSink::format() const {
    std::lock_guard lock(mutex_);
    return format_;
}

std::vector<float> CaptureAudioSink::samples() const {
    std::lock_guard lock(mutex_);
    return samples_;
}

uint64_t CaptureAudioSink::frameCount() const {
    std::lock_guard lock(mutex_);
    return pace_ ? pace_->written() : 0;
}

uint64_t CaptureAudioSink::consumedCount() const {
    std::lock_guard lock(mutex_);
    return pace_ ? pace_->consumed() : 0;
}

uint64_t CaptureAudioSink::discardedCount() const {
    std::lock_guard lock(mutex_);
    return discarded_;
}

std::optional<std::chrono::steady_clock::time_point> CaptureAudioSink::timeWhenConsumed(
    uint64_t frame) const {
    std::lock_guard lock(mutex_);
    return pace_ ? pace_->timeConsumed(frame) : std::nullopt;
}

CaptureAudioSinkFactory::CaptureAudioSinkFactory(CaptureOptions options) : options_(options) {}

AudioSinkFactory CaptureAudioSinkFactory::factory() {
    return [shared = shared_, options = options_]() -> std::shared_ptr<AudioSink> {
        auto sink = std::make_shared<CaptureAudioSink>(options);
        std::lock_guard lock(shared->mutex);
        shared->sinks.push_back(sink);
        return sink;
    };
}

std::vector<std::shared_ptr<CaptureAudioSink>> CaptureAudioSinkFactory::sinks() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->sinks;
}

std::shared_ptr<CaptureAudioSink> CaptureAudioSinkFactory::last() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->sinks.empty() ? nullptr : shared_->sinks.back();
}

}  // namespace audio
