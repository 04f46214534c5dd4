// Playback control and timing: pause, stop, seek, progress, duration and the bit rate behind
// them, and the two notifications from outside (the queue's is-running, interruptions).

#include <algorithm>
#include <cmath>
#include <limits>

#include "platform/Log.h"
#include "platform/audio/AudioSession.h"
#include "platform/http/HlsReadStream.h"
#include "platform/http/ReadStream.h"
#include "streaming/AudioStreamer.h"

namespace {

// Converts toward zero like a C cast, but a value out of range saturates instead of being
// undefined, and NaN gives 0: seek times come from callers and from divisions by estimates.
template <typename Int>
Int saturatingTruncate(double value) {
    if (std::isnan(value)) return 0;
    if (value <= double(std::numeric_limits<Int>::min())) return std::numeric_limits<Int>::min();
    if (value >= double(std::numeric_limits<Int>::max())) return std::numeric_limits<Int>::max();
    return static_cast<Int>(value);
}

}  // namespace

double AudioStreamer::calculatedBitRate() const {
    const double duration = packetDuration.load();
    // The count is read before the total: the total is at least as new as the count.
    const uint64_t count = processedPacketsCount.load();
    if (duration != 0 && count > kBitRateMinSamplePackets) {
        const uint64_t averagePacketByteSize = processedPacketsSizeTotal.load() / count;
        return 8.0 * static_cast<double>(averagePacketByteSize) / duration;
    }
    return static_cast<double>(bitRate_.load());
}

double AudioStreamer::duration() const {
    if (const double playlistLength = hlsDuration.load(); playlistLength > 0) return playlistLength;
    const double calculatedBitRateValue = calculatedBitRate();
    const int32_t length = fileLength.load();
    if (calculatedBitRateValue == 0 || length == 0) return 0.0;
    const auto audioBytes = static_cast<int32_t>(int64_t(length) - dataOffset.load());
    return static_cast<double>(audioBytes) / (calculatedBitRateValue * 0.125);
}

double AudioStreamer::progress() {
    std::lock_guard lock(streamerLock);
    const AudioStreamerState current = state_.load();
    if (sampleRate > 0 && !isFinishing() &&
        (current == AS_STATE_PLAYING || current == AS_STATE_PAUSED ||
         current == AS_STATE_BUFFERING)) {
        audio::AudioTimeStamp queueTime;
        bool discontinuity = false;
        err = audio::AudioQueueGetCurrentTime(audioQueue, nullptr, &queueTime, &discontinuity);
        if (err == audio::kAudioQueueErr_NotRunning) return lastProgress;
        if (err) {
            failWithErrorCode(AS_GET_AUDIO_TIME_FAILED);
            // The time stamp means nothing after a failure: keep the last position.
            return lastProgress;
        }
        double progressValue = seekTime + queueTime.mSampleTime / sampleRate;
        if (progressValue < 0.0) progressValue = 0.0;
        lastProgress = progressValue;
        return progressValue;
    }
    return lastProgress;
}

void AudioStreamer::notePlayedPosition() {
    if (!audioQueue || !(sampleRate > 0)) return;
    audio::AudioTimeStamp queueTime;
    bool discontinuity = false;
    if (audio::AudioQueueGetCurrentTime(audioQueue, nullptr, &queueTime, &discontinuity) != 0)
        return;
    lastProgress = std::max(0.0, seekTime + queueTime.mSampleTime / sampleRate);
}

void AudioStreamer::seekToTime(double newSeekTime) {
    std::lock_guard lock(streamerLock);
    seekWasRequested = true;
    // A time before the start is the start (unchecked, it would land at the end).
    requestedSeekTime = newSeekTime > 0 ? newSeekTime : 0.0;
    // The streaming thread carries the seek out as soon as its event loop returns.
    wakeStreamingThread();

    // With a full ring the thread waits for a buffer instead, for up to a buffer's play time.
    // A seek that will stop the queue (and so hand every buffer back) may end that wait; one
    // that will be ignored must not, or the thread would fill a buffer still queued.
    if (seekCanBeCarriedOut()) {
        std::lock_guard buffersLock(queueBuffersMutex);
        seekInterruptsBuffering = true;
        queueBufferReadyCondition.notify_all();
    }
}

