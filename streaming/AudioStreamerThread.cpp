// The streaming thread: start, the thread body with its event loop and clean-up, the HTTP read
// stream, and the handling of its events (bytes to the parser, end of stream, errors).

#include <pthread.h>
#include <sched.h>

#include <cctype>
#include <cinttypes>
#include <climits>
#include <cstdio>

#include "platform/LocalizedString.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "platform/URLPath.h"
#include "platform/audio/AudioSession.h"
#include "platform/http/HeaderLines.h"
#include "platform/http/HlsReadStream.h"
#include "platform/http/Networking.h"
#include "platform/http/Playlist.h"
#include "platform/http/ReadStream.h"
#include "streaming/AudioStreamer.h"
#include "streaming/StreamerAssert.h"

namespace {

constexpr double kRunLoopSliceSeconds = 0.25;
constexpr long kReadChunkBytes = 2048;
constexpr int kReadStreamEvents = platform::http::kReadStreamEventHasBytesAvailable |
                                  platform::http::kReadStreamEventErrorOccurred |
                                  platform::http::kReadStreamEventEndEncountered;

// The download and the filling of the ring run well ahead of playback (the ring holds over a
// second), so nothing is gained when this thread preempts another the moment it is woken; the
// queue's thread hands several buffers back in a row, and without the hint each one would
// switch to this thread and back. Needs no privilege; where it is refused nothing changes.
void markAsBatchWork() {
    sched_param parameters{};
    (void)pthread_setschedparam(pthread_self(), SCHED_BATCH, &parameters);
}

bool equalsIgnoringCase(const std::string& a, const char* b) {
    size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return i == a.size() && b[i] == '\0';
}

}  // namespace

// ---- start ----

void AudioStreamer::start() {
    std::lock_guard lock(streamerLock);
    if (state_.load() == AS_STATE_PAUSED) {
        pause();
        return;
    }
    if (state_.load() != AS_STATE_IDLE) return;

    STREAMER_ASSERT(platform::MainQueue::main().isMainThread(),
                    "Playback can only be started from the main thread.");
    // Every run starts at byte 0: a seek of the run before no longer offsets the progress.
    seekTime = 0;
    lastProgress = 0;
    applyStartPosition();
    notificationCenter = &platform::NotificationCenter::defaultCenter();
    // The network library initialises itself (and the TLS library under it) once per process.
    // Done here, on the main thread, so that no streaming thread does it: state the TLS library
    // ties to the initialising thread would otherwise go with a thread that ends at any time.
    platform::initNetworking();
    setState(AS_STATE_STARTING_THREAD);

    // The thread owns a reference for as long as it runs, and counts itself out only after
    // it has let go of the streamer.
    streaming_detail::streamingThreadStarted();
    try {
        std::thread thread([self = shared_from_this()]() mutable {
            markAsBatchWork();
            self->startInternal();
            self.reset();
            // Its descriptors closed before the thread counts itself out.
            platform::http::RunLoop::releaseCurrent();
            streaming_detail::streamingThreadEnded();
        });
        internalThread = thread.get_id();
        thread.detach();
    } catch (const std::system_error& error) {
        streaming_detail::streamingThreadEnded();
        platform::logf("### Could not start the audio thread: %s", error.what());
        setState(AS_STATE_IDLE);
    }
}

// ---- The thread body ----

