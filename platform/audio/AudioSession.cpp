#include "platform/audio/AudioSession.h"

#include <mutex>

namespace audio {

namespace {
// The listener and its client, kept for AudioSessionSimulateInterruption.
std::mutex gSessionMutex;
AudioSessionInterruptionListener gListener = nullptr;
void* gClientData = nullptr;
}  // namespace

OSStatus AudioSessionInitialize(void*, void*, AudioSessionInterruptionListener listener,
                                void* clientData) {
    std::lock_guard lock(gSessionMutex);
    gListener = listener;
    gClientData = clientData;
    return noErr;
}

OSStatus AudioSessionSetProperty(AudioSessionPropertyID, uint32_t, const void*) { return noErr; }

OSStatus AudioSessionSetActive(bool) { return noErr; }

void AudioSessionSimulateInterruption(uint32_t interruptionState) {
    AudioSessionInterruptionListener listener;
    void* clientData;
    {
        std::lock_guard lock(gSessionMutex);
        listener = gListener;
        clientData = gClientData;
    }
    // Called outside the lock: the listener pauses a streamer, which takes its own lock.
    if (listener) listener(clientData, interruptionState);
}

}  // namespace audio