bool AudioStreamer::seekCanBeCarriedOut() const {
    // Once true in a run this stays true: the length and the bit rate are never taken back.
    // While the estimate is pending the loop holds the seek back, but the packets that arrive
    // meanwhile are still counted, so it is carried out within a few packets.
    return hlsDuration.load() > 0 || (calculatedBitRate() != 0.0 && fileLength.load() > 0);
}

bool AudioStreamer::bitRateEstimateIsPending() const {
    // The first packets set the all-ones placeholder, and the estimate replaces it only after
    // more than 50 described packets. A seek computed from the placeholder would take the
    // resource for a fraction of a second long and jump to its end, so it waits for the
    // estimate, which the next few packets bring. Packets without descriptions are never
    // counted: for them the placeholder stands and nothing waits.
    const uint64_t count = processedPacketsCount.load();
    return bitRate_.load() == UINT32_MAX && packetDuration.load() != 0 && count > 0 &&
           count <= kBitRateMinSamplePackets;
}

void AudioStreamer::settleBitRateEstimateAtEnd() {
    // At the end of the data every packet of the resource has been counted: a resource of 50
    // described packets or fewer will never bring the estimate, so its own average is the bit
    // rate. Without this a seek in it would wait for good and its duration would read 0.
    if (!bitRateEstimateIsPending()) return;
    const uint64_t count = processedPacketsCount.load();
    const uint64_t averagePacketByteSize = processedPacketsSizeTotal.load() / count;
    const double bits = 8.0 * static_cast<double>(averagePacketByteSize) / packetDuration.load();
    if (bits >= 1.0 && bits < double(UINT32_MAX)) bitRate_.store(static_cast<uint32_t>(bits));
}

void AudioStreamer::setStartPosition(double seconds, double bitRate) {
    std::lock_guard lock(streamerLock);
    if (!(bitRate >= 1.0) || bitRate >= double(UINT32_MAX)) {
        startPosition.reset();
        return;
    }
    startPosition.emplace(seconds > 0 ? seconds : 0.0, static_cast<uint32_t>(bitRate));
}

void AudioStreamer::applyStartPosition() {
    if (!startPosition) return;
    const auto [seconds, bits] = *startPosition;
    startPosition.reset();
    // The bit rate stands in for the estimate, so nothing waits for one; the packets that
    // come before the seek are dropped as those of an old position are.
    bitRate_.store(bits);
    seekWasRequested = true;
    requestedSeekTime = seconds;
    seekWaitsForFormat = true;
    seekInterruptsBuffering = true;
    lastProgress = seconds;
}

void AudioStreamer::internalSeekToTime(double newSeekTime) {
    std::lock_guard lock(streamerLock);
    if (!seekCanBeCarriedOut()) {
        // A run started at a position on a resource without a length: it plays from here.
        seekInterruptsBuffering = false;
        return;
    }

    packetsToDrop = 0;
    if (hlsDuration.load() > 0) {
        positionHlsSeek(newSeekTime);
    } else {
        positionByteSeek(newSeekTime);
    }

    // Paused, or still loading the position of a seek made while paused.
    const AudioStreamerState before = state_.load();
    seekWhilePaused =
        before == AS_STATE_PAUSED || (seekWhilePaused && before == AS_STATE_WAITING_FOR_DATA);
    endOfStreamWhilePaused = false;

    // A paused position shows where playing will resume, not where it was paused.
    if (seekWhilePaused) lastProgress = seekTime;

    // Closing the stream also makes enqueueBuffer return without waiting.
    if (stream) {
        stream->close();
        stream.reset();
    }

    setState(AS_STATE_STOPPING);
    stopReason = AS_STOP_REASON_TEMPORARY;

    // A queue exists only once packets came; before that there is nothing to stop.
    if (audioQueue) {
        err = audio::AudioQueueStop(audioQueue, true);
        if (err) {
            failWithErrorCode(AS_AUDIO_QUEUE_STOP_FAILED);
            return;
        }
    }
    // The partly filled buffer holds audio from before the seek; it must not be played after it.
    bytesFilled = 0;
    packetsFilled = 0;
    // Every buffer is back (the immediate stop returned them), so packets may be queued again.
    seekInterruptsBuffering = false;

    // The result needs no check: without a stream the loop's next run reports that nothing is
    // scheduled, and the thread cleans up.
    (void)openReadStream();
}