void AudioStreamer::startInternal() {
    std::shared_ptr<platform::http::RunLoop> loop;
    bool opened = false;
    {
        std::lock_guard lock(streamerLock);
        if (state_.load() != AS_STATE_STARTING_THREAD) {
            // A stop came first. Nothing has been opened, so there is nothing to clean up.
            if (state_.load() != AS_STATE_STOPPING && state_.load() != AS_STATE_STOPPED) {
                platform::logf("### Not starting audio thread. State code is: %ld",
                               static_cast<long>(state_.load()));
            }
            setState(AS_STATE_IDLE);
            return;
        }

        // The session's statuses are ignored: the desktop has no session to refuse us.
        (void)audio::AudioSessionInitialize(nullptr, nullptr, MyAudioSessionInterruptionListener,
                                            this);
        const uint32_t sessionCategory = audio::kAudioSessionCategory_MediaPlayback;
        (void)audio::AudioSessionSetProperty(audio::kAudioSessionProperty_AudioCategory,
                                             sizeof(sessionCategory), &sessionCategory);
        (void)audio::AudioSessionSetActive(true);

        // queueBuffersMutex and queueBufferReadyCondition live as long as the object.
        loop = platform::http::RunLoop::current();
        runLoop = loop;
        resetPlaylist();
        hlsDuration.store(0);
        opened = openReadStream();
    }

    if (opened) {
        bool isRunning = true;
        do {
            // Events of the read stream are handled inside this call.
            isRunning = loop->runOnce(kRunLoopSliceSeconds);

            std::lock_guard lock(streamerLock);
            reportBufferMismatch();
            // The ended playlist's download leaves nothing scheduled: the entry's keeps it going.
            if (openPendingPlaylistEntry()) isRunning = true;
            reopenDownloadAtRequestedOffset();
            if (seekWasRequested && !bitRateEstimateIsPending() && !seekWaitsForFormat) {
                internalSeekToTime(requestedSeekTime);
                seekWasRequested = false;
            }

            // Every queued buffer has been played: pause until enough are queued again.
            if (buffersUsed.load() == 0 && state_.load() == AS_STATE_PLAYING) {
                err = audio::AudioQueuePause(audioQueue);
                if (err) {
                    failWithErrorCode(AS_AUDIO_QUEUE_PAUSE_FAILED);
                    break;
                }
                setState(AS_STATE_BUFFERING);
            }
        } while (isRunning && !runLoopShouldExit());
    }

    cleanUpStreamingThread();
}

void AudioStreamer::cleanUpStreamingThread() {
    audio::AudioQueueRef disposedQueue = nullptr;
    {
        std::lock_guard lock(streamerLock);
        if (stream) {
            stream->close();
            stream.reset();
        }
        if (audioFileStream) {
            err = audio::AudioFileStreamClose(audioFileStream);
            audioFileStream = nullptr;
            if (err) failWithErrorCode(AS_FILE_STREAM_CLOSE_FAILED);
        }
        if (audioQueue) {
            err = audio::AudioQueueDispose(audioQueue, true);
            // Only a disposed queue may be joined; one whose disposal failed is left to itself.
            if (!err) disposedQueue = audioQueue;
            audioQueue = nullptr;
            if (err) failWithErrorCode(AS_AUDIO_QUEUE_DISPOSE_FAILED);
        }
        (void)audio::AudioSessionSetActive(false);
        httpHeaders_.reset();
        bytesFilled = 0;
        packetsFilled = 0;
        seekByteOffset = 0;
        packetBufferSize = 0;
        seekInterruptsBuffering = false;
        bufferMismatch = false;
        seekWhilePaused = false;
        endOfStreamWhilePaused = false;
        requestedByteOffset.reset();
        seekWaitsForFormat = false;
        hlsStartSeconds = 0;
        packetsToDrop = 0;
        resetPlaylist();
        // The next run starts a new parser at byte 0: whatever gap this run was waiting to
        // bridge is gone with it.
        discontinuous = false;
    }

    // Without any lock: a callback of the disposed queue may still be finishing, and it may
    // need the streamer lock. Once joined, no callback of this run can reach the streamer,
    // neither after it is destroyed nor during a later run.
    if (disposedQueue) audio::AudioQueueJoinDisposed(disposedQueue);

    std::lock_guard lock(streamerLock);
    runLoop.reset();
    setState(AS_STATE_IDLE);
    internalThread = std::thread::id();
}

// ---- The read stream ----

bool AudioStreamer::reopensAtRequestedOffset() const {
    // A seek replaces the download anyway, and a finishing run needs none.
    // A seek that waits for the format needs this download to bring it.
    return requestedByteOffset && !(seekWasRequested && !seekWaitsForFormat) && !isFinishing() &&
           stream && *requestedByteOffset <= INT32_MAX;
}

void AudioStreamer::reopenDownloadAtRequestedOffset() {
    std::lock_guard lock(streamerLock);
    if (!requestedByteOffset) return;
    const bool reopens = reopensAtRequestedOffset();
    const int64_t offset = *requestedByteOffset;
    requestedByteOffset.reset();
    if (!reopens) return;
    stream->close();
    stream.reset();
    // A ranged request from there; its first bytes reach the parser flagged as a gap, which
    // the parser takes to begin where it asked.
    seekByteOffset = static_cast<int32_t>(offset);
    (void)openReadStream();
}

