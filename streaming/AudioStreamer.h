#pragma once
// AudioStreamer plays one audio resource named by a URL (a file or an endless live stream over
// HTTP or HTTPS). A thread of its own downloads the resource, feeds the bytes to the audio
// file-stream parser, copies the parsed packets into a ring of output buffers and drives the
// output queue. Every state change is announced on the main thread with
// ASStatusChangedNotification (object: the streamer).
//
// Creation: always through a shared_ptr (AudioStreamer::create or std::make_shared), because the
// streaming thread keeps the streamer alive for as long as it runs.
//
// Threads that enter the object:
// - the main thread: the public operations below, the state notification, the alert, the
//   interruption listener;
// - the streaming thread (one per run, detached): startInternal, openReadStream, the read-stream
//   events, both parser callbacks, createQueue, enqueueBuffer, internalSeekToTime, the clean-up;
// - the output queue's own thread: the buffer-done and is-running callbacks.
//
// Stations that interleave metadata (Shoutcast, Icecast) have their titles taken out of the
// download; each new title is announced on the main thread with
// ASStreamTitleChangedNotification (object: the streamer).
//
// Lock order: the streamer lock (recursive) before queueBuffersMutex; metadataMutex is taken
// alone or last, and nothing is called while it is held. No code takes the streamer
// lock while holding queueBuffersMutex, and the streaming thread never waits on
// queueBufferReadyCondition, nor joins the queue's thread, while it holds the streamer lock.
// A notification posted from a setState on the main thread runs inside the streamer lock: an
// observer may read the streamer, but calls stop (or drops the last reference) only when the
// state is AS_STATE_IDLE.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/NotificationCenter.h"
#include "platform/audio/AudioTypes.h"
#include "platform/audio/parser/AudioFileStream.h"
#include "platform/audio/queue/AudioQueue.h"

namespace platform::http {
class HlsReadStream;
class ReadStream;
class RunLoop;
}  // namespace platform::http

// The notification posted on every state change; its object is the streamer.
extern const char* const ASStatusChangedNotification;
// Posted on the main thread when the station's now-playing title changes.
extern const char* const ASStreamTitleChangedNotification;

enum AudioStreamerState : int32_t {
    AS_STATE_IDLE = 0,
    AS_STATE_STARTING_THREAD = 1,
    AS_STATE_WAITING_FOR_DATA = 2,
    AS_STATE_FLUSHING_EOF = 3,
    AS_STATE_WAITING_FOR_QUEUE_TO_START = 4,
    AS_STATE_PLAYING = 5,
    AS_STATE_BUFFERING = 6,
    AS_STATE_STOPPING = 7,
    AS_STATE_STOPPED = 8,
    AS_STATE_PAUSED = 9,
};

enum AudioStreamerStopReason : int32_t {
    AS_STOP_REASON_NONE = 0,
    AS_STOP_REASON_EOF = 1,
    AS_STOP_REASON_USER = 2,
    AS_STOP_REASON_ERROR = 3,
    AS_STOP_REASON_TEMPORARY = 4,
};

enum AudioStreamerErrorCode : int32_t {
    AS_NO_ERROR = 0,
    AS_NETWORK_CONNECTION_FAILED = 1,
    AS_FILE_STREAM_GET_PROPERTY_FAILED = 2,
    AS_FILE_STREAM_SEEK_FAILED = 3,
    AS_FILE_STREAM_PARSE_BYTES_FAILED = 4,
    AS_FILE_STREAM_OPEN_FAILED = 5,
    AS_FILE_STREAM_CLOSE_FAILED = 6,
    AS_AUDIO_DATA_NOT_FOUND = 7,
    AS_AUDIO_QUEUE_CREATION_FAILED = 8,
    AS_AUDIO_QUEUE_BUFFER_ALLOCATION_FAILED = 9,
    AS_AUDIO_QUEUE_ENQUEUE_FAILED = 10,
    AS_AUDIO_QUEUE_ADD_LISTENER_FAILED = 11,
    AS_AUDIO_QUEUE_REMOVE_LISTENER_FAILED = 12,
    AS_AUDIO_QUEUE_START_FAILED = 13,
    AS_AUDIO_QUEUE_PAUSE_FAILED = 14,
    AS_AUDIO_QUEUE_BUFFER_MISMATCH = 15,
    AS_AUDIO_QUEUE_DISPOSE_FAILED = 16,
    AS_AUDIO_QUEUE_STOP_FAILED = 17,
    AS_AUDIO_QUEUE_FLUSH_FAILED = 18,
    AS_AUDIO_STREAMER_FAILED = 19,
    AS_GET_AUDIO_TIME_FAILED = 20,
    AS_AUDIO_BUFFER_TOO_SMALL = 21,
};

