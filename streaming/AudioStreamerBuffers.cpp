// The buffer pipeline: parser properties, packets copied into the ring of output buffers, the
// start rule, and buffers coming back from the queue's thread.

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "platform/Log.h"
#include "streaming/AudioStreamer.h"

namespace {

// The parser reports offsets and lengths as 64-bit numbers; the streamer keeps signed 32-bit
// byte positions. A value that does not fit is treated as absent, never wrapped.
bool fitsInInt32(int64_t value) { return value >= 0 && value <= INT32_MAX; }

}  // namespace

void AudioStreamer::handlePropertyChangeForFileStream(audio::AudioFileStreamID inAudioFileStream,
                                                      audio::AudioFileStreamPropertyID inPropertyID,
                                                      uint32_t* /*ioFlags*/) {
    std::lock_guard lock(streamerLock);
    if (isFinishing()) return;

    switch (inPropertyID) {
        case audio::kAudioFileStreamProperty_ReadyToProducePackets:
            discontinuous = true;
            // Without a length a resource can never seek, so nothing is indexed for seeks: a
            // live stream would otherwise grow the index for as long as it plays.
            if (fileLength.load() == 0) {
                const uint32_t wanted = 0;
                (void)audio::AudioFileStreamSetProperty(
                    inAudioFileStream, audio::kAudioFileStreamProperty_SeekIndexWanted,
                    sizeof wanted, &wanted);
            }
            break;

        case audio::kAudioFileStreamProperty_RequestedByteOffset: {
            // Only a resource with a length can be fetched from elsewhere; without one the
            // parser keeps the data aside until its index has come.
            int64_t offset = 0;
            uint32_t offsetSize = sizeof(offset);
            if (fileLength.load() > 0 &&
                audio::AudioFileStreamGetProperty(
                    inAudioFileStream, audio::kAudioFileStreamProperty_RequestedByteOffset,
                    &offsetSize, &offset) == 0 &&
                offset > 0 && offset < fileLength.load()) {
                requestedByteOffset = offset;
            }
            break;
        }

        case audio::kAudioFileStreamProperty_DataOffset: {
            int64_t offset = 0;
            uint32_t offsetSize = sizeof(offset);
            err = audio::AudioFileStreamGetProperty(inAudioFileStream,
                                                    audio::kAudioFileStreamProperty_DataOffset,
                                                    &offsetSize, &offset);
            if (err) {
                failWithErrorCode(AS_FILE_STREAM_GET_PROPERTY_FAILED);
                break;
            }
            if (!fitsInInt32(offset)) break;
            dataOffset.store(static_cast<int32_t>(offset));
            if (audioDataByteCount != 0) {
                const int64_t length = offset + static_cast<int64_t>(audioDataByteCount);
                if (fitsInInt32(length)) fileLength.store(static_cast<int32_t>(length));
            }
            break;
        }

        case audio::kAudioFileStreamProperty_AudioDataByteCount: {
            uint32_t byteCountSize = sizeof(audioDataByteCount);
            err = audio::AudioFileStreamGetProperty(
                inAudioFileStream, audio::kAudioFileStreamProperty_AudioDataByteCount,
                &byteCountSize, &audioDataByteCount);
            if (err) {
                failWithErrorCode(AS_FILE_STREAM_GET_PROPERTY_FAILED);
                break;
            }
            // Set even before the data offset is known; 'doff' corrects it when it comes.
            if (audioDataByteCount <= uint64_t(INT32_MAX)) {
                const int64_t length = dataOffset.load() + static_cast<int64_t>(audioDataByteCount);
                if (fitsInInt32(length)) fileLength.store(static_cast<int32_t>(length));
            }
            break;
        }

        case audio::kAudioFileStreamProperty_DataFormat:
            // Only the first description counts.
            if (asbd.mSampleRate == 0) {
                uint32_t asbdSize = sizeof(asbd);
                err = audio::AudioFileStreamGetProperty(inAudioFileStream,
                                                        audio::kAudioFileStreamProperty_DataFormat,
                                                        &asbdSize, &asbd);
                if (err) {
                    failWithErrorCode(AS_FILE_STREAM_GET_PROPERTY_FAILED);
                } else {
                    takeConstantBitRate();
                }
            }
            break;

        case audio::kAudioFileStreamProperty_FormatList: {
            uint32_t formatListSize = 0;
            bool writable = false;
            err = audio::AudioFileStreamGetPropertyInfo(inAudioFileStream,
                                                        audio::kAudioFileStreamProperty_FormatList,
                                                        &formatListSize, &writable);
            if (err) {
                failWithErrorCode(AS_FILE_STREAM_GET_PROPERTY_FAILED);
                break;
            }
            std::vector<uint8_t> formatList(formatListSize);
            err = audio::AudioFileStreamGetProperty(inAudioFileStream,
                                                    audio::kAudioFileStreamProperty_FormatList,
                                                    &formatListSize, formatList.data());
            if (err) {
                failWithErrorCode(AS_FILE_STREAM_GET_PROPERTY_FAILED);
                break;
            }
            // High-efficiency AAC: play the format the list names, not the core's.
            const size_t itemCount = std::min<size_t>(formatListSize, formatList.size()) /
                                     sizeof(audio::AudioFormatListItem);
            for (size_t i = 0; i < itemCount; ++i) {
                audio::AudioFormatListItem item;
                std::memcpy(&item, formatList.data() + i * sizeof(item), sizeof(item));
                if (item.mASBD.mFormatID == audio::kAudioFormatMPEG4AAC_HE) {
                    asbd = item.mASBD;
                    break;
                }
            }
            break;
        }

        default: break;
    }
}

