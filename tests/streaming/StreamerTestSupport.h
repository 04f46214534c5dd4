#pragma once
// Shared pieces of the engine's end-to-end tests: a main queue on the test thread that also
// notes the streamer's state at every hand-over, a fixture with the loopback server, the capture
// sink, the alert recorder and the log capture, and PCM comparison against ffmpeg's decode.

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/AlertPresenter.h"
#include "platform/DeterministicMainQueue.h"
#include "platform/Log.h"
#include "platform/audio/sink/CaptureAudioSink.h"
#include "streaming/AudioStreamer.h"
#include "tests/support/PcmReference.h"
#include "tests/support/TestFiles.h"
#include "tests/support/TestHttpServer.h"

// Reaches the streamer's internals for the checks that the public interface cannot make.
struct AudioStreamerTestAccess {
    static int32_t fileLength(AudioStreamer& s) { return s.fileLength.load(); }
    static int32_t dataOffset(AudioStreamer& s) { return s.dataOffset.load(); }
    static uint32_t packetBufferSize(AudioStreamer& s) {
        std::lock_guard lock(s.streamerLock);
        return s.packetBufferSize;
    }
    static int32_t buffersUsed(AudioStreamer& s) { return s.buffersUsed.load(); }
    static AudioStreamerStopReason stopReason(AudioStreamer& s) {
        std::lock_guard lock(s.streamerLock);
        return s.stopReason;
    }
    // Whether the streamer's parser keeps a seek index (none while no parser is open).
    static std::optional<bool> parserIndexesForSeeks(AudioStreamer& s) {
        std::lock_guard lock(s.streamerLock);
        if (!s.audioFileStream) return std::nullopt;
        uint32_t wanted = 0;
        uint32_t size = sizeof wanted;
        if (audio::AudioFileStreamGetProperty(s.audioFileStream,
                                              audio::kAudioFileStreamProperty_SeekIndexWanted,
                                              &size, &wanted) != 0) {
            return std::nullopt;
        }
        return wanted != 0;
    }
    static bool endOfStreamWhilePaused(AudioStreamer& s) {
        std::lock_guard lock(s.streamerLock);
        return s.endOfStreamWhilePaused;
    }
    static double packetDuration(AudioStreamer& s) { return s.packetDuration.load(); }
    static double seekTime(AudioStreamer& s) {
        std::lock_guard lock(s.streamerLock);
        return s.seekTime;
    }
    // stream, audioFileStream, audioQueue, httpHeaders and internalThread all none.
    static bool handlesAreNone(AudioStreamer& s) {
        std::lock_guard lock(s.streamerLock);
        return !s.stream && !s.audioFileStream && !s.audioQueue && !s.httpHeaders_ &&
               s.internalThread == std::thread::id();
    }
    // stream, audioFileStream, audioQueue and httpHeaders none (a thread that found it was not
    // wanted leaves internalThread to the next start).
    static bool openHandlesAreNone(AudioStreamer& s) {
        std::lock_guard lock(s.streamerLock);
        return !s.stream && !s.audioFileStream && !s.audioQueue && !s.httpHeaders_;
    }
    static void setState(AudioStreamer& s, AudioStreamerState state) { s.setState(state); }
    static void setStopReason(AudioStreamer& s, AudioStreamerStopReason reason) {
        std::lock_guard lock(s.streamerLock);
        s.stopReason = reason;
    }
    static void setErr(AudioStreamer& s, int32_t status) {
        std::lock_guard lock(s.streamerLock);
        s.err = status;
    }
    static void failWithErrorCode(AudioStreamer& s, AudioStreamerErrorCode code) {
        s.failWithErrorCode(code);
    }
    static bool isFinishing(AudioStreamer& s) { return s.isFinishing(); }
    static bool runLoopShouldExit(AudioStreamer& s) { return s.runLoopShouldExit(); }
    static int32_t fileLengthFromHeaders(const AudioStreamer::HeaderMap& headers) {
        return AudioStreamer::fileLengthFromHeaders(headers);
    }
    static void handlePropertyChangeForQueue(AudioStreamer& s, uint32_t id) {
        s.handlePropertyChangeForQueue(nullptr, id);
    }
    static void handleBufferComplete(AudioStreamer& s, audio::AudioQueueBufferRef buffer) {
        s.handleBufferCompleteForQueue(nullptr, buffer);
    }
    static std::recursive_mutex& streamerLock(AudioStreamer& s) { return s.streamerLock; }
    static void handleFileStreamProperty(AudioStreamer& s, audio::AudioFileStreamID stream,
                                         audio::AudioFileStreamPropertyID id) {
        uint32_t flags = 0;
        s.handlePropertyChangeForFileStream(stream, id, &flags);
    }
    static audio::AudioStreamBasicDescription asbd(AudioStreamer& s) {
        std::lock_guard lock(s.streamerLock);
        return s.asbd;
    }
    // The described packets counted for the bit rate, and their bytes.
    static std::pair<uint64_t, uint64_t> countedPackets(AudioStreamer& s) {
        return {s.processedPacketsCount.load(), s.processedPacketsSizeTotal.load()};
    }
    static void handleReadStreamEvent(AudioStreamer& s, platform::http::ReadStream* stream,
                                      int event) {
        s.handleReadFromStream(stream, event);
    }
};

