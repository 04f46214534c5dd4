#include "platform/audio/AudioSession.h"

#include <mutex>

namespace audio {

namespace {
// The listener and its client, kept for AudioSessionSimulateInterruption.
// Lock order: gDeliveryMutex before gSessionMutex. The delivery mutex is held while the
// listener runs so that removal can wait for a call in progress; it is recursive because the
// listener may drop the last reference to its client, whose destructor removes the listener.
std::recursive_mutex gDeliveryMutex;
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

void AudioSessionRemoveInterruptionListener(AudioSessionInterruptionListener listener,
                                            void* clientData) {
    std::lock_guard delivery(gDeliveryMutex);
    std::lock_guard lock(gSessionMutex);
    if (gListener == listener && gClientData == clientData) {
        gListener = nullptr;
        gClientData = nullptr;
    }
}

void AudioSessionSimulateInterruption(uint32_t interruptionState) {
    std::lock_guard delivery(gDeliveryMutex);
    AudioSessionInterruptionListener listener;
    void* clientData;
    {
        std::lock_guard lock(gSessionMutex);
        listener = gListener;
        clientData = gClientData;
    }
    // Called outside the session lock: the listener pauses a streamer, which takes its own lock.
    if (listener) listener(clientData, interruptionState);
}

}  // namespace audio
