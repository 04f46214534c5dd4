#include "platform/audio/sink/AudioSink.h"

#include <atomic>
#include <mutex>

namespace audio {

namespace {
std::atomic<uint64_t> gUnderruns{0};
std::mutex gFactoryMutex;
AudioSinkFactory gFactory;  // guarded by gFactoryMutex

AudioSinkFactory exchangeFactory(AudioSinkFactory factory) {
    std::lock_guard lock(gFactoryMutex);
    std::swap(gFactory, factory);
    return factory;
}
}  // namespace

uint64_t AudioSinkUnderrunCount() { return gUnderruns.load(std::memory_order_relaxed); }

void AudioSinkNoteUnderrun() { gUnderruns.fetch_add(1, std::memory_order_relaxed); }

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