namespace streamertest {

// The deterministic main queue, plus a hook run inside every post (on the posting thread).
// setState posts while it holds the streamer lock, just after storing the new state, so a hook
// that reads the state there sees exactly the state being announced.
class RecordingMainQueue : public platform::DeterministicMainQueue {
public:
    void post(std::function<void()> task) override;
    void setPostHook(std::function<void()> hook);

private:
    std::mutex hookMutex_;
    std::function<void()> hook_;
};

// Every state a streamer passed through, in order, with the buffers queued at each change, and
// the notifications it posted on the main thread.
class StateHistory {
public:
    StateHistory(RecordingMainQueue& queue, std::shared_ptr<AudioStreamer> streamer);
    ~StateHistory();

    std::vector<AudioStreamerState> states() const;
    // buffersUsed when the streamer entered `state` the n-th time (0-based).
    std::optional<int32_t> buffersAt(AudioStreamerState state, int occurrence = 0) const;
    bool contains(AudioStreamerState state) const;
    int notificationCount() const { return notifications_.load(); }
    bool allNotificationsOnMainThread() const { return allOnMain_.load(); }
    // Notifications posted so far minus the state changes recorded.
    std::string describe() const;

private:
    void record();

    RecordingMainQueue& queue_;
    std::shared_ptr<AudioStreamer> streamer_;
    platform::ObserverToken token_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::pair<AudioStreamerState, int32_t>> changes_;
    std::atomic<int> notifications_{0};
    std::atomic<bool> allOnMain_{true};
};

using testsupport::findOffset;
using testsupport::fixturePath;
using testsupport::maxDifference;
using testsupport::Pcm;
using testsupport::readFile;
using testsupport::referenceDecode;
Pcm captured(const audio::CaptureAudioSink& sink);
// The capture holds exactly the reference decode, shifted by the encoder delay that ffmpeg
// trims and the queue plays, within `tolerance` a sample; every reference frame but up to
// `endPadding` at the end is covered.
::testing::AssertionResult sameAudio(const Pcm& capture, const Pcm& reference,
                                     float tolerance = 1e-4f, long endPadding = 1152);
// Where the audio after a capture's last jump begins, in reference seconds: the capture's last
// quarter second is found in the reference, then followed back while it matches.
std::optional<double> resumedAt(const Pcm& capture, const Pcm& reference, float tolerance);
// A seek to `target` landed within a packet: the audio resumed between a packet before it and
// two after (the decoder may need a packet after the jump before its output is the file's),
// and the progress counts on from where it resumed.
::testing::AssertionResult landedWithinAPacket(double target, double resumed, double progress,
                                               double packetSeconds);
// "POS SIZE" per packet, from the fixture script's FILE.packets.
std::vector<std::pair<int64_t, int64_t>> packetList(const std::string& fixture);
// A CAF of 44.1 kHz stereo MP3 packets, these bytes each, its packet table ahead of the data.
std::string mp3Caf(const std::vector<std::string>& packets);
// The bytes of each packet of a fixture, by its packet list.
std::vector<std::string> fixturePackets(const std::string& fixture);

// The fixture every end-to-end test of the engine uses.
class StreamerTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Capture sink consuming at `speed` times real time (0: at once).
    void useCapture(double speed, double capacitySeconds = 0.5);
    std::shared_ptr<audio::CaptureAudioSink> lastSink() const;

    std::shared_ptr<AudioStreamer> makeStreamer(const std::string& path);
    // Runs the main queue until `done` holds, checking it at least every millisecond; false
    // after `seconds`.
    bool runUntil(const std::function<bool()>& done, double seconds = 20);
    bool waitForState(AudioStreamer& s, AudioStreamerState state, double seconds = 20);
    bool waitForIdle(AudioStreamer& s, double seconds = 30) {
        return waitForState(s, AS_STATE_IDLE, seconds);
    }

    std::shared_ptr<RecordingMainQueue> mainQueue;
    std::shared_ptr<platform::RecordingAlertPresenter> alerts;
    std::unique_ptr<platform::LogCapture> logs;
    std::unique_ptr<testsupport::TestHttpServer> server;
    std::unique_ptr<audio::CaptureAudioSinkFactory> captureFactory;
    std::unique_ptr<audio::ScopedAudioSinkFactory> scopedFactory;
    std::vector<std::shared_ptr<AudioStreamer>> streamers;
    int fdsAtStart = 0;
};

int openFileDescriptors();

}  // namespace streamertest