void AudioStreamer::positionByteSeek(double newSeekTime) {
    // Proportional position in the audio data.
    const int32_t length = fileLength.load();
    const int32_t offset = dataOffset.load();
    seekByteOffset = saturatingTruncate<int32_t>(offset + (newSeekTime / duration()) *
                                                              (double(length) - double(offset)));

    // Not closer to the end than two buffers. Compared unsigned, so a negative offset takes the
    // limit, and a negative limit (a resource shorter than two buffers) never applies.
    const auto limit = static_cast<int32_t>(int64_t(length) - 2 * int64_t(packetBufferSize));
    if (static_cast<uint32_t>(seekByteOffset) > static_cast<uint32_t>(limit)) {
        seekByteOffset = limit;
    }

    seekTime = newSeekTime;
    // Where the parser knows the exact start of the packet, start there and correct the time.
    const double calculatedBitRateValue = calculatedBitRate();
    if (packetDuration.load() > 0 && calculatedBitRateValue > 0 && audioFileStream) {
        const int64_t seekPacket =
            saturatingTruncate<int64_t>(std::floor(newSeekTime / packetDuration.load()));
        uint32_t ioFlags = 0;
        int64_t packetAlignedByteOffset = 0;
        err = audio::AudioFileStreamSeek(audioFileStream, seekPacket, &packetAlignedByteOffset,
                                         &ioFlags);
        const int64_t alignedPosition = int64_t(offset) + packetAlignedByteOffset;
        if (!err && !(ioFlags & audio::kAudioFileStreamSeekFlag_OffsetIsEstimated) &&
            packetAlignedByteOffset >= 0 && alignedPosition <= INT32_MAX) {
            const int64_t bytesBetween = int64_t(seekByteOffset - offset) - packetAlignedByteOffset;
            seekTime += double(bytesBetween) * -8.0 / calculatedBitRateValue;
            seekByteOffset = static_cast<int32_t>(alignedPosition);
        }
        // A failed or estimated parser seek is no error: the proportional offset stands.
    }
}

void AudioStreamer::positionHlsSeek(double newSeekTime) {
    // Not closer to the end than a little audio, so that the seek has something to play.
    const double target = std::min(newSeekTime, std::max(0.0, hlsDuration.load() - 0.5));
    platform::http::HlsReadStream* hls = hlsStream();
    const double segmentStart = hls ? hls->segmentStartAt(target) : 0.0;
    // The segment is read from its start; its packets before the time are dropped as they
    // come, so playback resumes within a packet of it.
    const double packet = packetDuration.load();
    if (packet > 0 && target > segmentStart) {
        packetsToDrop = saturatingTruncate<uint64_t>(std::floor((target - segmentStart) / packet));
    }
    hlsStartSeconds = segmentStart;
    seekTime = segmentStart + double(packetsToDrop) * packet;
    // The parser's state belongs to the segment before: it starts afresh on the new one.
    discontinuous = true;
}

platform::http::HlsReadStream* AudioStreamer::hlsStream() const {
    return hlsPlaylist ? dynamic_cast<platform::http::HlsReadStream*>(stream.get()) : nullptr;
}

void AudioStreamer::noteHlsDuration() {
    if (platform::http::HlsReadStream* hls = hlsStream()) hlsDuration.store(hls->duration());
}

void AudioStreamer::pause() {
    std::lock_guard lock(streamerLock);
    if (state_.load() == AS_STATE_PLAYING) {
        err = audio::AudioQueuePause(audioQueue);
        if (err) {
            failWithErrorCode(AS_AUDIO_QUEUE_PAUSE_FAILED);
            return;
        }
        setState(AS_STATE_PAUSED);
    } else if (state_.load() == AS_STATE_PAUSED) {
        resumeFromPause();
    } else if (state_.load() == AS_STATE_WAITING_FOR_DATA && seekWhilePaused) {
        // Resumed while the paused seek still loads: it plays as soon as it is loaded.
        seekWhilePaused = false;
    }
}

void AudioStreamer::resumeFromPause() {
    if (seekWhilePaused) {
        // The queue holding the new position has never run: its start is announced by the
        // queue, as at the first start.
        seekWhilePaused = false;
        setState(AS_STATE_WAITING_FOR_QUEUE_TO_START);
        err = audio::AudioQueueStart(audioQueue, nullptr);
        if (err) {
            failWithErrorCode(AS_AUDIO_QUEUE_START_FAILED);
            return;
        }
    } else {
        err = audio::AudioQueueStart(audioQueue, nullptr);
        if (err) {
            failWithErrorCode(AS_AUDIO_QUEUE_START_FAILED);
            return;
        }
        setState(AS_STATE_PLAYING);
    }
    if (endOfStreamWhilePaused) {
        endOfStreamWhilePaused = false;
        playOutAndStop();
    }
}

