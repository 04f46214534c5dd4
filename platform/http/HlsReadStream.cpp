#include "platform/http/HlsReadStream.h"

#include <algorithm>

#include "platform/Log.h"

namespace platform::http {

namespace {

constexpr int kAllEvents = kReadStreamEventHasBytesAvailable | kReadStreamEventErrorOccurred |
                           kReadStreamEventEndEncountered;
// Where a live stream's reading begins: this many segments from the end of the window.
constexpr size_t kLiveStartSegments = 3;

}  // namespace

HlsReadStream::HlsReadStream(std::string url, std::string playlistText, ReadStreamOptions options,
                             double startSeconds)
    : url_(std::move(url)),
      initialText_(std::move(playlistText)),
      options_(std::move(options)),
      startSeconds_(startSeconds) {
    // The segments' bodies are the audio: no range, no interleaved metadata of their own.
    options_.rangeHeader.clear();
    options_.requestIcyMetadata = false;
}

HlsReadStream::~HlsReadStream() { close(); }

bool HlsReadStream::open() { return !closed_; }

void HlsReadStream::setClient(int eventMask, ReadStreamClientCallback callback, void* clientInfo) {
    eventMask_ = eventMask;
    callback_ = callback;
    clientInfo_ = clientInfo;
}

void HlsReadStream::scheduleWithRunLoop(const std::shared_ptr<RunLoop>& runLoop) {
    if (loop_ || closed_) return;
    loop_ = runLoop;
    keepScheduled();
    takePlaylist(initialText_, url_);
}

bool HlsReadStream::hasBytesAvailable() {
    return inner_ && download_ == Download::Segment && inner_->hasBytesAvailable();
}

long HlsReadStream::read(uint8_t* buffer, long maxLength) {
    if (failed_) return -1;
    if (!inner_ || download_ != Download::Segment) return 0;
    const long length = inner_->read(buffer, maxLength);
    // A segment's error is the stream's, reported with its event.
    return length < 0 ? 0 : length;
}

std::map<std::string, std::string> HlsReadStream::responseHeaders() {
    std::map<std::string, std::string> headers;
    if (inner_ && download_ == Download::Segment) headers = inner_->responseHeaders();
    // One segment's length is not the stream's, which has none.
    headers.erase("Content-Length");
    headers.erase("Content-Range");
    // Not a playlist to its reader: the body is the segments'.
    headers["Content-Type"] = "application/octet-stream";
    return headers;
}

void HlsReadStream::close() {
    if (closed_) return;
    closed_ = true;
    closeInner();
    if (timer_ && loop_) loop_->cancelTimer(*timer_);
    timer_.reset();
    if (keepAlive_ && loop_) loop_->cancelTimer(*keepAlive_);
    keepAlive_.reset();
}

double HlsReadStream::duration() const {
    return media_ && media_->ended ? media_->totalDuration() : 0;
}

double HlsReadStream::segmentStartAt(double seconds) const {
    double start = 0;
    if (media_ && media_->ended) (void)media_->segmentAt(std::max(0.0, seconds), &start);
    return start;
}

void HlsReadStream::keepScheduled() {
    // A scheduled stream keeps its loop running until it is closed, also between downloads
    // and after its end: a timer that never comes due stands for it.
    keepAlive_ = loop_->addTimer(86'400, [this] { keepScheduled(); });
}

void HlsReadStream::closeInner() {
    if (inner_) inner_->close();
    inner_.reset();
    download_ = Download::None;
}

void HlsReadStream::onInnerEvent(ReadStream*, int eventType, void* clientInfo) {
    static_cast<HlsReadStream*>(clientInfo)->innerEvent(eventType);
}

void HlsReadStream::innerEvent(int eventType) {
    if (closed_) return;
    // A status page is no segment or playlist, though its body arrives as bytes.
    if (inner_ && inner_->statusCode() >= 400 && eventType != kReadStreamEventErrorOccurred) {
        const int status = inner_->statusCode();
        if (download_ == Download::Playlist && reloading_) {
            closeInner();
            reloadFailed();
        } else {
            fail("the server answered " + std::to_string(status) + " for an HLS " +
                 (download_ == Download::Segment ? "segment" : "playlist"));
        }
        return;
    }
    if (download_ == Download::Segment) {
        if (eventType == kReadStreamEventHasBytesAvailable) {
            deliver(kReadStreamEventHasBytesAvailable);  // the client may close us: last step
        } else if (eventType == kReadStreamEventEndEncountered) {
            closeInner();
            ++segmentsRead_;
            nextStep();
        } else {
            const std::string why = inner_ ? inner_->errorDescription() : std::string();
            fail("an HLS segment failed" + (why.empty() ? std::string() : ": " + why));
        }
        return;
    }
    if (download_ != Download::Playlist) return;
    if (eventType == kReadStreamEventHasBytesAvailable) {
        uint8_t bytes[4096];
        long length;
        while (inner_ && (length = inner_->read(bytes, sizeof bytes)) > 0) {
            playlistBuffer_.append(reinterpret_cast<const char*>(bytes), size_t(length));
            if (playlistBuffer_.size() > kMaxPlaylistBytes) {
                fail("an HLS playlist is too long");
                return;
            }
        }
        return;
    }
    const bool ended = eventType == kReadStreamEventEndEncountered;
    closeInner();
    if (!ended) {
        if (reloading_) {
            reloadFailed();
        } else {
            fail("an HLS playlist could not be read");
        }
        return;
    }
    const std::string text = std::move(playlistBuffer_);
    playlistBuffer_.clear();
    if (!reloading_) {
        takePlaylist(text, fetchingUrl_);
        return;
    }
    HlsPlaylist reloaded = parseHlsPlaylist(text, mediaUrl_);
    if (!reloaded.media) {
        reloadFailed();
        return;
    }
    reloadFailures_ = 0;
    takeMedia(std::move(*reloaded.media));
}

void HlsReadStream::takePlaylist(const std::string& text, const std::string& playlistUrl) {
    HlsPlaylist playlist = parseHlsPlaylist(text, playlistUrl);
    if (!playlist.variants.empty()) {
        const HlsVariant* variant = chooseHlsVariant(playlist.variants, kMaxBandwidth);
        if (!variant) {
            fail("no HLS variant is audio that can be played");
            return;
        }
        fetchPlaylist(variant->url);
        return;
    }
    if (!playlist.media) {
        fail("not an HLS media playlist");
        return;
    }
    mediaUrl_ = playlistUrl;
    takeMedia(std::move(*playlist.media));
}

void HlsReadStream::takeMedia(HlsMediaPlaylist media) {
    if (media.encrypted) {
        fail("the HLS segments are encrypted");
        return;
    }
    if (!nextSequence_) {
        // The first list: where reading begins.
        if (media.segments.empty()) {
            if (media.ended) {
                fail("the HLS playlist has no segments");
                return;
            }
        } else if (media.ended) {
            const size_t first = media.segmentAt(std::max(0.0, startSeconds_)).value_or(0);
            nextSequence_ = media.segments[first].sequence;
        } else {
            const size_t count = media.segments.size();
            nextSequence_ =
                media.segments[count > kLiveStartSegments ? count - kLiveStartSegments : 0]
                    .sequence;
        }
        lastReloadBroughtNothing_ = false;
        lastNewSegmentAt_ = std::chrono::steady_clock::now();
    } else {
        const bool anyNew = std::any_of(
            media.segments.begin(), media.segments.end(),
            [&](const HlsSegment& segment) { return segment.sequence >= *nextSequence_; });
        lastReloadBroughtNothing_ = !anyNew;
        const auto now = std::chrono::steady_clock::now();
        if (anyNew || media.ended) {
            lastNewSegmentAt_ = now;
        } else if (std::chrono::duration<double>(now - lastNewSegmentAt_).count() >
                   kStuckTargetDurations * std::max(1.0, media.targetDuration)) {
            fail("the live HLS playlist has stopped changing");
            return;
        }
        // Fallen behind the window: the oldest segment still listed is next.
        if (!media.segments.empty() && media.segments.front().sequence > *nextSequence_) {
            platform::logf(
                "HLS: %llu segments were missed",
                static_cast<unsigned long long>(media.segments.front().sequence - *nextSequence_));
            nextSequence_ = media.segments.front().sequence;
        }
    }
    media_ = std::move(media);
    nextStep();
}

void HlsReadStream::fetchPlaylist(const std::string& playlistUrl) {
    fetchingUrl_ = playlistUrl;
    playlistBuffer_.clear();
    inner_ = ReadStream::create(playlistUrl, options_);
    if (!inner_ || !inner_->setShouldAutoredirect(true) || !inner_->open()) {
        inner_.reset();
        if (reloading_) {
            reloadFailed();
        } else {
            fail("an HLS playlist could not be requested");
        }
        return;
    }
    download_ = Download::Playlist;
    inner_->setClient(kAllEvents, onInnerEvent, this);
    inner_->scheduleWithRunLoop(loop_);
}

void HlsReadStream::nextStep() {
    if (!media_ || !nextSequence_) {
        scheduleReload(media_ ? std::max(1.0, media_->targetDuration) : 1.0);
        return;
    }
    const auto segment =
        std::find_if(media_->segments.begin(), media_->segments.end(),
                     [&](const HlsSegment& s) { return s.sequence >= *nextSequence_; });
    if (segment == media_->segments.end()) {
        if (media_->ended) {
            ended_ = true;
            // Delivered from a run of the loop, as every event.
            timer_ = loop_->addTimer(0, [this] {
                timer_.reset();
                deliver(kReadStreamEventEndEncountered);
            });
            return;
        }
        const double target = std::max(1.0, media_->targetDuration);
        scheduleReload(lastReloadBroughtNothing_ ? target / 2 : target);
        return;
    }
    inner_ = ReadStream::create(segment->url, options_);
    if (!inner_ || !inner_->setShouldAutoredirect(true) || !inner_->open()) {
        inner_.reset();
        fail("an HLS segment could not be requested");
        return;
    }
    lastRead_ = segment->sequence;
    nextSequence_ = segment->sequence + 1;
    download_ = Download::Segment;
    inner_->setClient(kAllEvents, onInnerEvent, this);
    inner_->scheduleWithRunLoop(loop_);
}

void HlsReadStream::scheduleReload(double seconds) {
    reloading_ = true;
    timer_ = loop_->addTimer(seconds, [this] {
        timer_.reset();
        fetchPlaylist(mediaUrl_);
    });
}

void HlsReadStream::reloadFailed() {
    if (++reloadFailures_ >= kReloadAttempts) {
        fail("the HLS playlist could not be reloaded");
        return;
    }
    scheduleReload(media_ ? std::max(1.0, media_->targetDuration / 2) : 1.0);
}

void HlsReadStream::fail(const std::string& why) {
    if (failed_) return;
    failed_ = true;
    error_ = why;
    platform::logf("HLS: %s.", why.c_str());
    closeInner();
    if (timer_) loop_->cancelTimer(*timer_);
    timer_ = loop_->addTimer(0, [this] {
        timer_.reset();
        deliver(kReadStreamEventErrorOccurred);
    });
}

void HlsReadStream::deliver(int eventType) {
    if (closed_ || !callback_ || !(eventMask_ & eventType)) return;
    callback_(this, eventType, clientInfo_);
}

}  // namespace platform::http
