#include "platform/audio/sink/AudioSink.h"

#include <mutex>

namespace audio {

namespace {
std::mutex gFactoryMutex;
AudioSinkFactory gFactory;  // guarded by gFactoryMutex

AudioSinkFactory exchangeFactory(AudioSinkFactory factory) {
    std::lock_guard lock(gFactoryMutex);
    std::swap(gFactory, factory);
    return factory;
}
}  // namespace

void AudioSinkSetFactory(AudioSinkFactory factory) { exchangeFactory(std::move(factory)); }

std::shared_ptr<AudioSink> AudioSinkMake() {
    AudioSinkFactory factory;
    {
        std::lock_guard lock(gFactoryMutex);
        factory = gFactory;
    }
    // Called outside the lock: a test's factory may take its own locks.
    return factory ? factory() : nullptr;
}

ScopedAudioSinkFactory::ScopedAudioSinkFactory(AudioSinkFactory factory)
    : previous_(exchangeFactory(std::move(factory))) {}

ScopedAudioSinkFactory::~ScopedAudioSinkFactory() { exchangeFactory(std::move(previous_)); }

}  // namespace audio
