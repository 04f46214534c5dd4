#include "platform/audio/queue/AudioQueue.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "platform/audio/queue/AudioDecoder.h"
#include "platform/audio/queue/OutputQueue.h"
#include "platform/audio/sink/AudioSink.h"

namespace audio {

namespace {
std::atomic<float> gOutputVolume{1.0f};
}  // namespace

float OutputVolumeForQueues() { return gOutputVolume.load(std::memory_order_relaxed); }

void AudioQueueSetOutputVolume(float volume) {
    if (std::isnan(volume)) volume = 0.0f;
    gOutputVolume.store(std::clamp(volume, 0.0f, 1.0f), std::memory_order_relaxed);
}

float AudioQueueGetOutputVolume() { return OutputVolumeForQueues(); }

OSStatus AudioQueueNewOutput(const AudioStreamBasicDescription* format,
                             AudioQueueOutputCallback callback, void* userData, void* runLoop,
                             void* runLoopMode, uint32_t flags, AudioQueueRef* outQueue) {
    if (!format || !callback || !outQueue || runLoop || runLoopMode || flags != 0) {
        return kAudioQueueErr_InvalidParameter;
    }
    if (!AudioDecoder::isSupported(*format)) return kAudioQueueErr_CodecNotFound;
    *outQueue = new OutputQueue(*format, callback, userData, AudioSinkMake());
    return noErr;
}

OSStatus AudioQueueAddPropertyListener(AudioQueueRef queue, AudioQueuePropertyID propertyID,
                                       AudioQueuePropertyListenerProc proc, void* userData) {
    if (!queue) return kAudioQueueErr_InvalidParameter;
    if (propertyID != kAudioQueueProperty_IsRunning) return kAudioQueueErr_InvalidProperty;
    return OutputQueue::from(queue)->addIsRunningListener(proc, userData);
}

OSStatus AudioQueueGetProperty(AudioQueueRef queue, AudioQueuePropertyID propertyID, void* outData,
                               uint32_t* ioDataSize) {
    if (!queue || !outData || !ioDataSize) return kAudioQueueErr_InvalidParameter;
    if (propertyID != kAudioQueueProperty_IsRunning &&
        propertyID != kAudioQueueProperty_HasDecodedAudio) {
        return kAudioQueueErr_InvalidProperty;
    }
    if (*ioDataSize < sizeof(uint32_t)) return kAudioQueueErr_InvalidPropertySize;
    *ioDataSize = sizeof(uint32_t);
    auto* value = static_cast<uint32_t*>(outData);
    if (propertyID == kAudioQueueProperty_HasDecodedAudio)
        return OutputQueue::from(queue)->hasDecodedAudio(value);
    return OutputQueue::from(queue)->isRunning(value);
}

OSStatus AudioQueueSetProperty(AudioQueueRef queue, AudioQueuePropertyID propertyID,
                               const void* data, uint32_t dataSize) {
    if (!queue) return kAudioQueueErr_InvalidParameter;
    if (propertyID != kAudioQueueProperty_MagicCookie) return kAudioQueueErr_InvalidProperty;
    return OutputQueue::from(queue)->setMagicCookie(data, dataSize);
}

OSStatus AudioQueueAllocateBuffer(AudioQueueRef queue, uint32_t bufferByteSize,
                                  AudioQueueBufferRef* outBuffer) {
    if (!queue || !outBuffer) return kAudioQueueErr_InvalidParameter;
    return OutputQueue::from(queue)->allocateBuffer(bufferByteSize, outBuffer);
}

OSStatus AudioQueueEnqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer,
                                 uint32_t numPacketDescs,
                                 const AudioStreamPacketDescription* packetDescs) {
    if (!queue || !buffer) return kAudioQueueErr_InvalidParameter;
    return OutputQueue::from(queue)->enqueue(buffer, numPacketDescs, packetDescs);
}

OSStatus AudioQueueStart(AudioQueueRef queue, const AudioTimeStamp*) {
    if (!queue) return kAudioQueueErr_InvalidParameter;
    return OutputQueue::from(queue)->start();
}

OSStatus AudioQueuePause(AudioQueueRef queue) {
    if (!queue) return kAudioQueueErr_InvalidParameter;
    return OutputQueue::from(queue)->pause();
}

OSStatus AudioQueueFlush(AudioQueueRef queue) {
    if (!queue) return kAudioQueueErr_InvalidParameter;
    return OutputQueue::from(queue)->flush();
}

OSStatus AudioQueueStop(AudioQueueRef queue, bool immediate) {
    if (!queue) return kAudioQueueErr_InvalidParameter;
    return OutputQueue::from(queue)->stop(immediate);
}

OSStatus AudioQueueDispose(AudioQueueRef queue, bool) {
    if (!queue) return kAudioQueueErr_InvalidParameter;
    return OutputQueue::from(queue)->dispose();
}

void AudioQueueJoinDisposed(AudioQueueRef queue) {
    if (queue) OutputQueue::from(queue)->joinAndDelete();
}

OSStatus AudioQueueGetCurrentTime(AudioQueueRef queue, void* timeline, AudioTimeStamp* outTimeStamp,
                                  bool* outTimelineDiscontinuity) {
    if (!queue || timeline || !outTimeStamp) return kAudioQueueErr_InvalidParameter;
    if (outTimelineDiscontinuity) *outTimelineDiscontinuity = false;
    return OutputQueue::from(queue)->currentTime(outTimeStamp);
}

}  // namespace audio
