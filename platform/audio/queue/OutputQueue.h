#pragma once
// The object behind an AudioQueueRef: one output queue with a thread of its own. The C-style
// functions of AudioQueue.h forward here; the contract they promise is written there.
//
// How it works. Enqueue copies the buffer's bytes and descriptions into an entry, so the
// caller's memory is never read after the call returns. The queue's thread decodes entries in
// order (outside the lock), converts them to the sink's format and writes them to the sink
// (under the lock). An entry is "written" once all its audio is in the sink; it is handed back
// through the buffer-done callback when the sink has consumed up to its last frame, so a buffer
// comes back when it has been played, not when it was decoded. The thread sleeps until the sink
// says the next frame it cares about is due, or until a call wakes it.
//
// Immediate stop and dispose hand back every buffer themselves, on the calling thread, and move
// to a new generation: whatever the thread was decoding at that moment is thrown away when it
// takes the lock again.
//
// Lock order: a caller's own locks, then mutex_, then the sink's (SDL's device lock, the capture
// sink's mutex). No callback is ever called with mutex_ held.

#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio/queue/AudioDecoder.h"
#include "platform/audio/queue/AudioQueue.h"
#include "platform/audio/queue/AudioResampler.h"
#include "platform/audio/sink/AudioSink.h"

namespace audio {

struct OpaqueAudioQueue {};

// The process-wide output volume (AudioQueueSetOutputVolume), read as audio goes to a sink.
float OutputVolumeForQueues();

class OutputQueue final : public OpaqueAudioQueue {
public:
    OutputQueue(const AudioStreamBasicDescription& format, AudioQueueOutputCallback callback,
                void* userData, std::shared_ptr<AudioSink> sink);
    ~OutputQueue();
    OutputQueue(const OutputQueue&) = delete;
    OutputQueue& operator=(const OutputQueue&) = delete;

    static OutputQueue* from(AudioQueueRef queue) { return static_cast<OutputQueue*>(queue); }

    // Any thread (see AudioQueue.h for which may be called while holding what).
    OSStatus addIsRunningListener(AudioQueuePropertyListenerProc proc, void* userData);
    OSStatus isRunning(uint32_t* outRunning);
    OSStatus hasDecodedAudio(uint32_t* outDecoded);
    OSStatus setMagicCookie(const void* data, uint32_t size);
    OSStatus allocateBuffer(uint32_t size, AudioQueueBufferRef* outBuffer);
    OSStatus enqueue(AudioQueueBufferRef buffer, uint32_t descCount,
                     const AudioStreamPacketDescription* descs);
    OSStatus start();
    OSStatus pause();
    OSStatus flush();
    OSStatus stop(bool immediate);
    OSStatus dispose();
    OSStatus currentTime(AudioTimeStamp* outTimeStamp);

    // Waits for the thread to end and deletes the queue; on the queue's own thread (from a
    // callback) the thread deletes it when it ends instead.
    void joinAndDelete();

private:
    struct BufferRecord {
        AudioQueueBuffer buffer{};
        std::unique_ptr<uint8_t[]> storage;
        bool queued = false;  // from enqueue until taken for its buffer-done callback
    };
    enum class Stage { Waiting, Decoding, Converted, Written };
    struct Entry {
        uint64_t seq = 0;
        AudioQueueBufferRef buffer = nullptr;
        std::vector<uint8_t> bytes;
        std::vector<AudioStreamPacketDescription> descs;
        Stage stage = Stage::Waiting;
        uint64_t endMark = 0;  // sink frames written when its last frame went in
    };
    struct Event {
        enum class Kind { BufferDone, IsRunning } kind;
        AudioQueueBufferRef buffer = nullptr;
    };
    struct Listener {
        AudioQueuePropertyListenerProc proc;
        void* userData;
    };

    // ---- The queue's thread. ----
    void run();
    bool deliverNextEvent(std::unique_lock<std::mutex>& lock);
    void retirePlayed();
    bool writePending();
    bool decodeNext(std::unique_lock<std::mutex>& lock);
    bool drainIfDue(std::unique_lock<std::mutex>& lock);
    void waitForWork(std::unique_lock<std::mutex>& lock);
    void onDecodedFrame(const AVFrame& frame);
    void publishOpenedSink();

    // ---- Under mutex_, any thread. ----
    BufferRecord* recordFor(AudioQueueBufferRef buffer);
    Entry* entryFor(uint64_t seq);
    std::vector<AudioQueueBufferRef> handBackAll();
    void waitForBufferDoneInFlight(std::unique_lock<std::mutex>& lock);
    void deliverHandedBack(const std::vector<AudioQueueBufferRef>& buffers);
    uint64_t sinkHeld();

    // Set at creation, then only read.
    const AudioStreamBasicDescription format_;
    const AudioQueueOutputCallback callback_;
    void* const userData_;

    std::mutex mutex_;
    std::condition_variable wake_;  // work for the thread, or an in-flight callback finished

    // Guarded by mutex_.
    std::thread::id threadId_;
    std::vector<std::unique_ptr<BufferRecord>> buffers_;
    std::deque<Entry> entries_;
    std::deque<Event> events_;
    std::vector<Listener> listeners_;
    bool bufferDoneInFlight_ = false;  // the thread is inside a buffer-done callback
    bool sleepingForEntries_ = false;  // the thread sleeps and would decode a new entry at once
    bool running_ = false;
    bool paused_ = false;
    bool disposed_ = false;
    bool deleteOnExit_ = false;
    bool flushRequested_ = false;
    uint64_t flushThrough_ = 0;  // drain the decoder once entries up to this seq are decoded
    bool stopRequested_ = false;
    uint64_t stopThrough_ = 0;  // deferred stop: once entries up to this seq have played
    uint64_t nextSeq_ = 1;
    uint64_t generation_ = 0;  // bumped by immediate stop and dispose
    std::vector<uint8_t> cookie_;
    bool cookieChanged_ = false;
    std::shared_ptr<AudioSink> sink_;  // null until open; then only used under mutex_
    AudioSinkFormat sinkFormat_;
    uint64_t startBase_ = 0;      // sink frames consumed when the queue last started
    std::vector<float> pending_;  // converted audio not yet taken by the sink
    size_t pendingOffset_ = 0;
    uint64_t pendingSeq_ = 0;  // entry the pending audio belongs to; 0 for a drained tail
    std::vector<std::vector<uint8_t>> spareBytes_;
    std::vector<float> volumeScratch_;

    // The queue's thread only.
    std::shared_ptr<AudioSink> unopenedSink_;  // from the factory, until opened
    std::shared_ptr<AudioSink> openedSink_;    // opened outside the lock, not yet published
    AudioSinkFormat openedFormat_;
    std::unique_ptr<AudioDecoder> decoder_;
    unsigned resampledLink_ = 0;
    std::unique_ptr<AudioResampler> resampler_;
    uint64_t threadGeneration_ = 0;
    std::vector<float> converted_;

    // Set by the queue's thread at the first decoded frame; read by any thread.
    std::atomic<bool> decodedAudio_{false};

    std::thread thread_;  // last: started once everything above exists
};

}  // namespace audio