bool AudioStreamer::openReadStream() {
    std::lock_guard lock(streamerLock);
    STREAMER_ASSERT(std::this_thread::get_id() == internalThread,
                    "File stream download must be started on the internalThread");
    STREAMER_ASSERT(!stream, "Download stream already initialized");

    platform::http::ReadStreamOptions options;
    // Live stations then send their now-playing titles, taken out before the parser.
    options.requestIcyMetadata = true;
    if (fileLength.load() > 0 && seekByteOffset > 0) {
        // The end is the length itself: HTTP reads a last position past the end as "to the end".
        char range[64];
        std::snprintf(range, sizeof range, "bytes=%ld-%ld", static_cast<long>(seekByteOffset),
                      static_cast<long>(fileLength.load()));
        options.rangeHeader = range;
        discontinuous = true;
    }

    const std::string address = streamURL.empty() ? url : streamURL;
    if (hlsPlaylist) {
        stream = std::make_unique<platform::http::HlsReadStream>(address, *hlsPlaylist, options,
                                                                 hlsStartSeconds);
    } else {
        stream = platform::http::ReadStream::create(address, options);
    }
    if (!stream || !stream->setShouldAutoredirect(true)) {
        presentAlertWithTitle(
            platform::localizedString("File Error", "Errors"),
            platform::localizedString("Unable to configure network read stream.", "Errors"));
        return false;
    }
    // HTTPS needs nothing here: the read stream verifies certificates and host names.

    setState(AS_STATE_WAITING_FOR_DATA);

    if (!stream->open()) {
        stream.reset();
        presentAlertWithTitle(
            platform::localizedString("File Error", "Errors"),
            platform::localizedString("Unable to configure network read stream.", "Errors"));
        return false;
    }

    stream->setClient(kReadStreamEvents, ASReadStreamCallBack, this);
    stream->scheduleWithRunLoop(runLoop);
    return true;
}

void AudioStreamer::handleReadFromStream(platform::http::ReadStream* aStream, int eventType) {
    // Only this thread replaces `stream`, so the comparison needs no lock.
    if (aStream != stream.get()) return;

    switch (eventType) {
        case platform::http::kReadStreamEventErrorOccurred:
            if (!tryNextPlaylistEntry()) failWithErrorCode(AS_AUDIO_DATA_NOT_FOUND);
            break;
        case platform::http::kReadStreamEventEndEncountered: handleEndOfStream(); break;
        case platform::http::kReadStreamEventHasBytesAvailable: handleBytesAvailable(); break;
        default: break;
    }
}

void AudioStreamer::letParserFinish() {
    {
        std::lock_guard lock(streamerLock);
        if (isFinishing() || readingPlaylist || !audioFileStream) return;
    }
    // Outside the lock, as every parse: the last packet may wait for a free buffer.
    (void)audio::AudioFileStreamParseBytes(audioFileStream, 0, nullptr,
                                           audio::kAudioFileStreamParseFlag_EndOfData);
}

void AudioStreamer::handleEndOfStream() {
    {
        // The parser asked for bytes from elsewhere (an Ogg seek's page): the end of this
        // download is not the end of the data, and the loop's next turn fetches them.
        std::lock_guard lock(streamerLock);
        if (!readingPlaylist && reopensAtRequestedOffset()) return;
    }
    letParserFinish();
    bool flushPartialBuffer = false;
    {
        std::lock_guard lock(streamerLock);
        if (isFinishing()) return;
        if (readingPlaylist) {
            followPlaylist();
            return;
        }
        settleBitRateEstimateAtEnd();
        // A seek that waited for the estimate replaces this stream on the loop's next turn;
        // ending the run now would drop it, and with it everything after the seek. One that
        // waits for the format will never get it from a download that brought no packet.
        if (seekWasRequested && seekCanBeCarriedOut() && !seekWaitsForFormat) return;
        flushPartialBuffer = bytesFilled != 0;
        // Flushing first lets the start rule start a queue that never reached its threshold.
        if (flushPartialBuffer && state_.load() == AS_STATE_WAITING_FOR_DATA) {
            setState(AS_STATE_FLUSHING_EOF);
        }
    }
    // Outside the lock: it may wait for a free buffer.
    if (flushPartialBuffer) enqueueBuffer();

    std::lock_guard lock(streamerLock);
    if (state_.load() == AS_STATE_WAITING_FOR_DATA && audioQueue && buffersUsed.load() > 0) {
        // Fewer buffers than the start threshold are queued, and the last enqueue (a full
        // description array) left no partial buffer to flush: start what is queued.
        if (seekWhilePaused) {
            setState(AS_STATE_PAUSED);
            endOfStreamWhilePaused = true;
            return;
        }
        setState(AS_STATE_WAITING_FOR_QUEUE_TO_START);
        err = audio::AudioQueueStart(audioQueue, nullptr);
        if (err) {
            failWithErrorCode(AS_AUDIO_QUEUE_START_FAILED);
            return;
        }
    }
    if (state_.load() == AS_STATE_WAITING_FOR_DATA) {
        // The queue never started and no partial buffer was left: no audio came.
        if (!tryNextPlaylistEntry()) failWithErrorCode(AS_AUDIO_DATA_NOT_FOUND);
        return;
    }
    if (isFinishing()) return;

    if (!audioQueue) {
        setState(AS_STATE_STOPPED);
        stopReason = AS_STOP_REASON_EOF;
        return;
    }
    if (state_.load() == AS_STATE_PAUSED) {
        // Playing out now would end the pause: a paused queue resumes to finish its stop.
        endOfStreamWhilePaused = true;
        return;
    }
    playOutAndStop();
}

