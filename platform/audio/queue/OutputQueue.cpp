#include "platform/audio/queue/OutputQueue.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>

#include "platform/Log.h"

namespace audio {

namespace {

// The shortest sleep between looks at a sink. Devices consume whole periods, so an estimate
// can come due before the frames have visibly gone; this keeps such a wait from spinning.
constexpr auto kMinimumWait = std::chrono::milliseconds(5);

// Spare byte vectors kept for reuse by later enqueues: enough for the engine's whole ring.
constexpr size_t kSpareByteVectors = 32;

// One line per process: a program that installs no sink would say it for every queue.
std::atomic<bool> gNoSinkLogged{false};

}  // namespace

OutputQueue::OutputQueue(const AudioStreamBasicDescription& format,
                         AudioQueueOutputCallback callback, void* userData,
                         std::shared_ptr<AudioSink> sink)
    : format_(format), callback_(callback), userData_(userData), unopenedSink_(std::move(sink)) {
    std::lock_guard lock(mutex_);
    thread_ = std::thread([this] { run(); });
    threadId_ = thread_.get_id();
}

OutputQueue::~OutputQueue() {
    if (thread_.joinable()) thread_.join();
}

// ---------------------------------------------------------------------------------------------
// Calls.

OSStatus OutputQueue::addIsRunningListener(AudioQueuePropertyListenerProc proc, void* userData) {
    if (!proc) return kAudioQueueErr_InvalidParameter;
    std::lock_guard lock(mutex_);
    if (disposed_) return kAudioQueueErr_DisposalPending;
    listeners_.push_back({proc, userData});
    return noErr;
}

OSStatus OutputQueue::isRunning(uint32_t* outRunning) {
    std::lock_guard lock(mutex_);
    if (disposed_) return kAudioQueueErr_DisposalPending;
    *outRunning = running_ ? 1 : 0;
    return noErr;
}

OSStatus OutputQueue::hasDecodedAudio(uint32_t* outDecoded) {
    std::lock_guard lock(mutex_);
    if (disposed_) return kAudioQueueErr_DisposalPending;
    *outDecoded = decodedAudio_.load() ? 1 : 0;
    return noErr;
}

OSStatus OutputQueue::setMagicCookie(const void* data, uint32_t size) {
    if (!data && size > 0) return kAudioQueueErr_InvalidParameter;
    std::lock_guard lock(mutex_);
    if (disposed_) return kAudioQueueErr_DisposalPending;
    const auto* bytes = static_cast<const uint8_t*>(data);
    cookie_.assign(bytes, bytes + size);
    cookieChanged_ = true;
    return noErr;
}

OSStatus OutputQueue::allocateBuffer(uint32_t size, AudioQueueBufferRef* outBuffer) {
    std::lock_guard lock(mutex_);
    if (disposed_) return kAudioQueueErr_DisposalPending;
    auto record = std::make_unique<BufferRecord>();
    record->storage = std::make_unique<uint8_t[]>(size);
    record->buffer.mAudioDataBytesCapacity = size;
    record->buffer.mAudioData = record->storage.get();
    *outBuffer = &record->buffer;
    buffers_.push_back(std::move(record));
    return noErr;
}

OSStatus OutputQueue::enqueue(AudioQueueBufferRef buffer, uint32_t descCount,
                              const AudioStreamPacketDescription* descs) {
    if (descCount > 0 && !descs) return kAudioQueueErr_InvalidParameter;
    std::lock_guard lock(mutex_);
    if (disposed_) return kAudioQueueErr_DisposalPending;
    BufferRecord* record = recordFor(buffer);
    if (!record) return kAudioQueueErr_InvalidBuffer;
    if (record->queued) return kAudioQueueErr_BufferInQueue;
    const uint32_t size = buffer->mAudioDataByteSize;
    if (size > buffer->mAudioDataBytesCapacity) return kAudioQueueErr_InvalidParameter;
    // Descriptions come from the network's packet framing: one that points outside the buffer
    // would make the decoder read foreign memory.
    for (uint32_t i = 0; i < descCount; ++i) {
        const auto& d = descs[i];
        if (d.mStartOffset < 0 || uint64_t(d.mStartOffset) + d.mDataByteSize > size) {
            return kAudioQueueErr_InvalidParameter;
        }
    }

    Entry entry;
    entry.seq = nextSeq_++;
    entry.buffer = buffer;
    if (!spareBytes_.empty()) {
        entry.bytes = std::move(spareBytes_.back());
        spareBytes_.pop_back();
    }
    const auto* data = static_cast<const uint8_t*>(buffer->mAudioData);
    entry.bytes.assign(data, data + size);
    entry.descs.assign(descs, descs + descCount);
    entries_.push_back(std::move(entry));
    record->queued = true;
    // While the sink is full the thread has no use for the entry until its next due time;
    // waking it for every buffer would double the wake-ups of steady playback.
    if (sleepingForEntries_) wake_.notify_all();
    return noErr;
}

OSStatus OutputQueue::start() {
    std::lock_guard lock(mutex_);
    if (disposed_) return kAudioQueueErr_DisposalPending;
    if (!running_) {
        running_ = true;
        paused_ = false;
        startBase_ = sink_ ? sink_->framesConsumed() : 0;
        if (sink_) sink_->setPlaying(true);
        events_.push_back({Event::Kind::IsRunning});
    } else if (paused_) {
        paused_ = false;
        if (sink_) sink_->setPlaying(true);
    }
    wake_.notify_all();
    return noErr;
}

OSStatus OutputQueue::pause() {
    std::lock_guard lock(mutex_);
    if (disposed_) return kAudioQueueErr_DisposalPending;
    if (running_ && !paused_) {
        paused_ = true;
        if (sink_) sink_->setPlaying(false);
    }
    return noErr;
}

OSStatus OutputQueue::flush() {
    std::lock_guard lock(mutex_);
    if (disposed_) return kAudioQueueErr_DisposalPending;
    flushRequested_ = true;
    flushThrough_ = nextSeq_ - 1;
    wake_.notify_all();
    return noErr;
}

OSStatus OutputQueue::stop(bool immediate) {
    std::unique_lock lock(mutex_);
    if (disposed_) return kAudioQueueErr_DisposalPending;
    if (!immediate && running_) {
        // Play out what is queued, the decoder's tail included, then report not running. A
        // paused queue resumes: otherwise it would never finish, and the caller would wait for
        // its stop forever.
        stopRequested_ = true;
        stopThrough_ = nextSeq_ - 1;
        flushRequested_ = true;
        flushThrough_ = nextSeq_ - 1;
        if (paused_) {
            paused_ = false;
            if (sink_) sink_->setPlaying(true);
        }
        wake_.notify_all();
        return noErr;
    }
    // Immediate, or a queue that is not running and so would never play what it holds.
    const auto handedBack = handBackAll();
    if (running_) {
        running_ = false;
        paused_ = false;
        events_.push_back({Event::Kind::IsRunning});
    }
    wake_.notify_all();
    waitForBufferDoneInFlight(lock);
    lock.unlock();
    deliverHandedBack(handedBack);
    return noErr;
}

OSStatus OutputQueue::dispose() {
    std::unique_lock lock(mutex_);
    if (disposed_) return kAudioQueueErr_DisposalPending;
    const auto handedBack = handBackAll();
    events_.clear();  // no is-running notification starts after dispose
    running_ = false;
    paused_ = false;
    disposed_ = true;
    wake_.notify_all();
    waitForBufferDoneInFlight(lock);
    lock.unlock();
    deliverHandedBack(handedBack);
    return noErr;
}

OSStatus OutputQueue::currentTime(AudioTimeStamp* outTimeStamp) {
    std::lock_guard lock(mutex_);
    if (disposed_) return kAudioQueueErr_DisposalPending;
    if (!running_) return kAudioQueueErr_NotRunning;
    AudioTimeStamp stamp;
    if (sink_) {
        // Counted in the stream's own frames, whatever rate the sink runs at.
        const double played = double(sink_->framesConsumed() - startBase_);
        const double streamRate =
            format_.mSampleRate > 0 ? format_.mSampleRate : double(sinkFormat_.sampleRate);
        stamp.mSampleTime = played * streamRate / double(sinkFormat_.sampleRate);
    }
    stamp.mHostTime = uint64_t(std::chrono::duration_cast<std::chrono::nanoseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
    stamp.mRateScalar = 1.0;
    stamp.mFlags = 1u | 2u;  // sample time and host time valid
    *outTimeStamp = stamp;
    return noErr;
}

void OutputQueue::joinAndDelete() {
    {
        std::unique_lock lock(mutex_);
        if (!disposed_) {
            lock.unlock();
            dispose();
            lock.lock();
        }
        if (std::this_thread::get_id() == threadId_) {
            // Called from one of our own callbacks: the thread cannot join itself.
            deleteOnExit_ = true;
            thread_.detach();
            return;
        }
    }
    thread_.join();
    delete this;
}

// ---------------------------------------------------------------------------------------------
// Helpers under mutex_.

OutputQueue::BufferRecord* OutputQueue::recordFor(AudioQueueBufferRef buffer) {
    for (auto& record : buffers_) {
        if (&record->buffer == buffer) return record.get();
    }
    return nullptr;
}

OutputQueue::Entry* OutputQueue::entryFor(uint64_t seq) {
    for (auto& entry : entries_) {
        if (entry.seq == seq) return &entry;
    }
    return nullptr;
}

uint64_t OutputQueue::sinkHeld() { return sink_->framesWritten() - sink_->framesConsumed(); }

std::vector<AudioQueueBufferRef> OutputQueue::handBackAll() {
    std::vector<AudioQueueBufferRef> handedBack;
    // Played buffers whose callbacks have not started come first: they were queued earlier.
    std::deque<Event> keep;
    for (const auto& event : events_) {
        if (event.kind == Event::Kind::BufferDone) {
            handedBack.push_back(event.buffer);
        } else {
            keep.push_back(event);
        }
    }
    events_.swap(keep);
    for (auto& entry : entries_) {
        handedBack.push_back(entry.buffer);
        if (spareBytes_.size() < kSpareByteVectors && entry.bytes.capacity() > 0) {
            spareBytes_.push_back(std::move(entry.bytes));
        }
    }
    entries_.clear();
    for (auto buffer : handedBack) recordFor(buffer)->queued = false;

    pending_.clear();
    pendingOffset_ = 0;
    flushRequested_ = false;
    stopRequested_ = false;
    ++generation_;
    if (sink_) {
        sink_->setPlaying(false);
        sink_->discard();
    }
    return handedBack;
}

void OutputQueue::waitForBufferDoneInFlight(std::unique_lock<std::mutex>& lock) {
    // A buffer-done callback the thread has begun belongs to a buffer no longer in our lists;
    // it must finish before we return, so that every buffer is back when we do. Waiting is safe:
    // that callback takes no lock our caller may hold (see AudioQueue.h). From inside that very
    // callback there is nothing to wait for.
    if (std::this_thread::get_id() == threadId_) return;
    wake_.wait(lock, [this] { return !bufferDoneInFlight_; });
}

void OutputQueue::deliverHandedBack(const std::vector<AudioQueueBufferRef>& buffers) {
    for (auto buffer : buffers) callback_(userData_, this, buffer);
}

// ---------------------------------------------------------------------------------------------
// The queue's thread.

void OutputQueue::run() {
    pthread_setname_np(pthread_self(), "AudioQueue");
    std::unique_lock lock(mutex_);
    while (!disposed_) {
        if (deliverNextEvent(lock)) continue;
        if (threadGeneration_ != generation_) {
            // An immediate stop: what the decoder and converter hold belongs to the old audio.
            threadGeneration_ = generation_;
            if (decoder_) decoder_->reset();
            if (resampler_) resampler_->reset();
        }
        retirePlayed();
        if (!events_.empty()) continue;
        if (writePending()) continue;
        if (decodeNext(lock)) continue;
        if (drainIfDue(lock)) continue;
        waitForWork(lock);
    }
    const bool deleteSelf = deleteOnExit_;
    lock.unlock();
    if (deleteSelf) delete this;
}

bool OutputQueue::deliverNextEvent(std::unique_lock<std::mutex>& lock) {
    if (events_.empty()) return false;
    const Event event = events_.front();
    events_.pop_front();
    std::vector<Listener> listeners;
    if (event.kind == Event::Kind::BufferDone) {
        recordFor(event.buffer)->queued = false;
        bufferDoneInFlight_ = true;
    } else {
        listeners = listeners_;
    }
    lock.unlock();
    if (event.kind == Event::Kind::BufferDone) {
        callback_(userData_, this, event.buffer);
    } else {
        for (const auto& listener : listeners) {
            listener.proc(listener.userData, this, kAudioQueueProperty_IsRunning);
        }
    }
    lock.lock();
    bufferDoneInFlight_ = false;
    wake_.notify_all();
    return true;
}

void OutputQueue::retirePlayed() {
    if (!running_ || paused_) return;
    const uint64_t consumed = sink_ ? sink_->framesConsumed() : 0;
    while (!entries_.empty() && entries_.front().stage == Stage::Written &&
           entries_.front().endMark <= consumed) {
        events_.push_back({Event::Kind::BufferDone, entries_.front().buffer});
        entries_.pop_front();
    }
    if (stopRequested_ && !flushRequested_ && pending_.empty() &&
        (entries_.empty() || entries_.front().seq > stopThrough_) &&
        (!sink_ || consumed >= sink_->framesWritten())) {
        stopRequested_ = false;
        running_ = false;
        paused_ = false;
        if (sink_) sink_->setPlaying(false);
        events_.push_back({Event::Kind::IsRunning});
    }
}

bool OutputQueue::writePending() {
    if (pending_.empty() || !sink_) return false;
    const size_t channels = size_t(sinkFormat_.channels);
    const size_t remaining = (pending_.size() - pendingOffset_) / channels;
    const uint64_t held = sinkHeld();
    const size_t capacity = sink_->capacityFrames();
    const size_t offered = std::min<size_t>(remaining, capacity > held ? capacity - held : 0);
    if (offered > 0) {
        const float* samples = pending_.data() + pendingOffset_;
        const float volume = OutputVolumeForQueues();
        if (volume != 1.0f) {
            volumeScratch_.assign(samples, samples + offered * channels);
            for (float& s : volumeScratch_) s *= volume;
            samples = volumeScratch_.data();
        }
        pendingOffset_ += sink_->write(samples, offered) * channels;
    }
    if (pendingOffset_ < pending_.size()) return false;
    pending_.clear();
    pendingOffset_ = 0;
    if (pendingSeq_ != 0) {
        if (Entry* entry = entryFor(pendingSeq_)) {
            entry->stage = Stage::Written;
            entry->endMark = sink_->framesWritten();
        }
    }
    return true;
}

bool OutputQueue::decodeNext(std::unique_lock<std::mutex>& lock) {
    if (!pending_.empty()) return false;
    if (sink_ && sinkHeld() >= sink_->capacityFrames()) return false;
    auto it = std::find_if(entries_.begin(), entries_.end(),
                           [](const Entry& e) { return e.stage == Stage::Waiting; });
    if (it == entries_.end()) return false;

    it->stage = Stage::Decoding;
    const uint64_t seq = it->seq;
    const uint64_t generation = generation_;
    std::vector<uint8_t> bytes = std::move(it->bytes);
    std::vector<AudioStreamPacketDescription> descs = std::move(it->descs);
    std::optional<std::vector<uint8_t>> cookie;
    if (cookieChanged_) {
        cookie = cookie_;
        cookieChanged_ = false;
    }
    lock.unlock();

    // Outside the lock: decoding takes a while, and callers must not wait for it.
    if (!decoder_) decoder_ = std::make_unique<AudioDecoder>(format_);
    if (cookie) decoder_->setMagicCookie(std::move(*cookie));
    converted_.clear();
    decoder_->decode(bytes, descs, [this](const AVFrame& frame) { onDecodedFrame(frame); });

    lock.lock();
    publishOpenedSink();
    if (spareBytes_.size() < kSpareByteVectors) spareBytes_.push_back(std::move(bytes));
    // A stop handed the buffer back while we decoded: its audio is no longer wanted.
    if (generation != generation_) return true;
    Entry* entry = entryFor(seq);
    if (!entry) return true;
    if (converted_.empty() || !sink_) {
        entry->stage = Stage::Written;
        entry->endMark = sink_ ? sink_->framesWritten() : 0;
    } else {
        entry->stage = Stage::Converted;
        pending_.swap(converted_);
        pendingOffset_ = 0;
        pendingSeq_ = seq;
    }
    return true;
}

bool OutputQueue::drainIfDue(std::unique_lock<std::mutex>& lock) {
    if (!flushRequested_ || !pending_.empty()) return false;
    const uint64_t through = flushThrough_;
    for (const auto& entry : entries_) {
        if (entry.seq <= through &&
            (entry.stage == Stage::Waiting || entry.stage == Stage::Decoding)) {
            return false;
        }
    }
    const uint64_t generation = generation_;
    lock.unlock();

    converted_.clear();
    if (decoder_) decoder_->drain([this](const AVFrame& frame) { onDecodedFrame(frame); });
    if (resampler_) resampler_->drain(converted_);

    lock.lock();
    publishOpenedSink();
    if (generation != generation_) return true;
    // A flush that came in meanwhile covers later entries and stays requested.
    if (flushThrough_ == through) flushRequested_ = false;
    if (!converted_.empty() && sink_) {
        pending_.swap(converted_);
        pendingOffset_ = 0;
        pendingSeq_ = 0;
    }
    return true;
}

void OutputQueue::waitForWork(std::unique_lock<std::mutex>& lock) {
    std::optional<std::chrono::nanoseconds> wait;
    auto dueAt = [&](uint64_t frame) {
        const auto due = sink_->timeUntilConsumed(frame);
        if (!due) return;
        const auto bounded = std::max<std::chrono::nanoseconds>(*due, kMinimumWait);
        wait = wait ? std::min(*wait, bounded) : bounded;
    };
    bool belowRefillLevel = true;
    if (sink_ && running_ && !paused_) {
        const uint64_t written = sink_->framesWritten();
        // Refill once half the sink's buffer has played, so each wake-up writes a good amount.
        const uint64_t half = sink_->capacityFrames() / 2;
        const uint64_t refillFrame = written > half ? written - half : 0;
        belowRefillLevel = sinkHeld() <= half;
        // Played buffers go back together with the next refill: one wake-up for both, and
        // for several buffers, while the sink still holds half its audio for the time the
        // client takes to queue more. A buffer that ends after that point goes back when it
        // ends (a ring holding less audio than half the sink gets each buffer back at once).
        if (!entries_.empty() && entries_.front().stage == Stage::Written) {
            dueAt(std::max(entries_.front().endMark, refillFrame));
        }
        const bool moreToWrite =
            !pending_.empty() || std::any_of(entries_.begin(), entries_.end(), [](const Entry& e) {
                return e.stage == Stage::Waiting;
            });
        if (moreToWrite) dueAt(refillFrame);
        if (stopRequested_) dueAt(written);
    }
    // A new entry wakes the thread only when it would be decoded at once: when nothing else is
    // due, or when the sink is below its refill level. Otherwise the refill wake-up takes it.
    sleepingForEntries_ = pending_.empty() && (!wait || belowRefillLevel);
    if (wait) {
        wake_.wait_for(lock, *wait);
    } else {
        wake_.wait(lock);
    }
    sleepingForEntries_ = false;
}

void OutputQueue::onDecodedFrame(const AVFrame& frame) {
    if (frame.sample_rate <= 0 || frame.ch_layout.nb_channels <= 0) return;
    if (frame.nb_samples > 0) decodedAudio_.store(true);
    if (!resampler_) {
        // The first audio decides the sink's format: the decoder's own rate and channels.
        const AudioSinkFormat wanted{frame.sample_rate, frame.ch_layout.nb_channels};
        auto sink = std::move(unopenedSink_);
        const std::optional<AudioSinkFormat> obtained = sink ? sink->open(wanted) : std::nullopt;
        if (!obtained) {
            // Which sink to fall back to is the installer's choice (FallbackAudioSink); here
            // the audio is dropped and the buffers come back as they are decoded.
            if (!gNoSinkLogged.exchange(true)) {
                const std::string reason = sink ? sink->lastError() : std::string();
                platform::logf("No audio output could be opened%s%s; the audio is dropped.",
                               reason.empty() ? "" : ": ", reason.c_str());
            }
            return;
        }
        openedSink_ = std::move(sink);
        openedFormat_ = *obtained;
        resampler_ = std::make_unique<AudioResampler>(*obtained);
    }
    if (decoder_ && decoder_->link() != resampledLink_) {
        // A chained stream's next link is converted from its own first sample on, as ffmpeg
        // would convert it on its own, not on the sample grid the previous link left.
        resampler_->drain(converted_);
        resampler_->reset();
        resampledLink_ = decoder_->link();
    }
    resampler_->convert(frame, converted_);
}

void OutputQueue::publishOpenedSink() {
    if (!openedSink_) return;
    sink_ = std::move(openedSink_);
    sinkFormat_ = openedFormat_;
    sink_->setPlaying(running_ && !paused_);
}

}  // namespace audio
