#pragma once
// The audio output queue: buffers of packets are enqueued, decoded and played through the
// process's current AudioSink (AudioSink.h) on a thread of the queue's own.
//
// Threads and the contract the streaming engine depends on:
// - Any thread may call the queue functions; callers may hold their own locks (the engine
//   holds its streamer lock around stop and dispose).
// - The buffer-done and is-running callbacks run on the queue's own thread, with two
//   exceptions, both for buffer-done: see immediate stop and dispose below. The is-running
//   callback never runs on a caller's thread.
// - No queue call ever waits for an is-running callback, nor for work the queue's thread can do
//   only after one returns (the is-running callback takes the caller's lock).
// - Every enqueued buffer comes back through the buffer-done callback exactly once: after its
//   audio has been consumed by the sink (played), or at the latest when an immediate stop or a
//   dispose returns.
// - Pause does not fire the is-running listener; start and stop do, each once, on the queue's
//   thread, in the order of the calls.
// - After AudioQueueDispose returns no callback starts; one already running may still be
//   finishing (only an is-running one: see below). A thread holding no lock then calls
//   AudioQueueJoinDisposed, which waits for the queue's thread to end and frees the queue.
//   Until then the handle stays valid for that call only.
//
// What runs where during AudioQueueStop(immediate) and AudioQueueDispose, called on thread T:
// - The buffer-done callbacks of every buffer not yet handed back run on T, inside the call,
//   in queue order, after T has released the queue's own lock. They are the only callbacks
//   that run on T.
// - A buffer-done callback the queue's thread had already begun is waited for before the call
//   returns (unless T is that very callback calling stop). So the buffer-done callback must not
//   take a lock that callers of stop or dispose hold: the engine's takes only queueBuffersMutex,
//   which comes after the streamer lock in its lock order, and the engine never holds
//   queueBuffersMutex while it calls the queue.
// - The is-running callback of the stop is not waited for: it runs later on the queue's
//   thread, where it may block on the streamer lock until T lets go of it. After a dispose it
//   does not run at all. An is-running callback that had already begun when dispose was called
//   (blocked on the streamer lock, say) finishes after dispose returns; hence
//   AudioQueueJoinDisposed, with no lock held, before the client is destroyed.
//
// Timing: the queue decodes ahead only as far as the sink's buffer reaches (a fraction of a
// second); a buffer comes back when the sink has consumed its last frame. Current time counts
// the stream's frames consumed since the queue last started from not running; a pause freezes
// it and resuming with AudioQueueStart continues it.
//
// Stop after queued (immediate false) plays everything queued, the decoder's tail included,
// then reports not running. A paused queue resumes to do so (else its stop would never come);
// a queue that is not running hands its buffers back at once, as an immediate stop does.

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
// Read-only, uint32_t: 1 once any packet enqueued on this queue has decoded to audio. Tells a
// run whose packets all failed to decode (nothing was played) from one that played.
constexpr AudioQueuePropertyID kAudioQueueProperty_HasDecodedAudio = fourCC("aqda");
// The stream's magic cookie as the parser hands it on: the AudioSpecificConfig for AAC, the
// 36-byte 'alac' atom for ALAC.
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
// A format no decoder here plays gives kAudioQueueErr_CodecNotFound. The sink is made now
// (AudioSinkMake: the installed factory's) and opened with the first decoded audio.
OSStatus AudioQueueNewOutput(const AudioStreamBasicDescription* format,
                             AudioQueueOutputCallback callback, void* userData, void* runLoop,
                             void* runLoopMode, uint32_t flags, AudioQueueRef* outQueue);
OSStatus AudioQueueAddPropertyListener(AudioQueueRef queue, AudioQueuePropertyID propertyID,
                                       AudioQueuePropertyListenerProc proc, void* userData);
// Reads 'aqrn' (uint32_t, 1 while running) and 'aqda'.
OSStatus AudioQueueGetProperty(AudioQueueRef queue, AudioQueuePropertyID propertyID, void* outData,
                               uint32_t* ioDataSize);
OSStatus AudioQueueSetProperty(AudioQueueRef queue, AudioQueuePropertyID propertyID,
                               const void* data, uint32_t dataSize);
OSStatus AudioQueueAllocateBuffer(AudioQueueRef queue, uint32_t bufferByteSize,
                                  AudioQueueBufferRef* outBuffer);
// The bytes and descriptions are copied: the caller may reuse its description array at once,
// and the buffer's memory is not read again. A description reaching outside the buffer's
// mAudioDataByteSize is refused (kAudioQueueErr_InvalidParameter). An empty buffer is accepted
// and comes back in its turn.
OSStatus AudioQueueEnqueueBuffer(AudioQueueRef queue, AudioQueueBufferRef buffer,
                                 uint32_t numPacketDescs,
                                 const AudioStreamPacketDescription* packetDescs);
OSStatus AudioQueueStart(AudioQueueRef queue, const AudioTimeStamp* startTime);
OSStatus AudioQueuePause(AudioQueueRef queue);
// Decodes and plays what is queued without waiting for more data; the decoder's tail comes out.
OSStatus AudioQueueFlush(AudioQueueRef queue);
OSStatus AudioQueueStop(AudioQueueRef queue, bool immediate);
// Always at once, whatever `immediate` says: buffers still queued come back unplayed.
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
