#include "platform/audio/sink/SdlAudioSink.h"

// Only for the types and the functions' signatures: nothing here links against SDL.
#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>

namespace audio {

struct SdlApi {
    decltype(&SDL_SetHint) SetHint = nullptr;
    decltype(&SDL_InitSubSystem) InitSubSystem = nullptr;
    decltype(&SDL_QuitSubSystem) QuitSubSystem = nullptr;
    decltype(&SDL_OpenAudioDevice) OpenAudioDevice = nullptr;
    decltype(&SDL_CloseAudioDevice) CloseAudioDevice = nullptr;
    decltype(&SDL_PauseAudioDevice) PauseAudioDevice = nullptr;
    decltype(&SDL_QueueAudio) QueueAudio = nullptr;
    decltype(&SDL_GetQueuedAudioSize) GetQueuedAudioSize = nullptr;
    decltype(&SDL_ClearQueuedAudio) ClearQueuedAudio = nullptr;
    decltype(&SDL_GetError) GetError = nullptr;
    decltype(&SDL_TLSCleanup) TLSCleanup = nullptr;
};

namespace {
// Guards SDL's subsystem reference count, which is not thread-safe (queues open devices on
// their own threads), and the table of loaded libraries.
std::mutex gSdlMutex;

struct LoadedLibrary {
    std::unique_ptr<SdlApi> api;  // null when loading failed
    std::string error;            // why it failed
};

// One attempt per library name and process, success or failure, so a machine without SDL
// does not search the library path again for every new queue. Never destroyed: a queue's
// thread may still close its device while the process exits, and static destruction would
// pull the functions from under it. Guarded by gSdlMutex.
std::map<std::string, LoadedLibrary>& loadedLibraries() {
    static auto* libraries = new std::map<std::string, LoadedLibrary>;
    return *libraries;
}

template <typename Function>
bool resolve(void* library, const char* name, Function& function, std::string& error) {
    function = reinterpret_cast<Function>(::dlsym(library, name));
    if (!function) error = std::string("no ") + name + " in SDL";
    return function != nullptr;
}

LoadedLibrary loadLibrary(const std::string& name) {
    LoadedLibrary loaded;
    // The handle is deliberately never closed (see loadedLibraries); local binding keeps SDL's
    // symbols from interposing on anyone else's.
    void* library = ::dlopen(name.c_str(), RTLD_LAZY | RTLD_LOCAL);
    if (!library) {
        const char* reason = ::dlerror();
        loaded.error =
            "cannot load " + name + (reason ? std::string(": ") + reason : std::string());
        return loaded;
    }
    auto api = std::make_unique<SdlApi>();
    std::string& e = loaded.error;
    const bool complete = resolve(library, "SDL_SetHint", api->SetHint, e) &&
                          resolve(library, "SDL_InitSubSystem", api->InitSubSystem, e) &&
                          resolve(library, "SDL_QuitSubSystem", api->QuitSubSystem, e) &&
                          resolve(library, "SDL_OpenAudioDevice", api->OpenAudioDevice, e) &&
                          resolve(library, "SDL_CloseAudioDevice", api->CloseAudioDevice, e) &&
                          resolve(library, "SDL_PauseAudioDevice", api->PauseAudioDevice, e) &&
                          resolve(library, "SDL_QueueAudio", api->QueueAudio, e) &&
                          resolve(library, "SDL_GetQueuedAudioSize", api->GetQueuedAudioSize, e) &&
                          resolve(library, "SDL_ClearQueuedAudio", api->ClearQueuedAudio, e) &&
                          resolve(library, "SDL_GetError", api->GetError, e) &&
                          resolve(library, "SDL_TLSCleanup", api->TLSCleanup, e);
    if (complete) loaded.api = std::move(api);
    return loaded;
}

// The library of this name, loading it on first use; null with `error` set when it cannot be
// loaded. Caller holds gSdlMutex.
const SdlApi* sdlApi(const std::string& name, std::string& error) {
    auto& libraries = loadedLibraries();
    auto found = libraries.find(name);
    if (found == libraries.end()) found = libraries.emplace(name, loadLibrary(name)).first;
    if (!found->second.api) error = found->second.error;
    return found->second.api.get();
}

// Device period: a power of two near 20 ms, as SDL prefers.
uint16_t periodFrames(int sampleRate) {
    uint16_t frames = 256;
    while (frames < 8192 && frames * 50 < sampleRate) frames *= 2;
    return frames;
}
}  // namespace

SdlAudioSink::~SdlAudioSink() {
    if (!sdl_) return;
    std::lock_guard lock(gSdlMutex);
    if (device_ != 0) sdl_->CloseAudioDevice(device_);
    if (subsystem_) sdl_->QuitSubSystem(SDL_INIT_AUDIO);
}

std::optional<AudioSinkFormat> SdlAudioSink::open(const AudioSinkFormat& wanted) {
    if (wanted.sampleRate <= 0 || wanted.channels <= 0) return std::nullopt;
    std::lock_guard lock(gSdlMutex);
    sdl_ = sdlApi(libraryName_, error_);
    if (!sdl_) return std::nullopt;
    sdl_->SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (sdl_->InitSubSystem(SDL_INIT_AUDIO) != 0) {
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
    device_ =
        sdl_->OpenAudioDevice(nullptr, 0, &want, &have,
                              SDL_AUDIO_ALLOW_FREQUENCY_CHANGE | SDL_AUDIO_ALLOW_CHANNELS_CHANGE);
    if (device_ == 0) {
        takeError();
        return std::nullopt;
    }
    format_ = AudioSinkFormat{have.freq, have.channels};
    return format_;
}

void SdlAudioSink::takeError() {
    error_ = sdl_->GetError();
    // SDL keeps the error text in storage of the calling thread, which is the queue's thread,
    // not one of SDL's; nothing would free it when that thread ends.
    sdl_->TLSCleanup();
}

uint64_t SdlAudioSink::framesQueuedAtDevice() const {
    if (device_ == 0) return 0;
    const uint64_t frameBytes = uint64_t(format_.channels) * sizeof(float);
    return sdl_->GetQueuedAudioSize(device_) / frameBytes;
}

size_t SdlAudioSink::write(const float* samples, size_t frames) {
    if (device_ == 0) return 0;
    const uint64_t held = framesQueuedAtDevice();
    // The device played everything it had and waited for more: the listener heard a gap.
    if (held == 0 && playing_ && written_ > 0 && !refillingAfterDiscard_) AudioSinkNoteUnderrun();
    refillingAfterDiscard_ = false;
    const size_t capacity = capacityFrames();
    const size_t taken = std::min<size_t>(frames, capacity > held ? capacity - held : 0);
    if (taken == 0) return 0;
    const size_t bytes = taken * size_t(format_.channels) * sizeof(float);
    if (sdl_->QueueAudio(device_, samples, uint32_t(bytes)) != 0) return 0;
    written_ += taken;
    return taken;
}

void SdlAudioSink::setPlaying(bool playing) {
    if (device_ == 0) return;
    playing_ = playing;
    sdl_->PauseAudioDevice(device_, playing ? 0 : 1);
}

void SdlAudioSink::discard() {
    if (device_ != 0) sdl_->ClearQueuedAudio(device_);
    refillingAfterDiscard_ = true;
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