// The buffer ring.
constexpr uint32_t kAQBufferCount = 16;            // buffers in the ring
constexpr uint32_t kRefillBatch = 8;               // free buffers that wake a full ring's filler
constexpr uint32_t kAQDefaultBufSize = 2048;       // bytes per buffer when the parser gives no size
constexpr uint32_t kAQPacketDescCapacity = 512;    // packet descriptions per buffer
constexpr uint64_t kBitRateSamplePackets = 5000;   // described packets summed for the estimate
constexpr uint64_t kBitRateMinSamplePackets = 50;  // the estimate is trusted above this count
// A waiting or buffering queue starts once this many buffers are queued: one fewer than the
// ring, so the streaming thread always has a free buffer to fill meanwhile.
constexpr int32_t kAQStartThreshold = kAQBufferCount - 1;

class AudioStreamer;
struct AudioStreamerTestAccess;

// The plain callbacks the platform calls; each forwards to one method of the streamer passed
// as client pointer.
void MyPropertyListenerProc(void* inClientData, audio::AudioFileStreamID inAudioFileStream,
                            audio::AudioFileStreamPropertyID inPropertyID, uint32_t* ioFlags);
void MyPacketsProc(void* inClientData, uint32_t inNumberBytes, uint32_t inNumberPackets,
                   const void* inInputData,
                   audio::AudioStreamPacketDescription* inPacketDescriptions);
void MyAudioQueueOutputCallback(void* inClientData, audio::AudioQueueRef inAQ,
                                audio::AudioQueueBufferRef inBuffer);
void MyAudioQueueIsRunningCallback(void* inUserData, audio::AudioQueueRef inAQ,
                                   audio::AudioQueuePropertyID inID);
void MyAudioSessionInterruptionListener(void* inClientData, uint32_t inInterruptionState);
void ASReadStreamCallBack(platform::http::ReadStream* aStream, int eventType, void* inClientInfo);

class AudioStreamer : public std::enable_shared_from_this<AudioStreamer> {
public:
    using HeaderMap = std::map<std::string, std::string>;

    static std::shared_ptr<AudioStreamer> create(std::string url);

    // Prefer create(); the object must be owned by a shared_ptr before start is called.
    explicit AudioStreamer(std::string url);
    // Calls stop, so a streamer is never destroyed while its streaming thread runs.
    ~AudioStreamer();
    AudioStreamer(const AudioStreamer&) = delete;
    AudioStreamer& operator=(const AudioStreamer&) = delete;

    // Main thread only. From AS_STATE_IDLE launches a streaming thread; on a paused streamer
    // resumes; otherwise does nothing.
    void start();
    // Main thread (never the streaming thread). Returns once the streaming thread has ended.
    void stop();
    // Main thread. Pauses a playing streamer, resumes a paused one.
    void pause();
    // Main thread. Records the request; the streaming thread carries it out.
    void seekToTime(double newSeekTime);
    // Main thread, before start: the next run begins `seconds` into the resource, as a
    // programme does that is resumed after its download failed part-way. `bitRate` is that of
    // the run that failed (its calculatedBitRate), so the position is known as soon as the
    // format is: the run reads the header, asks for the bytes from the position on, and plays
    // nothing before it. Until the audio from there plays, progress reads `seconds`.
    void setStartPosition(double seconds, double bitRate);

    bool isPlaying() const;
    bool isPaused() const;
    bool isWaiting() const;
    bool isIdle() const;

    double calculatedBitRate() const;
    double progress();
    double duration() const;

