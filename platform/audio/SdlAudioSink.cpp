#include "platform/audio/SdlAudioSink.h"

#include <SDL.h>

#include <algorithm>
#include <mutex>

namespace audio {

namespace {
// SDL's subsystem reference count is not thread-safe; queues open devices on their own threads.
std::mutex gSdlMutex;

// Device period: a power of two near 20 ms, as SDL prefers.
uint16_t periodFrames(int sampleRate) {
    uint16_t frames = 256;
    while (frames < 8192 && frames * 50 < sampleRate) frames *= 2;
    return frames;
}
}  // namespace

SdlAudioSink::~SdlAudioSink() {
    std::lock_guard lock(gSdlMutex);
    if (device_ != 0) SDL_CloseAudioDevice(device_);
    if (subsystem_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

std::optional<AudioSinkFormat> SdlAudioSink::open(const AudioSinkFormat& wanted) {
    if (wanted.sampleRate <= 0 || wanted.channels <= 0) return std::nullopt;
    std::lock_guard lock(gSdlMutex);
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        takeError();
        return std::nullopt;
    }
    subsystem_ = true;

    SDL_AudioSpec want{};
    want.freq = wanted.sampleRate;
    want.format = AUDIO_F32SYS;
    // SDL plays 1, 2, 4, 6 or 8 channels; anything else is mixed down to stereo by the queue.
    const int c = wanted.channels;
    want.channels = uint8_t((c == 1 || c == 2 || c == 4 || c == 6 || c == 8) ? c : 2);
    want.samples = periodFrames(wanted.sampleRate);
    want.callback = nullptr;  // queue mode: SDL_QueueAudio
    SDL_AudioSpec have{};
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have,
                                  SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
    if (device_ == 0) {
        takeError();
        return std::nullopt;
    }
    format_ = AudioSinkFormat{have.freq, have.channels};
    return format_;
}

void SdlAudioSink::takeError() {
    error_ = SDL_GetError();
    // SDL keeps the error text in storage of the calling thread, which is the queue's thread,
    // not one of SDL's; nothing would free it when that thread ends.
    SDL_TLSCleanup();
}

uint64_t SdlAudioSink::framesQueuedAtDevice() const {
    if (device_ == 0) return 0;
    const uint64_t frameBytes = uint64_t(format_.channels) * sizeof(float);
    return SDL_GetQueuedAudioSize(device_) / frameBytes;
}

size_t SdlAudioSink::write(const float* samples, size_t frames) {
    if (device_ == 0) return 0;
    const uint64_t held = framesQueuedAtDevice();
    const size_t capacity = capacityFrames();
    const size_t taken = std::min<size_t>(frames, capacity > held ? capacity - held : 0);
    if (taken == 0) return 0;
    const size_t bytes = taken * size_t(format_.channels) * sizeof(float);
    if (SDL_QueueAudio(device_, samples, uint32_t(bytes)) != 0) return 0;
    written_ += taken;
    return taken;
}

void SdlAudioSink::setPlaying(bool playing) {
    if (device_ == 0) return;
    playing_ = playing;
    SDL_PauseAudioDevice(device_, playing ? 0 : 1);
}

void SdlAudioSink::discard() {
    if (device_ != 0) SDL_ClearQueuedAudio(device_);
}

uint64_t SdlAudioSink::framesConsumed() { return written_ - framesQueuedAtDevice(); }

uint64_t SdlAudioSink::framesWritten() const { return written_; }

size_t SdlAudioSink::capacityFrames() const {
    return size_t(format_.sampleRate * kCapacitySeconds);
}

std::optional<std::chrono::nanoseconds> SdlAudioSink::timeUntilConsumed(uint64_t frame) {
    const uint64_t consumed = framesConsumed();
    if (consumed >= frame) return std::chrono::nanoseconds(0);
    if (!playing_ || frame > written_ || format_.sampleRate <= 0) return std::nullopt;
    // The device takes whole periods, so this may be early; the queue looks again then.
    return std::chrono::nanoseconds(int64_t(double(frame - consumed) * 1e9 / format_.sampleRate));
}

}  // namespace audio
