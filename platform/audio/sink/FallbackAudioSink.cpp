#include "platform/audio/sink/FallbackAudioSink.h"

#include <atomic>

#include "platform/Log.h"
#include "platform/audio/sink/SdlAudioSink.h"
#include "platform/audio/sink/SilentAudioSink.h"

namespace audio {

namespace {
// One line per process: every queue of a machine without a device would say the same.
std::atomic<bool> gFallbackLogged{false};
}  // namespace

FallbackAudioSink::FallbackAudioSink(std::shared_ptr<AudioSink> preferred)
    : active_(std::move(preferred)) {}

std::optional<AudioSinkFormat> FallbackAudioSink::open(const AudioSinkFormat& wanted) {
    if (active_) {
        if (auto obtained = active_->open(wanted)) return obtained;
    }
    if (!gFallbackLogged.exchange(true)) {
        const std::string reason = active_ ? active_->lastError() : std::string();
        platform::logf("No audio device could be opened%s%s; playing silently.",
                       reason.empty() ? "" : ": ", reason.c_str());
    }
    active_ = std::make_shared<SilentAudioSink>();
    silent_ = true;
    return active_->open(wanted);
}

size_t FallbackAudioSink::write(const float* samples, size_t frames) {
    return active_->write(samples, frames);
}

void FallbackAudioSink::setPlaying(bool playing) { active_->setPlaying(playing); }

void FallbackAudioSink::discard() { active_->discard(); }

uint64_t FallbackAudioSink::framesConsumed() { return active_->framesConsumed(); }

uint64_t FallbackAudioSink::framesWritten() const { return active_->framesWritten(); }

size_t FallbackAudioSink::capacityFrames() const { return active_->capacityFrames(); }

std::optional<std::chrono::nanoseconds> FallbackAudioSink::timeUntilConsumed(uint64_t frame) {
    return active_->timeUntilConsumed(frame);
}

std::string FallbackAudioSink::lastError() const { return active_ ? active_->lastError() : ""; }

std::shared_ptr<AudioSink> makeDeviceAudioSink() {
    return std::make_shared<FallbackAudioSink>(std::make_shared<SdlAudioSink>());
}

}  // namespace audio