    AudioStreamerState state() const { return state_.load(); }
    AudioStreamerErrorCode errorCode() const { return errorCode_.load(); }
    void setErrorCode(AudioStreamerErrorCode code) { errorCode_.store(code); }
    uint32_t bitRate() const { return bitRate_.load(); }
    void setBitRate(uint32_t value) { bitRate_.store(value); }
    // A copy of the first response's header fields of this run, none before it.
    std::optional<HeaderMap> httpHeaders() const;
    const std::string& urlString() const { return url; }
    // Whether an error shows the user an alert (the default). A screen that retries on its own
    // turns it off for its retries, so that one outage is one alert. Any thread.
    void setPresentsAlerts(bool presents) { presentsAlerts_.store(presents); }
    bool presentsAlerts() const { return presentsAlerts_.load(); }
    // What the station says is on now (its StreamTitle), empty before it said anything; and
    // its name and description from the response's icy-name and icy-description. Any thread.
    std::string streamTitle() const;
    std::string stationName() const;
    std::string stationDescription() const;

    static std::string stringForErrorCode(int32_t anErrorCode);
    // The alert a failing streamer shows, for a screen that turned the streamer's own off and
    // then gives up. Any thread.
    static void presentFailureAlert();
    // The state's name as written in code ("PLAYING"), for log and report lines of tools.
    static const char* stateName(AudioStreamerState state);
    static audio::AudioFileTypeID hintForFileExtension(const std::string& fileExtension);

    // Streaming threads that have not finished yet, in the whole process. A streaming thread
    // ends just after it released the streamer; tools and tests wait for this to reach 0
    // before they tear down what the thread may still touch.
    static int liveStreamingThreads();
    static bool waitForStreamingThreads(double timeoutSeconds);

private:
    friend struct AudioStreamerTestAccess;
    friend void MyPropertyListenerProc(void*, audio::AudioFileStreamID,
                                       audio::AudioFileStreamPropertyID, uint32_t*);
    friend void MyPacketsProc(void*, uint32_t, uint32_t, const void*,
                              audio::AudioStreamPacketDescription*);
    friend void MyAudioQueueOutputCallback(void*, audio::AudioQueueRef, audio::AudioQueueBufferRef);
    friend void MyAudioQueueIsRunningCallback(void*, audio::AudioQueueRef,
                                              audio::AudioQueuePropertyID);
    friend void MyAudioSessionInterruptionListener(void*, uint32_t);
    friend void ASReadStreamCallBack(platform::http::ReadStream*, int, void*);

    // States, errors and the predicates (AudioStreamer.cpp).
    void setState(AudioStreamerState aStatus);
    void mainThreadStateNotification();
    // Streaming thread: the newest of the titles the download brought, and the station's
    // name and description from the first response.
    void noteStreamTitles(std::vector<std::string> titles);
    void noteStationHeaders(const HeaderMap& headers);
    bool isFinishing() const;
    bool runLoopShouldExit() const;
    void failWithErrorCode(AudioStreamerErrorCode anErrorCode);
    // Keeps what the queue has played as the last progress, so that a run that fails reads
    // the position it failed at, not the one last asked for. Under the streamer lock.
    void notePlayedPosition();
    void presentAlertWithTitle(const std::string& title, const std::string& message);
    void wakeStreamingThread();

    // The streaming thread (AudioStreamerThread.cpp).
    void startInternal();
    void cleanUpStreamingThread();
    bool openReadStream();
    void handleReadFromStream(platform::http::ReadStream* aStream, int eventType);
    void handleEndOfStream();
    // Plays what is queued, the decoder's tail included, and ends the run after it.
    void playOutAndStop();
    void handleBytesAvailable();
    static int32_t fileLengthFromHeaders(const HeaderMap& headers);
    // The value of a header field, its name in any case; empty without one.
    static std::string headerNamed(const HeaderMap& headers, const char* name);

    // Playlists (AudioStreamerPlaylist.cpp): a run whose address answers with a PLS or M3U
    // playlist reads it whole, then plays its first entry, and the next one whenever an entry
    // fails before any of its audio came. Streaming thread, under the streamer lock.
    void readPlaylistBytes();
    void followPlaylist();
    bool tryNextPlaylistEntry();
    bool openPendingPlaylistEntry();
    // The entry's or the HLS stream's download, in place of the playlist's.
    bool reopenForPlaylist();
    void resetPlaylist();