void AudioStreamer::takeConstantBitRate() {
    // Linear PCM comes without packet descriptions, so no estimate ever forms; its bit rate is
    // exact from the description, and the duration and seeks follow from it.
    if (asbd.mFormatID != audio::kAudioFormatLinearPCM || asbd.mBytesPerFrame == 0 ||
        !(asbd.mSampleRate > 0)) {
        return;
    }
    const double bits = double(asbd.mBytesPerFrame) * asbd.mSampleRate * 8.0;
    if (bits < double(UINT32_MAX)) bitRate_.store(static_cast<uint32_t>(bits));
}

void AudioStreamer::handleAudioPackets(
    const void* inInputData, uint32_t inNumberBytes, uint32_t inNumberPackets,
    const audio::AudioStreamPacketDescription* inPacketDescriptions) {
    const auto* input = static_cast<const uint8_t*>(inInputData);
    {
        std::lock_guard lock(streamerLock);
        if (isFinishing()) return;
        if (bitRate_.load() == 0) bitRate_.store(UINT32_MAX);
        discontinuous = false;
        // A failure here makes isFinishing true, which every step below checks.
        if (!audioQueue) createQueue();
    }

    if (inPacketDescriptions) {
        for (uint32_t i = 0; i < inNumberPackets; ++i) {
            const uint32_t packetSize = inPacketDescriptions[i].mDataByteSize;
            const int64_t packetOffset = inPacketDescriptions[i].mStartOffset;

            if (processedPacketsCount.load() < kBitRateSamplePackets) {
                processedPacketsSizeTotal.fetch_add(packetSize);
                processedPacketsCount.fetch_add(1);
            }

            uint32_t spaceLeft = 0;
            {
                std::lock_guard lock(streamerLock);
                if (isFinishing()) return;
                // Counted above, so that a seek waiting for the bit-rate estimate gets it.
                if (seekInterruptsBuffering.load()) continue;
                // Before an HLS seek's time, in the segment that holds it.
                if (packetsToDrop > 0) {
                    --packetsToDrop;
                    continue;
                }
                if (packetSize > packetBufferSize) failWithErrorCode(AS_AUDIO_BUFFER_TOO_SMALL);
                spaceLeft = packetBufferSize - bytesFilled;
            }

            // Outside the lock: waits for a free buffer when the ring is full.
            if (spaceLeft < packetSize) enqueueBuffer();

            {
                std::lock_guard lock(streamerLock);
                if (isFinishing()) return;
                if (seekInterruptsBuffering.load()) continue;
                if (uint64_t(bytesFilled) + packetSize > packetBufferSize) return;
                // A description pointing outside what the parser handed over is skipped.
                if (packetOffset < 0 || uint64_t(packetOffset) + packetSize > inNumberBytes)
                    continue;

                audio::AudioQueueBufferRef fillBuf = audioQueueBuffer[fillBufferIndex];
                std::memcpy(static_cast<uint8_t*>(fillBuf->mAudioData) + bytesFilled,
                            input + packetOffset, packetSize);
                packetDescs[packetsFilled] = inPacketDescriptions[i];
                packetDescs[packetsFilled].mStartOffset = bytesFilled;
                bytesFilled += packetSize;
                packetsFilled += 1;
            }

            if (packetsFilled >= kAQPacketDescCapacity) enqueueBuffer();
        }
        return;
    }

    // Constant-size packets come without descriptions and are not counted for the bit rate.
    uint32_t offset = 0;
    uint32_t remaining = inNumberBytes;
    const uint32_t frameBytes = asbd.mBytesPerPacket;
    while (remaining > 0) {
        // An empty buffer is never handed over, even when the batch is larger than a buffer.
        if (bytesFilled > 0 && packetBufferSize - bytesFilled < remaining) enqueueBuffer();

        std::lock_guard lock(streamerLock);
        if (shouldDropPackets()) return;
        if (bytesFilled >= packetBufferSize) return;

        uint32_t copySize = std::min(remaining, packetBufferSize - bytesFilled);
        if (frameBytes > 1 && copySize < remaining) {
            // Whole frames only, so that no frame is split between two buffers.
            const uint32_t wholeFrames = copySize - copySize % frameBytes;
            if (wholeFrames > 0) {
                copySize = wholeFrames;
            } else if (bytesFilled > 0) {
                // The enqueue above did not happen: playback is ending or seeking.
                return;
            }
            // Otherwise the buffer is smaller than one frame: it takes what fits.
        }

        audio::AudioQueueBufferRef fillBuf = audioQueueBuffer[fillBufferIndex];
        std::memcpy(static_cast<uint8_t*>(fillBuf->mAudioData) + bytesFilled, input + offset,
                    copySize);
        bytesFilled += copySize;
        packetsFilled = 0;
        remaining -= copySize;
        offset += copySize;
    }
}

