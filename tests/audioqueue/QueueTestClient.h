#pragma once
// A client of the output queue that behaves as the streaming engine does: a ring of buffers
// with in-use flags guarded by queueBuffersMutex, a buffer-done callback that takes only that
// mutex, an is-running callback that takes the (recursive) streamer lock, and stop and dispose
// called while holding the streamer lock. It records what the queue does for the tests to check.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <span>
#include <thread>
#include <vector>

#include "platform/audio/queue/AudioQueue.h"

namespace queuetest {

using namespace std::chrono_literals;

// Polls `done` until it holds or `timeout` passes; true when it held.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s);

class QueueTestClient {
public:
    struct Return {
        int index = -1;
        std::thread::id thread;
        uint64_t probe = 0;  // what `returnProbe` said at the time
        std::chrono::steady_clock::time_point when;
    };

    QueueTestClient(const audio::AudioStreamBasicDescription& format, uint32_t bufferSize,
                    int bufferCount = 16);
    ~QueueTestClient();  // disposes (if still needed) and joins

    audio::AudioQueueRef queue() const { return queue_; }
    audio::OSStatus creationStatus() const { return creationStatus_; }

    // Copies the bytes into a free buffer and enqueues it; the buffer's index, or -1 when no
    // buffer is free or the queue refused it.
    int enqueue(std::span<const uint8_t> bytes,
                std::span<const audio::AudioStreamPacketDescription> descs = {});
    audio::OSStatus lastEnqueueStatus() const { return lastEnqueueStatus_; }

    // Stop and dispose as the engine calls them: under the streamer lock.
    audio::OSStatus stopLocked(bool immediate);
    audio::OSStatus disposeLocked();
    // Dispose under the lock, then join with no lock held.
    void disposeAndJoin();

    int buffersUsed();
    int freeBuffers();
    std::vector<Return> returns();
    int doubleReturns() const { return doubleReturns_.load(); }
    int foreignReturns() const { return foreignReturns_.load(); }
    int isRunningCalls() const { return isRunningCalls_.load(); }
    std::vector<uint32_t> runningValuesSeen();
    std::vector<std::thread::id> isRunningThreads();
    bool waitForBuffersUsed(int count, std::chrono::milliseconds timeout = 10s);
    bool waitForFreeBuffer(std::chrono::milliseconds timeout = 10s);
    bool waitForIsRunningCalls(int count, std::chrono::milliseconds timeout = 10s);
    double sampleTime();  // -1 when the queue says it is not running

    // Read inside every buffer-done callback (the sink's consumed count, say).
    std::function<uint64_t()> returnProbe;

    std::recursive_mutex streamerLock;

private:
    static void bufferDone(void* client, audio::AudioQueueRef queue,
                           audio::AudioQueueBufferRef buffer);
    static void isRunningChanged(void* client, audio::AudioQueueRef queue,
                                 audio::AudioQueuePropertyID id);

    audio::AudioQueueRef queue_ = nullptr;
    audio::OSStatus creationStatus_ = 0;
    audio::OSStatus lastEnqueueStatus_ = 0;
    bool disposed_ = false;
    std::vector<audio::AudioQueueBufferRef> buffers_;

    std::mutex queueBuffersMutex_;  // after streamerLock
    std::condition_variable bufferReady_;
    std::vector<bool> inuse_;
    int buffersUsed_ = 0;
    std::vector<Return> returns_;
    std::vector<uint32_t> runningValues_;          // guarded by streamerLock
    std::vector<std::thread::id> runningThreads_;  // guarded by streamerLock
    std::atomic<int> doubleReturns_{0};
    std::atomic<int> foreignReturns_{0};
    std::atomic<int> isRunningCalls_{0};
};

}  // namespace queuetest