void AudioStreamer::playOutAndStop() {
    std::lock_guard lock(streamerLock);
    err = audio::AudioQueueFlush(audioQueue);
    if (err) {
        failWithErrorCode(AS_AUDIO_QUEUE_FLUSH_FAILED);
        return;
    }
    setState(AS_STATE_STOPPING);
    stopReason = AS_STOP_REASON_EOF;
    // Not immediate: everything queued is still played.
    err = audio::AudioQueueStop(audioQueue, false);
    if (err) failWithErrorCode(AS_AUDIO_QUEUE_FLUSH_FAILED);
}

void AudioStreamer::handleBytesAvailable() {
    {
        std::lock_guard lock(streamerLock);
        if (!httpHeaders_) {
            // The first response of this run; later ones (after a seek) change nothing here.
            httpHeaders_ = stream->responseHeaders();
            // A playlist (not one inside another) is read whole, and its entry played instead.
            readingPlaylist = playlistEntries.empty() && !hlsPlaylist &&
                              platform::http::isPlaylistResponse(
                                  streamURL, headerNamed(*httpHeaders_, "Content-Type"));
            if (!readingPlaylist) {
                if (seekByteOffset == 0) fileLength.store(fileLengthFromHeaders(*httpHeaders_));
                noteHlsDuration();
                noteStationHeaders(*httpHeaders_);
            }
        }
        if (readingPlaylist) {
            readPlaylistBytes();
            return;
        }

        if (!audioFileStream) {
            err = audio::AudioFileStreamOpen(
                this, MyPropertyListenerProc, MyPacketsProc,
                hintForFileExtension(platform::pathExtensionOfURL(streamURL)), &audioFileStream);
            if (err) {
                failWithErrorCode(AS_FILE_STREAM_OPEN_FAILED);
                return;
            }
        }
    }

    uint8_t bytes[kReadChunkBytes];
    long length = 0;
    {
        std::lock_guard lock(streamerLock);
        if (isFinishing() || !stream->hasBytesAvailable()) return;
        length = stream->read(bytes, kReadChunkBytes);
        noteStreamTitles(stream->takeStreamTitles());
        if (length == -1) {
            failWithErrorCode(AS_AUDIO_DATA_NOT_FOUND);
            return;
        }
        if (length <= 0) return;
    }

    // Outside the lock: the parser calls back into the packet handler, which may block in
    // enqueueBuffer until the queue's thread frees a buffer.
    const uint32_t flags = discontinuous ? audio::kAudioFileStreamParseFlag_Discontinuity : 0;
    const audio::OSStatus status = audio::AudioFileStreamParseBytes(
        audioFileStream, static_cast<uint32_t>(length), bytes, flags);
    if (status) {
        std::lock_guard lock(streamerLock);
        err = status;
        failWithErrorCode(AS_FILE_STREAM_PARSE_BYTES_FAILED);
    }
}

std::string AudioStreamer::headerNamed(const HeaderMap& headers, const char* wanted) {
    // Header names are case-insensitive in HTTP.
    for (const auto& [name, text] : headers) {
        if (equalsIgnoringCase(name, wanted)) return text;
    }
    return {};
}

int32_t AudioStreamer::fileLengthFromHeaders(const HeaderMap& headers) {
    const std::string field = headerNamed(headers, "Content-Length");
    if (field.empty()) return 0;
    const std::string* value = &field;
    // A length that does not fit in the signed 32-bit field is treated as absent, not wrapped.
    const std::optional<uint64_t> length = platform::http::contentLength(*value);
    if (!length || *length > uint64_t(INT32_MAX)) return 0;
    return static_cast<int32_t>(*length);
}

audio::AudioFileTypeID AudioStreamer::hintForFileExtension(const std::string& fileExtension) {
    return audio::AudioFileTypeHintForExtension(fileExtension);
}
