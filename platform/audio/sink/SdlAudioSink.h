#pragma once
// The audio device, through SDL2's audio subsystem (which picks PipeWire, PulseAudio or ALSA).
// Frames are queued to the device with SDL_QueueAudio; what the device has taken from that
// queue counts as consumed. SDL's own thread never calls into our code.
//
// SDL is loaded with dlopen when the first sink opens, not linked: linking it would load its
// video, windowing and sound-server libraries into every process at start-up, including those
// that never open a device. The library stays loaded until the process ends.
//
// When the library cannot be loaded or no device can be opened, open() fails; the application
// installs the sink inside a FallbackAudioSink, which then plays on the silent sink, so a
// machine without a sound card (or SDL) still plays.

#include <string>
#include <utility>

#include "platform/audio/sink/AudioSink.h"

namespace audio {

// The SDL functions the sink calls, resolved from one loaded copy of the library.
struct SdlApi;

class SdlAudioSink : public AudioSink {
public:
    // The system's SDL2, by its ABI name.
    static constexpr const char* kLibraryName = "libSDL2-2.0.so.0";

    SdlAudioSink() : SdlAudioSink(kLibraryName) {}
    // A sink over the SDL library of this file name (tests use one that does not exist).
    explicit SdlAudioSink(std::string libraryName) : libraryName_(std::move(libraryName)) {}
    ~SdlAudioSink() override;
    SdlAudioSink(const SdlAudioSink&) = delete;
    SdlAudioSink& operator=(const SdlAudioSink&) = delete;

    std::optional<AudioSinkFormat> open(const AudioSinkFormat& wanted) override;
    size_t write(const float* samples, size_t frames) override;
    void setPlaying(bool playing) override;
    void discard() override;
    uint64_t framesConsumed() override;
    uint64_t framesWritten() const override;
    size_t capacityFrames() const override;
    std::optional<std::chrono::nanoseconds> timeUntilConsumed(uint64_t frame) override;
    std::string lastError() const override { return error_; }

private:
    // Half a second queued at the device: with every core busy the queue's thread can wait
    // well over a fifth of a second for its turn, and a fifth gave audible gaps. Pause, stop
    // and seeks act on the device at once; only a volume change waits for what is queued.
    static constexpr double kCapacitySeconds = 0.5;

    uint64_t framesQueuedAtDevice() const;
    void takeError();

    std::string libraryName_;
    // Set by a successful load in open(); the library outlives every sink.
    const SdlApi* sdl_ = nullptr;
    // Owns the subsystem reference and the device; closed in this order on destruction.
    bool subsystem_ = false;
    uint32_t device_ = 0;
    AudioSinkFormat format_;
    uint64_t written_ = 0;
    bool playing_ = false;
    bool refillingAfterDiscard_ = false;
    std::string error_;
};

}  // namespace audio