void AudioStreamer::stop() {
    {
        std::lock_guard lock(streamerLock);
        const AudioStreamerState current = state_.load();
        if (audioQueue &&
            (current == AS_STATE_PLAYING || current == AS_STATE_PAUSED ||
             current == AS_STATE_BUFFERING || current == AS_STATE_WAITING_FOR_QUEUE_TO_START)) {
            // A queue loaded by a paused seek never ran, so no is-running will announce its
            // stop: the streamer is stopped at once.
            const bool neverStarted = current == AS_STATE_PAUSED && seekWhilePaused;
            setState(neverStarted ? AS_STATE_STOPPED : AS_STATE_STOPPING);
            stopReason = AS_STOP_REASON_USER;
            err = audio::AudioQueueStop(audioQueue, true);
            if (err) {
                failWithErrorCode(AS_AUDIO_QUEUE_STOP_FAILED);
                return;
            }
        } else if (current != AS_STATE_IDLE) {
            setState(AS_STATE_STOPPED);
            stopReason = AS_STOP_REASON_USER;
        }
        seekWasRequested = false;
        seekInterruptsBuffering = false;
        seekWhilePaused = false;
        endOfStreamWhilePaused = false;
        wakeStreamingThread();

        // The streaming thread itself (say, dropping the last reference) must not wait for its
        // own end.
        if (std::this_thread::get_id() == internalThread) return;
    }

    // Without any lock, so that the streaming thread can finish. Woken by setState.
    std::unique_lock idle(idleMutex);
    idleCondition.wait(idle, [this] { return state_.load() == AS_STATE_IDLE; });
}

void AudioStreamer::handlePropertyChangeForQueue(audio::AudioQueueRef inAQ,
                                                 audio::AudioQueuePropertyID propertyID) {
    // On the queue's thread.
    std::lock_guard lock(streamerLock);
    if (propertyID != audio::kAudioQueueProperty_IsRunning) return;

    switch (state_.load()) {
        case AS_STATE_STOPPING: {
            // The notification of a start can arrive after a stop was asked for (an end of stream
            // right after a late start): only a queue that no longer runs has stopped. Without
            // this check the clean-up would cut off what is still queued.
            if (inAQ == audioQueue) {
                uint32_t isRunning = 0;
                uint32_t size = sizeof(isRunning);
                if (audio::AudioQueueGetProperty(inAQ, audio::kAudioQueueProperty_IsRunning,
                                                 &isRunning, &size) == 0 &&
                    isRunning != 0) {
                    return;
                }
                if (stopReason == AS_STOP_REASON_EOF && !queueHasDecodedAudio(inAQ)) {
                    // Every packet of the run failed to decode: nothing was played, and an end
                    // that looks normal would hide it.
                    failWithErrorCode(AS_AUDIO_STREAMER_FAILED);
                    stopReason = AS_STOP_REASON_ERROR;
                }
            }
            setState(AS_STATE_STOPPED);
            wakeStreamingThread();
            break;
        }
        case AS_STATE_WAITING_FOR_QUEUE_TO_START:
            // The platform's queue thread needed a run loop of its own here; ours does not.
            setState(AS_STATE_PLAYING);
            break;
        default: platform::log("AudioQueue changed state in unexpected way."); break;
    }
}

bool AudioStreamer::queueHasDecodedAudio(audio::AudioQueueRef queue) {
    uint32_t decoded = 0;
    uint32_t size = sizeof(decoded);
    // A queue that cannot say is taken at its word of having played.
    if (audio::AudioQueueGetProperty(queue, audio::kAudioQueueProperty_HasDecodedAudio, &decoded,
                                     &size) != 0) {
        return true;
    }
    return decoded != 0;
}

void AudioStreamer::handleInterruptionChangeToState(uint32_t inInterruptionState) {
    // pause toggles: an interruption pauses a playing streamer and its end resumes it.
    if (inInterruptionState == audio::kAudioSessionBeginInterruption) {
        pause();
    } else if (inInterruptionState == audio::kAudioSessionEndInterruption) {
        (void)audio::AudioSessionSetActive(true);
        pause();
    }
}