    // The buffer pipeline (AudioStreamerBuffers.cpp).
    void handlePropertyChangeForFileStream(audio::AudioFileStreamID inAudioFileStream,
                                           audio::AudioFileStreamPropertyID inPropertyID,
                                           uint32_t* ioFlags);
    // A PCM description gives the exact bit rate (bytes per frame x rate x 8).
    void takeConstantBitRate();
    // Fails with AS_AUDIO_QUEUE_BUFFER_MISMATCH when the queue handed back a foreign buffer.
    // Streaming thread, under the streamer lock.
    void reportBufferMismatch();
    void handleAudioPackets(const void* inInputData, uint32_t inNumberBytes,
                            uint32_t inNumberPackets,
                            const audio::AudioStreamPacketDescription* inPacketDescriptions);
    void enqueueBuffer();
    bool shouldDropPackets() const;
    void createQueue();
    void handleBufferCompleteForQueue(audio::AudioQueueRef inAQ,
                                      audio::AudioQueueBufferRef inBuffer);

    // Control and timing (AudioStreamerControl.cpp).
    void internalSeekToTime(double newSeekTime);
    // Where a seek's download starts and the time its first packet stands for: the byte
    // offset in the resource, or the HLS segment holding the time.
    void positionByteSeek(double newSeekTime);
    void positionHlsSeek(double newSeekTime);
    platform::http::HlsReadStream* hlsStream() const;
    void noteHlsDuration();
    bool seekCanBeCarriedOut() const;
    bool bitRateEstimateIsPending() const;
    void applyStartPosition();
    void settleBitRateEstimateAtEnd();
    void resumeFromPause();
    void reopenDownloadAtRequestedOffset();
    bool reopensAtRequestedOffset() const;
    // The download ended: a parser holding a packet whose end it cannot tell hands it over.
    void letParserFinish();
    void handlePropertyChangeForQueue(audio::AudioQueueRef inAQ,
                                      audio::AudioQueuePropertyID propertyID);
    static bool queueHasDecodedAudio(audio::AudioQueueRef queue);
    void handleInterruptionChangeToState(uint32_t inInterruptionState);

