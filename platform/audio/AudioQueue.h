#pragma once
// The audio output queue: buffers of packets are enqueued, decoded and played through the
// process's current AudioSink on a thread of the queue's own.
//
// Threads and the contract the streaming engine depends on:
// - Any thread may call the queue functions; callers may hold their own locks (the engine
//   holds its streamer lock around stop and dispose).
// - The buffer-done and is-running callbacks run on the queue's own thread. No queue call ever
//   waits for a callback to return, nor for work the queue's thread can do only after one
//   returns (the is-running callback takes the caller's lock).
// - Every enqueued buffer comes back through the buffer-done callback exactly once: after it
//   has been played, or at the latest when an immediate stop or a dispose returns.
// - Pause does not fire the is-running listener; start and stop do, each once.
// - After AudioQueueDispose returns no callback starts; one already running may still be
//   finishing. A thread holding no lock then calls AudioQueueJoinDisposed, which waits for the
//   queue's thread to end and frees the queue. Until then the handle stays valid for that
//   call only.

#include <cstdint>

#include "platform/audio/AudioTypes.h"

namespace audio {

using AudioQueueRef = struct OpaqueAudioQueue*;
using AudioQueuePropertyID = uint32_t;

struct AudioQueueBuffer {
    uint32_t mAudioDataBytesCapacity;
    void* mAudioData;
    uint32_t mAudioDataByteSize;
    void* mUserData;
    uint32_t mPacketDescriptionCapacity;
    AudioStreamPacketDescription* mPacketDescriptions;
    uint32_t mPacketDescriptionCount;
};
using AudioQueueBufferRef = AudioQueueBuffer*;

constexpr AudioQueuePropertyID kAudioQueueProperty_IsRunning = fourCC("aqrn");
constexpr AudioQueuePropertyID kAudioQueueProperty_MagicCookie = fourCC("aqmc");

constexpr OSStatus kAudioQueueErr_InvalidBuffer = -66687;
constexpr OSStatus kAudioQueueErr_BufferEmpty = -66686;
constexpr OSStatus kAudioQueueErr_DisposalPending = -66685;
constexpr OSStatus kAudioQueueErr_InvalidProperty = -66684;
constexpr OSStatus kAudioQueueErr_InvalidPropertySize = -66683;
constexpr OSStatus kAudioQueueErr_InvalidParameter = -66682;
constexpr OSStatus kAudioQueueErr_CannotStart = -66681;
constexpr OSStatus kAudioQueueErr_InvalidDevice = -66680;
constexpr OSStatus kAudioQueueErr_BufferInQueue = -66679;
constexpr OSStatus kAudioQueueErr_InvalidRunState = -66678;
constexpr OSStatus kAudioQueueErr_InvalidQueueType = -66677;
constexpr OSStatus kAudioQueueErr_CodecNotFound = fourCC("fmt?");
// AudioQueueGetCurrentTime on a queue that is not running.
constexpr OSStatus kAudioQueueErr_NotRunning = fourCC("stop");

using AudioQueueOutputCallback = void (*)(void* userData, AudioQueueRef queue,
                                          AudioQueueBufferRef buffer);
using AudioQueuePropertyListenerProc = void (*)(void* userData, AudioQueueRef queue,
                                                AudioQueuePropertyID propertyID);

// runLoop and runLoopMode must be null and flags 0: callbacks always come on the queue's thread.
OSStatus AudioQueueNewOutput(const AudioStreamBasicDescription* format,
                             AudioQueueOutputCallback callback, void* userData, void* runLoop,
                             void* runLoopMode, uint32_t flags, AudioQueueRef* outQueue);
OSStatus AudioQueueAddPropertyListener(AudioQueueRef queue, AudioQueuePropertyID propertyID,
                                       AudioQueuePropertyListenerProc proc, void* userData);
// Reads 'aqrn' (uint32_t, 1 while running).
OSStatus AudioQueueGetProperty(AudioQueueRef queue, AudioQueuePropertyID propertyID, void* outData,
                               uint32_t* ioDataSize);
OSStatus AudioQueueSetProperty(AudioQueueRef queue, AudioQueuePropertyID propertyID,
                               const void* data, uint32_t dataSize);
OSStatus AudioQueueAllocateBuffer(AudioQueueRef queue, uint32_t bufferByteSize,
                                  AudioQueueBufferRef* outBuffer);
OSStatus AudioQueueEnqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer,
                                 uint32_t numPacketDescs,
                                 const AudioStreamPacketDescription* packetDescs);
OSStatus AudioQueueStart(AudioQueueRef queue, const AudioTimeStamp* startTime);
OSStatus AudioQueuePause(AudioQueueRef queue);
// Decodes and plays what is queued without waiting for more data; the decoder's tail comes out.
OSStatus AudioQueueFlush(AudioQueueRef queue);
OSStatus AudioQueueStop(AudioQueueRef queue, bool immediate);
OSStatus AudioQueueDispose(AudioQueueRef queue, bool immediate);
void AudioQueueJoinDisposed(AudioQueueRef queue);
// mSampleTime counts frames played since the last start; kAudioQueueErr_NotRunning ('stop')
// when the queue is not running.
OSStatus AudioQueueGetCurrentTime(AudioQueueRef queue, void* timeline, AudioTimeStamp* outTimeStamp,
                                  bool* outTimelineDiscontinuity);

// The process-wide output volume, 0.0 to 1.0, applied by every queue (the volume control).
void AudioQueueSetOutputVolume(float volume);
float AudioQueueGetOutputVolume();

}  // namespace audio
