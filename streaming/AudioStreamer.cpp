// The streamer object: creation and destruction, the state setter and its notification, the
// predicates the other steps re-check, the single error path, and the plain platform callbacks.

#include "streaming/AudioStreamer.h"

#include <strings.h>

#include <chrono>
#include <cstdlib>

#include "platform/AlertPresenter.h"
#include "platform/LocalizedString.h"
#include "platform/Log.h"
#include "platform/MainQueue.h"
#include "platform/audio/AudioSession.h"
#include "platform/http/IcyMetadataFilter.h"
#include "platform/http/ReadStream.h"
#include "streaming/StreamerAssert.h"

const char* const ASStatusChangedNotification = "ASStatusChangedNotification";
const char* const ASStreamTitleChangedNotification = "ASStreamTitleChangedNotification";

namespace {

constexpr const char* AS_NO_ERROR_STRING = "No error.";
constexpr const char* AS_FILE_STREAM_GET_PROPERTY_FAILED_STRING =
    "File stream get property failed.";
constexpr const char* AS_FILE_STREAM_SEEK_FAILED_STRING = "File stream seek failed.";
constexpr const char* AS_FILE_STREAM_PARSE_BYTES_FAILED_STRING = "Parse bytes failed.";
constexpr const char* AS_FILE_STREAM_OPEN_FAILED_STRING = "Open audio file stream failed.";
constexpr const char* AS_FILE_STREAM_CLOSE_FAILED_STRING = "Close audio file stream failed.";
constexpr const char* AS_AUDIO_DATA_NOT_FOUND_STRING = "No audio data found.";
constexpr const char* AS_AUDIO_QUEUE_CREATION_FAILED_STRING = "Audio queue creation failed.";
constexpr const char* AS_AUDIO_QUEUE_BUFFER_ALLOCATION_FAILED_STRING =
    "Audio buffer allocation failed.";
constexpr const char* AS_AUDIO_QUEUE_ENQUEUE_FAILED_STRING = "Queueing of audio buffer failed.";
constexpr const char* AS_AUDIO_QUEUE_ADD_LISTENER_FAILED_STRING =
    "Audio queue add listener failed.";
constexpr const char* AS_AUDIO_QUEUE_REMOVE_LISTENER_FAILED_STRING =
    "Audio queue remove listener failed.";
constexpr const char* AS_AUDIO_QUEUE_START_FAILED_STRING = "Audio queue start failed.";
constexpr const char* AS_AUDIO_QUEUE_BUFFER_MISMATCH_STRING = "Audio queue buffers don't match.";
constexpr const char* AS_AUDIO_QUEUE_DISPOSE_FAILED_STRING = "Audio queue dispose failed.";
constexpr const char* AS_AUDIO_QUEUE_STOP_FAILED_STRING = "Audio queue stop failed.";
constexpr const char* AS_AUDIO_QUEUE_FLUSH_FAILED_STRING = "Audio queue flush failed.";
constexpr const char* AS_AUDIO_STREAMER_FAILED_STRING = "Audio playback failed";
constexpr const char* AS_GET_AUDIO_TIME_FAILED_STRING = "Audio queue get current time failed.";
constexpr const char* AS_NETWORK_CONNECTION_FAILED_STRING = "Network connection failed";
constexpr const char* AS_AUDIO_BUFFER_TOO_SMALL_STRING =
    "Audio packets are larger than kAQDefaultBufSize.";

// Streaming threads still running in the process, for liveStreamingThreads. Never destroyed:
// a detached thread may still be finishing while the process exits.
struct LiveThreads {
    std::mutex mutex;
    std::condition_variable condition;
    int count = 0;
};
LiveThreads& liveThreads() {
    static auto* threads = new LiveThreads;
    return *threads;
}

}  // namespace

namespace streaming_detail {

void assertionFailure(const char* text) {
    platform::log(std::string("Assertion failure: ") + text);
    std::abort();
}

void streamingThreadStarted() {
    std::lock_guard lock(liveThreads().mutex);
    ++liveThreads().count;
}

void streamingThreadEnded() {
    // Notified under the mutex, so that a waiter that sees the count reach 0 knows this thread
    // is past its last touch of the condition.
    std::lock_guard lock(liveThreads().mutex);
    --liveThreads().count;
    liveThreads().condition.notify_all();
}

}  // namespace streaming_detail