    // ---- Fields, in the design's order. ----
    // Set once by the constructor.
    const std::string url;
    // Guarded by the streamer lock; created and disposed on the streaming thread.
    audio::AudioQueueRef audioQueue = nullptr;
    audio::AudioFileStreamID audioFileStream = nullptr;
    audio::AudioStreamBasicDescription asbd{};
    // The streaming thread of the current run; a default id (no thread) while idle.
    std::thread::id internalThread;
    // Written by createQueue before the queue can return any buffer; read by the queue's thread.
    audio::AudioQueueBufferRef audioQueueBuffer[kAQBufferCount] = {};
    // Streaming thread only: the buffer being filled and its descriptions.
    audio::AudioStreamPacketDescription packetDescs[kAQPacketDescCapacity] = {};
    uint32_t fillBufferIndex = 0;
    uint32_t packetBufferSize = 0;
    uint32_t bytesFilled = 0;
    uint32_t packetsFilled = 0;
    // Written under queueBuffersMutex. buffersUsed is also read without it by the loop's
    // underrun check, which only the streaming thread's own increments can make late.
    bool inuse[kAQBufferCount] = {};
    std::atomic<int32_t> buffersUsed{0};
    // A seek that will reset the ring is pending: a streaming thread waiting for a free buffer
    // stops waiting, and packets of the old position are dropped instead of queued. Written
    // under the streamer lock, also read under queueBuffersMutex alone.
    std::atomic<bool> seekInterruptsBuffering{false};
    // The queue handed back a buffer that is not one of the ring's. Set on the queue's thread
    // under queueBuffersMutex alone (the buffer-done handler never takes the streamer lock: an
    // immediate stop holding it may be waiting for that very callback); the streaming thread
    // reports it. Cleared when a run ends.
    std::atomic<bool> bufferMismatch{false};
    // Guarded by the streamer lock.
    std::optional<HeaderMap> httpHeaders_;
    // Written under the streamer lock; the three public ones are also read without it.
    std::atomic<AudioStreamerState> state_{AS_STATE_IDLE};
    AudioStreamerStopReason stopReason = AS_STOP_REASON_NONE;
    std::atomic<AudioStreamerErrorCode> errorCode_{AS_NO_ERROR};
    audio::OSStatus err = 0;
    bool discontinuous = false;
    // Exist for the object's lifetime, so that a buffer-done callback still finishing after the
    // queue's disposal never touches a destroyed mutex. Lock order: after the streamer lock.
    std::mutex queueBuffersMutex;
    std::condition_variable queueBufferReadyCondition;
    // Streaming thread only (opened, read, closed there).
    std::unique_ptr<platform::http::ReadStream> stream;
    platform::NotificationCenter* notificationCenter = nullptr;
    std::atomic<uint32_t> bitRate_{0};
    // Written on the streaming thread under the streamer lock; read without it by duration.
    std::atomic<int32_t> dataOffset{0};
    std::atomic<int32_t> fileLength{0};
    int32_t seekByteOffset = 0;
    uint64_t audioDataByteCount = 0;
    // Written by the streaming thread only; read without a lock by calculatedBitRate. The total
    // is stored before the count, so a reader sees at most one packet more in the total.
    std::atomic<uint64_t> processedPacketsCount{0};
    std::atomic<uint64_t> processedPacketsSizeTotal{0};
    // Guarded by the streamer lock.
    double seekTime = 0;
    bool seekWasRequested = false;
    double requestedSeekTime = 0;
    double sampleRate = 0;
    std::atomic<double> packetDuration{0};
    double lastProgress = 0;
    // A seek made while paused: the new position is loaded into a queue that is not started,
    // and the streamer waits in PAUSED for the user to resume. Guarded by the streamer lock.
    bool seekWhilePaused = false;
    // The download ended while paused: what is queued is played out once the user resumes.
    // Guarded by the streamer lock.
    bool endOfStreamWhilePaused = false;
    // Where the parser asked the download to go on from (an MP4 index after its data); the
    // streaming thread reopens the download there. Guarded by the streamer lock.
    std::optional<int64_t> requestedByteOffset;
    // The address the download reads: `url`, or the playlist entry being played; what was
    // read of a playlist so far; its entries; the one being played; one to open on the loop's
    // next turn. Streaming thread, under the streamer lock.
    std::string streamURL;
    bool readingPlaylist = false;
    std::string playlistBytes;
    std::vector<std::string> playlistEntries;
    size_t playlistEntry = 0;
    std::optional<size_t> pendingPlaylistEntry;
    // An HLS playlist read at the stream's address: its segments are the stream.
    std::optional<std::string> hlsPlaylist;
    bool pendingHlsStream = false;
    // The length of an on-demand HLS stream, from its playlist; 0 for a live one and any
    // other resource. It is the duration, and it makes seeks possible without a byte length.
    // Written on the streaming thread under the streamer lock, read without it.
    std::atomic<double> hlsDuration{0};
    // Where the next HLS stream starts reading (the start of the segment holding a seek's
    // time), and how many packets of that segment come before the time and are dropped.
    // Guarded by the streamer lock.
    double hlsStartSeconds = 0;
    uint64_t packetsToDrop = 0;
    // setStartPosition's position and bit rate, taken by the next start. Guarded by the
    // streamer lock.
    std::optional<std::pair<double, uint32_t>> startPosition;
    // The run starts at a position: its seek waits until the parser knows the format (the
    // first packets), since only then is the start of the audio data known. Guarded by the
    // streamer lock.
    bool seekWaitsForFormat = false;

    // ---- Synchronisation and wake-ups. ----
    // The streamer lock, recursive: failWithErrorCode calls setState, isWaiting calls
    // isFinishing, and observers of a main-thread notification run inside setState.
    mutable std::recursive_mutex streamerLock;
    // The streaming thread's event loop while it runs, so that stop, seeks and the queue's
    // stop can end its 0.25 s sleep at once. Guarded by the streamer lock.
    std::shared_ptr<platform::http::RunLoop> runLoop;
    // stop waits here for AS_STATE_IDLE instead of polling. Taken only for the hand-over of
    // a state change, never together with queueBuffersMutex; after the streamer lock.
    std::mutex idleMutex;
    std::condition_variable idleCondition;
    std::atomic<bool> presentsAlerts_{true};
    // The now-playing title: written on the streaming thread, read anywhere.
    mutable std::mutex metadataMutex;
    std::string streamTitle_;
    std::string stationName_;
    std::string stationDescription_;
};
