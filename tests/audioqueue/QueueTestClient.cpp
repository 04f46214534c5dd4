#include "QueueTestClient.h"

#include <cstring>

namespace queuetest {

using namespace audio;

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

QueueTestClient::QueueTestClient(const AudioStreamBasicDescription& format, uint32_t bufferSize,
                                 int bufferCount) {
    creationStatus_ = AudioQueueNewOutput(&format, &bufferDone, this, nullptr, nullptr, 0, &queue_);
    if (creationStatus_ != noErr) return;
    AudioQueueAddPropertyListener(queue_, kAudioQueueProperty_IsRunning, &isRunningChanged, this);
    for (int i = 0; i < bufferCount; ++i) {
        AudioQueueBufferRef buffer = nullptr;
        AudioQueueAllocateBuffer(queue_, bufferSize, &buffer);
        buffers_.push_back(buffer);
    }
    inuse_.assign(buffers_.size(), false);
}

QueueTestClient::~QueueTestClient() {
    if (queue_) disposeAndJoin();
}

int QueueTestClient::enqueue(std::span<const uint8_t> bytes,
                             std::span<const AudioStreamPacketDescription> descs) {
    int index = -1;
    {
        std::lock_guard lock(queueBuffersMutex_);
        for (size_t i = 0; i < inuse_.size(); ++i) {
            if (!inuse_[i]) {
                index = int(i);
                inuse_[i] = true;
                ++buffersUsed_;
                break;
            }
        }
    }
    if (index < 0) return -1;
    AudioQueueBufferRef buffer = buffers_[size_t(index)];
    if (!bytes.empty()) std::memcpy(buffer->mAudioData, bytes.data(), bytes.size());
    buffer->mAudioDataByteSize = uint32_t(bytes.size());
    lastEnqueueStatus_ = AudioQueueEnqueueBuffer(queue_, buffer, uint32_t(descs.size()),
                                                 descs.empty() ? nullptr : descs.data());
    if (lastEnqueueStatus_ != noErr) {
        std::lock_guard lock(queueBuffersMutex_);
        inuse_[size_t(index)] = false;
        --buffersUsed_;
        return -1;
    }
    return index;
}

OSStatus QueueTestClient::stopLocked(bool immediate) {
    std::lock_guard lock(streamerLock);
    return AudioQueueStop(queue_, immediate);
}

OSStatus QueueTestClient::disposeLocked() {
    std::lock_guard lock(streamerLock);
    disposed_ = true;
    return AudioQueueDispose(queue_, true);
}

void QueueTestClient::disposeAndJoin() {
    if (!disposed_) disposeLocked();
    AudioQueueJoinDisposed(queue_);
    queue_ = nullptr;
}

int QueueTestClient::buffersUsed() {
    std::lock_guard lock(queueBuffersMutex_);
    return buffersUsed_;
}

int QueueTestClient::freeBuffers() {
    std::lock_guard lock(queueBuffersMutex_);
    return int(inuse_.size()) - buffersUsed_;
}

std::vector<QueueTestClient::Return> QueueTestClient::returns() {
    std::lock_guard lock(queueBuffersMutex_);
    return returns_;
}

std::vector<uint32_t> QueueTestClient::runningValuesSeen() {
    std::lock_guard lock(streamerLock);
    return runningValues_;
}

std::vector<std::thread::id> QueueTestClient::isRunningThreads() {
    std::lock_guard lock(streamerLock);
    return runningThreads_;
}

bool QueueTestClient::waitForBuffersUsed(int count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(queueBuffersMutex_);
    return bufferReady_.wait_for(lock, timeout, [&] { return buffersUsed_ == count; });
}

bool QueueTestClient::waitForFreeBuffer(std::chrono::milliseconds timeout) {
    std::unique_lock lock(queueBuffersMutex_);
    return bufferReady_.wait_for(lock, timeout, [&] { return buffersUsed_ < int(inuse_.size()); });
}

bool QueueTestClient::waitForIsRunningCalls(int count, std::chrono::milliseconds timeout) {
    return waitUntil([&] { return isRunningCalls_.load() >= count; }, timeout);
}

double QueueTestClient::sampleTime() {
    AudioTimeStamp stamp;
    if (AudioQueueGetCurrentTime(queue_, nullptr, &stamp, nullptr) != noErr) return -1;
    return stamp.mSampleTime;
}

void QueueTestClient::bufferDone(void* client, AudioQueueRef, AudioQueueBufferRef buffer) {
    auto* self = static_cast<QueueTestClient*>(client);
    const auto when = std::chrono::steady_clock::now();
    const uint64_t probe = self->returnProbe ? self->returnProbe() : 0;
    std::unique_lock lock(self->queueBuffersMutex_);
    int index = -1;
    for (size_t i = 0; i < self->buffers_.size(); ++i) {
        if (self->buffers_[i] == buffer) index = int(i);
    }
    if (index < 0) {
        ++self->foreignReturns_;
    } else if (!self->inuse_[size_t(index)]) {
        ++self->doubleReturns_;
    } else {
        self->inuse_[size_t(index)] = false;
        --self->buffersUsed_;
    }
    self->returns_.push_back({index, std::this_thread::get_id(), probe, when});
    // Notified after unlocking, so the woken thread does not sleep again on the mutex.
    lock.unlock();
    self->bufferReady_.notify_all();
}

void QueueTestClient::isRunningChanged(void* client, AudioQueueRef queue, AudioQueuePropertyID) {
    auto* self = static_cast<QueueTestClient*>(client);
    // As the engine's handler does: everything under the streamer lock.
    std::lock_guard lock(self->streamerLock);
    uint32_t running = 0;
    uint32_t size = sizeof running;
    if (AudioQueueGetProperty(queue, kAudioQueueProperty_IsRunning, &running, &size) == noErr) {
        self->runningValues_.push_back(running);
    }
    self->runningThreads_.push_back(std::this_thread::get_id());
    ++self->isRunningCalls_;
}

}  // namespace queuetest
