#pragma once
// The audio session. The desktop has no session and no interruptions: the calls succeed and do
// nothing, but the interruption listener is kept so that it can be called (tests do).

#include <cstdint>

#include "platform/audio/AudioTypes.h"

namespace audio {

using AudioSessionInterruptionListener = void (*)(void* clientData, uint32_t interruptionState);
using AudioSessionPropertyID = uint32_t;

constexpr uint32_t kAudioSessionBeginInterruption = 1;
constexpr uint32_t kAudioSessionEndInterruption = 0;
constexpr AudioSessionPropertyID kAudioSessionProperty_AudioCategory = fourCC("acat");
constexpr uint32_t kAudioSessionCategory_MediaPlayback = fourCC("medi");

OSStatus AudioSessionInitialize(void* runLoop, void* runLoopMode,
                                AudioSessionInterruptionListener listener, void* clientData);
OSStatus AudioSessionSetProperty(AudioSessionPropertyID propertyID, uint32_t dataSize,
                                 const void* data);
OSStatus AudioSessionSetActive(bool active);
// Forgets the listener if it is still the one registered for this client, and returns once
// no call to it is in progress: after this the client may be destroyed.
void AudioSessionRemoveInterruptionListener(AudioSessionInterruptionListener listener,
                                            void* clientData);

// Calls the most recently registered listener with the state (tests).
void AudioSessionSimulateInterruption(uint32_t interruptionState);

}  // namespace audio