std::shared_ptr<AudioStreamer> AudioStreamer::create(std::string url) {
    return std::make_shared<AudioStreamer>(std::move(url));
}

AudioStreamer::AudioStreamer(std::string aURL) : url(std::move(aURL)) {}

AudioStreamer::~AudioStreamer() {
    // The streaming thread holds a reference while it runs, so by now it has set the idle
    // state and stop returns at once; it stays here for a streamer that was never started.
    stop();
    // The session would otherwise keep calling a destroyed streamer.
    audio::AudioSessionRemoveInterruptionListener(MyAudioSessionInterruptionListener, this);
}

int AudioStreamer::liveStreamingThreads() {
    std::lock_guard lock(liveThreads().mutex);
    return liveThreads().count;
}

bool AudioStreamer::waitForStreamingThreads(double timeoutSeconds) {
    std::unique_lock lock(liveThreads().mutex);
    return liveThreads().condition.wait_for(lock, std::chrono::duration<double>(timeoutSeconds),
                                            [] { return liveThreads().count == 0; });
}

// ---- State ----

void AudioStreamer::setState(AudioStreamerState aStatus) {
    std::lock_guard lock(streamerLock);
    if (state_.load() == aStatus) return;
    state_.store(aStatus);
    {
        // An empty section: a waiter in stop either checks the state before this or is
        // already waiting and hears the notify.
        std::lock_guard idle(idleMutex);
    }
    idleCondition.notify_all();

    platform::MainQueue& mainQueue = platform::MainQueue::main();
    if (mainQueue.isMainThread()) {
        mainThreadStateNotification();
    } else {
        // Queued without waiting. A weak reference: a streamer destroyed before the main thread
        // gets here has nobody left to tell.
        std::weak_ptr<AudioStreamer> weakSelf = weak_from_this();
        mainQueue.post([weakSelf] {
            if (auto self = weakSelf.lock()) self->mainThreadStateNotification();
        });
    }
}

void AudioStreamer::mainThreadStateNotification() {
    platform::NotificationCenter::defaultCenter().post(ASStatusChangedNotification, this);
}

void AudioStreamer::noteStreamTitles(std::vector<std::string> titles) {
    if (titles.empty()) return;
    {
        std::lock_guard lock(metadataMutex);
        if (titles.back() == streamTitle_) return;
        streamTitle_ = std::move(titles.back());
    }
    std::weak_ptr<AudioStreamer> weakSelf = weak_from_this();
    platform::MainQueue::main().post([weakSelf] {
        if (auto self = weakSelf.lock())
            platform::NotificationCenter::defaultCenter().post(ASStreamTitleChangedNotification,
                                                               self.get());
    });
}

std::string AudioStreamer::streamTitle() const {
    std::lock_guard lock(metadataMutex);
    return streamTitle_;
}

void AudioStreamer::noteStationHeaders(const HeaderMap& headers) {
    std::string name;
    std::string description;
    for (const auto& [field, value] : headers) {
        if (strcasecmp(field.c_str(), "icy-name") == 0) name = value;
        if (strcasecmp(field.c_str(), "icy-description") == 0) description = value;
    }
    std::lock_guard lock(metadataMutex);
    stationName_ = platform::http::icyTextToUtf8(name);
    stationDescription_ = platform::http::icyTextToUtf8(description);
}

std::string AudioStreamer::stationName() const {
    std::lock_guard lock(metadataMutex);
    return stationName_;
}

std::string AudioStreamer::stationDescription() const {
    std::lock_guard lock(metadataMutex);
    return stationDescription_;
}

bool AudioStreamer::isPlaying() const { return state_.load() == AS_STATE_PLAYING; }

bool AudioStreamer::isPaused() const { return state_.load() == AS_STATE_PAUSED; }

bool AudioStreamer::isIdle() const { return state_.load() == AS_STATE_IDLE; }

bool AudioStreamer::isFinishing() const {
    std::lock_guard lock(streamerLock);
    const AudioStreamerState current = state_.load();
    if (errorCode_.load() != AS_NO_ERROR && current != AS_STATE_IDLE) return true;
    return (current == AS_STATE_STOPPING || current == AS_STATE_STOPPED) &&
           stopReason != AS_STOP_REASON_TEMPORARY;
}

bool AudioStreamer::runLoopShouldExit() const {
    std::lock_guard lock(streamerLock);
    if (errorCode_.load() != AS_NO_ERROR) return true;
    return state_.load() == AS_STATE_STOPPED && stopReason != AS_STOP_REASON_TEMPORARY;
}

