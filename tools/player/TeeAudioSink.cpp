#include "tools/player/TeeAudioSink.h"

namespace player {

TeeAudioSink::TeeAudioSink(std::shared_ptr<audio::AudioSink> inner, FramesListener listener)
    : inner_(std::move(inner)), listener_(std::move(listener)) {}

std::optional<audio::AudioSinkFormat> TeeAudioSink::open(const audio::AudioSinkFormat& wanted) {
    auto format = inner_->open(wanted);
    if (format) format_ = *format;
    return format;
}

size_t TeeAudioSink::write(const float* samples, size_t frames) {
    const size_t taken = inner_->write(samples, frames);
    if (taken > 0 && listener_) listener_(format_, samples, taken);
    return taken;
}

}  // namespace player