void AudioStreamer::enqueueBuffer() {
    {
        std::lock_guard lock(streamerLock);
        // During a seek there is no read stream: nothing is queued and nothing is waited for.
        if (isFinishing() || !stream || !audioQueue) return;

        {
            std::lock_guard buffersLock(queueBuffersMutex);
            inuse[fillBufferIndex] = true;
            buffersUsed.fetch_add(1);
        }

        audio::AudioQueueBufferRef fillBuf = audioQueueBuffer[fillBufferIndex];
        fillBuf->mAudioDataByteSize = bytesFilled;
        if (packetsFilled > 0) {
            err = audio::AudioQueueEnqueueBuffer(audioQueue, fillBuf, packetsFilled, packetDescs);
        } else {
            err = audio::AudioQueueEnqueueBuffer(audioQueue, fillBuf, 0, nullptr);
        }
        if (err) {
            failWithErrorCode(AS_AUDIO_QUEUE_ENQUEUE_FAILED);
            return;
        }

        // The start rule: a waiting, buffering or seeking queue starts once enough is queued,
        // or at once when the download has ended.
        const AudioStreamerState current = state_.load();
        const bool waitingToStart =
            current == AS_STATE_BUFFERING || current == AS_STATE_WAITING_FOR_DATA ||
            current == AS_STATE_FLUSHING_EOF ||
            (current == AS_STATE_STOPPED && stopReason == AS_STOP_REASON_TEMPORARY);
        if (waitingToStart &&
            (current == AS_STATE_FLUSHING_EOF || buffersUsed.load() == kAQStartThreshold)) {
            if (seekWhilePaused) {
                // The new position is loaded; it plays when the user resumes.
                setState(AS_STATE_PAUSED);
            } else if (current == AS_STATE_BUFFERING) {
                err = audio::AudioQueueStart(audioQueue, nullptr);
                if (err) {
                    failWithErrorCode(AS_AUDIO_QUEUE_START_FAILED);
                    return;
                }
                setState(AS_STATE_PLAYING);
            } else {
                setState(AS_STATE_WAITING_FOR_QUEUE_TO_START);
                err = audio::AudioQueueStart(audioQueue, nullptr);
                if (err) {
                    failWithErrorCode(AS_AUDIO_QUEUE_START_FAILED);
                    return;
                }
            }
        }

        if (++fillBufferIndex >= kAQBufferCount) fillBufferIndex = 0;
        bytesFilled = 0;
        packetsFilled = 0;
    }

    // Without the streamer lock: the queue's thread and the main thread need it meanwhile.
    // A pending seek ends the wait with the next buffer possibly still queued; the packet
    // handler then drops the rest of its batch, and the seek's immediate stop of the queue
    // hands every buffer back before new packets arrive.
    std::unique_lock buffersLock(queueBuffersMutex);
    queueBufferReadyCondition.wait(buffersLock, [this] {
        return !inuse[fillBufferIndex] || seekInterruptsBuffering.load() || bufferMismatch.load();
    });
    if (bufferMismatch.load()) {
        buffersLock.unlock();
        std::lock_guard lock(streamerLock);
        reportBufferMismatch();
    }
}

void AudioStreamer::reportBufferMismatch() {
    if (bufferMismatch.load()) failWithErrorCode(AS_AUDIO_QUEUE_BUFFER_MISMATCH);
}

bool AudioStreamer::shouldDropPackets() const {
    // Packets parsed while a seek waits belong to the old position; the seek discards them.
    return isFinishing() || seekInterruptsBuffering.load();
}