bool AudioStreamer::isWaiting() const {
    std::lock_guard lock(streamerLock);
    if (isFinishing()) return true;
    switch (state_.load()) {
        case AS_STATE_STARTING_THREAD:
        case AS_STATE_WAITING_FOR_DATA:
        case AS_STATE_WAITING_FOR_QUEUE_TO_START:
        case AS_STATE_BUFFERING: return true;
        default: return false;
    }
}

std::optional<AudioStreamer::HeaderMap> AudioStreamer::httpHeaders() const {
    std::lock_guard lock(streamerLock);
    return httpHeaders_;
}

// ---- Errors ----

void AudioStreamer::failWithErrorCode(AudioStreamerErrorCode anErrorCode) {
    std::lock_guard lock(streamerLock);
    if (errorCode_.load() != AS_NO_ERROR) return;
    errorCode_.store(anErrorCode);

    const std::string message = stringForErrorCode(anErrorCode);
    if (err != 0) {
        // The status as its four characters, most significant byte first, then in decimal.
        const uint32_t code = static_cast<uint32_t>(err);
        std::string line = message + " err: ";
        for (int shift = 24; shift >= 0; shift -= 8) line.push_back(char((code >> shift) & 0xFF));
        line += " " + std::to_string(err) + "\n";
        platform::log(line);
    } else {
        platform::log(message);
    }

    const AudioStreamerState current = state_.load();
    if (current == AS_STATE_PLAYING || current == AS_STATE_PAUSED ||
        current == AS_STATE_BUFFERING) {
        notePlayedPosition();
        setState(AS_STATE_STOPPING);
        stopReason = AS_STOP_REASON_ERROR;
        if (audioQueue) (void)audio::AudioQueueStop(audioQueue, true);
    }

    if (presentsAlerts_.load()) presentFailureAlert();
    // The loop ends on the recorded error; tell it now rather than at the end of its slice.
    wakeStreamingThread();
}

void AudioStreamer::presentFailureAlert() {
    platform::presentAlert(
        platform::localizedString("File Error", "Errors"),
        platform::localizedString("Unable to configure network read stream.", "Errors"),
        platform::localizedString("OK"));
}

void AudioStreamer::presentAlertWithTitle(const std::string& title, const std::string& message) {
    if (!presentsAlerts_.load()) return;
    platform::presentAlert(title, message, platform::localizedString("OK"));
}

void AudioStreamer::wakeStreamingThread() {
    std::lock_guard lock(streamerLock);
    if (runLoop && std::this_thread::get_id() != internalThread) runLoop->wakeUp();
}

const char* AudioStreamer::stateName(AudioStreamerState state) {
    switch (state) {
        case AS_STATE_IDLE: return "IDLE";
        case AS_STATE_STARTING_THREAD: return "STARTING_THREAD";
        case AS_STATE_WAITING_FOR_DATA: return "WAITING_FOR_DATA";
        case AS_STATE_FLUSHING_EOF: return "FLUSHING_EOF";
        case AS_STATE_WAITING_FOR_QUEUE_TO_START: return "WAITING_FOR_QUEUE_TO_START";
        case AS_STATE_PLAYING: return "PLAYING";
        case AS_STATE_BUFFERING: return "BUFFERING";
        case AS_STATE_STOPPING: return "STOPPING";
        case AS_STATE_STOPPED: return "STOPPED";
        case AS_STATE_PAUSED: return "PAUSED";
    }
    return "?";
}

std::string AudioStreamer::stringForErrorCode(int32_t anErrorCode) {
    switch (anErrorCode) {
        case AS_NO_ERROR: return AS_NO_ERROR_STRING;
        case AS_FILE_STREAM_GET_PROPERTY_FAILED: return AS_FILE_STREAM_GET_PROPERTY_FAILED_STRING;
        case AS_FILE_STREAM_SEEK_FAILED: return AS_FILE_STREAM_SEEK_FAILED_STRING;
        case AS_FILE_STREAM_PARSE_BYTES_FAILED: return AS_FILE_STREAM_PARSE_BYTES_FAILED_STRING;
        case AS_AUDIO_DATA_NOT_FOUND: return AS_AUDIO_DATA_NOT_FOUND_STRING;
        case AS_AUDIO_QUEUE_CREATION_FAILED: return AS_AUDIO_QUEUE_CREATION_FAILED_STRING;
        case AS_AUDIO_QUEUE_BUFFER_ALLOCATION_FAILED:
            return AS_AUDIO_QUEUE_BUFFER_ALLOCATION_FAILED_STRING;
        case AS_AUDIO_QUEUE_ENQUEUE_FAILED: return AS_AUDIO_QUEUE_ENQUEUE_FAILED_STRING;
        case AS_AUDIO_QUEUE_ADD_LISTENER_FAILED: return AS_AUDIO_QUEUE_ADD_LISTENER_FAILED_STRING;
        case AS_AUDIO_QUEUE_REMOVE_LISTENER_FAILED:
            return AS_AUDIO_QUEUE_REMOVE_LISTENER_FAILED_STRING;
        case AS_AUDIO_QUEUE_START_FAILED: return AS_AUDIO_QUEUE_START_FAILED_STRING;
        // There is no text of its own for a failed pause: it shares the dispose text.
        case AS_AUDIO_QUEUE_PAUSE_FAILED: return AS_AUDIO_QUEUE_DISPOSE_FAILED_STRING;
        case AS_AUDIO_QUEUE_BUFFER_MISMATCH: return AS_AUDIO_QUEUE_BUFFER_MISMATCH_STRING;
        case AS_AUDIO_QUEUE_DISPOSE_FAILED: return AS_AUDIO_QUEUE_DISPOSE_FAILED_STRING;
        case AS_AUDIO_QUEUE_STOP_FAILED: return AS_AUDIO_QUEUE_STOP_FAILED_STRING;
        case AS_AUDIO_QUEUE_FLUSH_FAILED: return AS_AUDIO_QUEUE_FLUSH_FAILED_STRING;
        case AS_GET_AUDIO_TIME_FAILED: return AS_GET_AUDIO_TIME_FAILED_STRING;
        case AS_NETWORK_CONNECTION_FAILED: return AS_NETWORK_CONNECTION_FAILED_STRING;
        case AS_FILE_STREAM_OPEN_FAILED: return AS_FILE_STREAM_OPEN_FAILED_STRING;
        case AS_FILE_STREAM_CLOSE_FAILED: return AS_FILE_STREAM_CLOSE_FAILED_STRING;
        case AS_AUDIO_BUFFER_TOO_SMALL: return AS_AUDIO_BUFFER_TOO_SMALL_STRING;
        case AS_AUDIO_STREAMER_FAILED:
        default: return AS_AUDIO_STREAMER_FAILED_STRING;
    }
}

// ---- Platform callbacks: each forwards to one method of the client, the streamer. ----

void MyPropertyListenerProc(void* inClientData, audio::AudioFileStreamID inAudioFileStream,
                            audio::AudioFileStreamPropertyID inPropertyID, uint32_t* ioFlags) {
    static_cast<AudioStreamer*>(inClientData)
        ->handlePropertyChangeForFileStream(inAudioFileStream, inPropertyID, ioFlags);
}

void MyPacketsProc(void* inClientData, uint32_t inNumberBytes, uint32_t inNumberPackets,
                   const void* inInputData,
                   audio::AudioStreamPacketDescription* inPacketDescriptions) {
    static_cast<AudioStreamer*>(inClientData)
        ->handleAudioPackets(inInputData, inNumberBytes, inNumberPackets, inPacketDescriptions);
}

void MyAudioQueueOutputCallback(void* inClientData, audio::AudioQueueRef inAQ,
                                audio::AudioQueueBufferRef inBuffer) {
    static_cast<AudioStreamer*>(inClientData)->handleBufferCompleteForQueue(inAQ, inBuffer);
}

void MyAudioQueueIsRunningCallback(void* inUserData, audio::AudioQueueRef inAQ,
                                   audio::AudioQueuePropertyID inID) {
    static_cast<AudioStreamer*>(inUserData)->handlePropertyChangeForQueue(inAQ, inID);
}

void MyAudioSessionInterruptionListener(void* inClientData, uint32_t inInterruptionState) {
    static_cast<AudioStreamer*>(inClientData)->handleInterruptionChangeToState(inInterruptionState);
}

void ASReadStreamCallBack(platform::http::ReadStream* aStream, int eventType, void* inClientInfo) {
    static_cast<AudioStreamer*>(inClientInfo)->handleReadFromStream(aStream, eventType);
}