void AudioStreamer::createQueue() {
    // The format is known, and with it where the audio data begins.
    seekWaitsForFormat = false;
    sampleRate = asbd.mSampleRate;
    // No sample rate means no time base: keep the packet duration at 0 rather than dividing.
    packetDuration.store(sampleRate > 0 ? asbd.mFramesPerPacket / sampleRate : 0.0);

    err = audio::AudioQueueNewOutput(&asbd, MyAudioQueueOutputCallback, this, nullptr, nullptr, 0,
                                     &audioQueue);
    if (err) {
        audioQueue = nullptr;
        failWithErrorCode(AS_AUDIO_QUEUE_CREATION_FAILED);
        return;
    }

    err = audio::AudioQueueAddPropertyListener(audioQueue, audio::kAudioQueueProperty_IsRunning,
                                               MyAudioQueueIsRunningCallback, this);
    if (err) {
        failWithErrorCode(AS_AUDIO_QUEUE_ADD_LISTENER_FAILED);
        return;
    }

    // The buffer size: the parser's bound on a packet, else its largest packet, else a default.
    uint32_t sizeOfUInt32 = sizeof(uint32_t);
    audio::OSStatus status = audio::AudioFileStreamGetProperty(
        audioFileStream, audio::kAudioFileStreamProperty_PacketSizeUpperBound, &sizeOfUInt32,
        &packetBufferSize);
    if (status || packetBufferSize == 0) {
        sizeOfUInt32 = sizeof(uint32_t);
        status = audio::AudioFileStreamGetProperty(
            audioFileStream, audio::kAudioFileStreamProperty_MaximumPacketSize, &sizeOfUInt32,
            &packetBufferSize);
        if (status || packetBufferSize == 0) packetBufferSize = kAQDefaultBufSize;
    }

    for (uint32_t i = 0; i < kAQBufferCount; ++i) {
        err = audio::AudioQueueAllocateBuffer(audioQueue, packetBufferSize, &audioQueueBuffer[i]);
        if (err) {
            failWithErrorCode(AS_AUDIO_QUEUE_BUFFER_ALLOCATION_FAILED);
            return;
        }
    }

    // The decoder's set-up bytes, when the stream has any; their statuses are not examined.
    uint32_t cookieSize = 0;
    bool writable = false;
    status = audio::AudioFileStreamGetPropertyInfo(
        audioFileStream, audio::kAudioFileStreamProperty_MagicCookieData, &cookieSize, &writable);
    if (status || cookieSize == 0) return;
    std::vector<uint8_t> cookieData(cookieSize, 0);
    status = audio::AudioFileStreamGetProperty(audioFileStream,
                                               audio::kAudioFileStreamProperty_MagicCookieData,
                                               &cookieSize, cookieData.data());
    if (status) return;
    (void)audio::AudioQueueSetProperty(audioQueue, audio::kAudioQueueProperty_MagicCookie,
                                       cookieData.data(), cookieSize);
}

void AudioStreamer::handleBufferCompleteForQueue(audio::AudioQueueRef /*inAQ*/,
                                                 audio::AudioQueueBufferRef inBuffer) {
    // On the queue's thread, without the streamer lock: only queueBuffersMutex.
    uint32_t bufIndex = kAQBufferCount;
    for (uint32_t i = 0; i < kAQBufferCount; ++i) {
        if (inBuffer == audioQueueBuffer[i]) {
            bufIndex = i;
            break;
        }
    }

    if (bufIndex == kAQBufferCount) {
        // Recorded here and reported by the streaming thread, which this wakes.
        {
            std::lock_guard buffersLock(queueBuffersMutex);
            bufferMismatch = true;
        }
        queueBufferReadyCondition.notify_all();
        return;
    }

    int32_t stillUsed = 0;
    {
        std::lock_guard buffersLock(queueBuffersMutex);
        inuse[bufIndex] = false;
        stillUsed = buffersUsed.fetch_sub(1) - 1;
    }
    // The buffers come back in the order they were queued, so a streaming thread waiting for
    // one waits on a full ring. It is woken once half of them are free, and fills them in one go:
    // woken for every buffer, a fast decoder and the download would hand each 2 KB buffer to
    // each other with two context switches. The rest of the ring still holds what plays
    // meanwhile.
    if (stillUsed > int32_t(kAQBufferCount - kRefillBatch)) return;
    // Signalled after the unlock: a streaming thread woken while this thread still held the
    // mutex would only go back to sleep on it, two context switches per returned buffer.
    // The condition lives as long as the streamer, which outlives every callback of its queues.
    queueBufferReadyCondition.notify_all();
}
