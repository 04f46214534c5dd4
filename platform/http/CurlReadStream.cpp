#include "platform/http/CurlReadStream.h"

#include <algorithm>

#include "platform/http/CurlRunLoop.h"
#include "platform/http/HeaderLines.h"
#include "platform/http/Networking.h"
#include "platform/http/TransferPolicy.h"

namespace platform::http {

static_assert(CurlReadStream::kRingCapacity >= CURL_MAX_WRITE_SIZE + CurlReadStream::kRefillSpace,
              "an unpaused transfer must always have room for libcurl's largest chunk");

std::unique_ptr<ReadStream> ReadStream::create(const std::string& url,
                                               const ReadStreamOptions& options) {
    return std::make_unique<CurlReadStream>(url, options);
}

CurlReadStream::CurlReadStream(std::string url, ReadStreamOptions options)
    : url_(std::move(url)),
      options_(std::move(options)),
      rangeStart_(rangeStart(options_.rangeHeader)),
      ring_(kRingCapacity) {}

CurlReadStream::~CurlReadStream() { close(); }

bool CurlReadStream::setShouldAutoredirect(bool follow) {
    if (opened_) return false;
    followRedirects_ = follow;
    return true;
}

bool CurlReadStream::open() {
    if (opened_ || closed_) return false;
    if (!isHttpURL(url_)) return false;
    // A Range value with a line break would let the caller's text write arbitrary headers.
    if (options_.rangeHeader.find_first_of("\r\n") != std::string::npos) return false;

    initNetworking();
    easy_.reset(curl_easy_init());
    if (!easy_) return false;
    CURL* h = easy_.get();
    TransferPolicy policy;
    policy.followRedirects = followRedirects_;
    policy.maxRedirects = options_.maxRedirects;
    policy.caFile = options_.caFile;
    // The connect phase is bounded like any other silence (our own clock covers the rest).
    policy.connectTimeoutMs =
        static_cast<long>(std::max(1.0, options_.stallTimeoutSeconds * 1000.0));
    const bool ok = applyTransferPolicy(h, url_, policy);
    curl_easy_setopt(h, CURLOPT_PRIVATE, this);
    // Shoutcast-style servers answer "ICY 200 OK"; libcurl takes it for a 200 only when told.
    statusAliases_.reset(curl_slist_append(nullptr, "ICY 200 OK"));
    curl_easy_setopt(h, CURLOPT_HTTP200ALIASES, statusAliases_.get());
    curl_slist* headers = nullptr;
    if (!options_.rangeHeader.empty()) {
        const std::string line = "Range: " + options_.rangeHeader;
        headers = curl_slist_append(headers, line.c_str());
    } else if (options_.requestIcyMetadata) {
        headers = curl_slist_append(headers, "Icy-MetaData: 1");
    }
    if (headers) {
        requestHeaders_.reset(headers);
        curl_easy_setopt(h, CURLOPT_HTTPHEADER, requestHeaders_.get());
    }
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &CurlReadStream::onBody);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, &CurlReadStream::onHeader);
    curl_easy_setopt(h, CURLOPT_HEADERDATA, this);
    if (!ok || !statusAliases_) {
        easy_.reset();
        return false;
    }
    opened_ = true;
    startTransfer();
    return true;
}

void CurlReadStream::setClient(int eventMask, ReadStreamClientCallback callback, void* clientInfo) {
    eventMask_ = callback ? eventMask : 0;
    callback_ = callback;
    clientInfo_ = clientInfo;
}

void CurlReadStream::scheduleWithRunLoop(const std::shared_ptr<RunLoop>& runLoop) {
    auto loop = std::dynamic_pointer_cast<CurlRunLoop>(runLoop);
    if (closed_ || !loop || loop_) return;
    loop_ = std::move(loop);
    loop_->add(this);
    startTransfer();
}

// The transfer starts once the stream is both open and scheduled, whichever came first.
void CurlReadStream::startTransfer() {
    if (!opened_ || !loop_ || attached_ || finished_) return;
    restartWatchdog();
    if (loop_->attach(easy_.get())) {
        attached_ = true;
    } else {
        fail("cannot start the transfer");
    }
}

bool CurlReadStream::hasBytesAvailable() { return !closed_ && !ring_.empty(); }

long CurlReadStream::read(uint8_t* buffer, long maxLength) {
    if (closed_) return -1;
    bytesSignalled_ = false;
    if (!ring_.empty()) {
        return maxLength <= 0
                   ? 0
                   : static_cast<long>(ring_.read(buffer, static_cast<size_t>(maxLength)));
    }
    return failed_ ? -1 : 0;
}

std::map<std::string, std::string> CurlReadStream::responseHeaders() {
    if (!headersComplete_) return {};
    return headers_;
}

void CurlReadStream::close() {
    if (closed_) return;
    closed_ = true;
    if (attached_) {
        loop_->detach(easy_.get());
        attached_ = false;
    }
    if (loop_) {
        loop_->remove(this);
        loop_.reset();
    }
    easy_.reset();
    ring_.clear();
}

void CurlReadStream::resumeIfRoom() {
    if (!paused_ || !attached_ || ring_.space() < kRefillSpace) return;
    // Cleared first: unpausing hands over the held-back chunk at once, which may pause again.
    paused_ = false;
    restartWatchdog();
    curl_easy_pause(easy_.get(), CURLPAUSE_CONT);
}

bool CurlReadStream::wantsData() const {
    return attached_ && !finished_ && ring_.space() >= kRefillSpace;
}

void CurlReadStream::transferFinished(CURLcode result) {
    if (attached_) {
        loop_->detach(easy_.get());
        attached_ = false;
    }
    if (finished_) return;
    finished_ = true;
    // A range past the end answered 416 is the end of the resource, not a failure.
    if (result != CURLE_OK && status_ != 416) {
        failed_ = true;
        error_ = wrongRange_  ? "the server sent another part than the one asked for"
                 : icyFailed_ ? "the stream's metadata is malformed"
                              : curl_easy_strerror(result);
    }
}

void CurlReadStream::fail(std::string why) {
    if (attached_) {
        loop_->detach(easy_.get());
        attached_ = false;
    }
    finished_ = true;
    failed_ = true;
    error_ = std::move(why);
}

std::optional<CurlReadStream::Clock::time_point> CurlReadStream::checkStall(Clock::time_point now) {
    if (!attached_ || finished_ || paused_) return std::nullopt;
    const auto bound = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(options_.stallTimeoutSeconds));
    if (now - lastActivity_ >= bound) {
        fail("no data received for " + std::to_string(options_.stallTimeoutSeconds) + " s");
        return std::nullopt;
    }
    return lastActivity_ + bound;
}

void CurlReadStream::restartWatchdog() {
    lastActivity_ = Clock::now();
    bytesSinceActivity_ = 0;
}

void CurlReadStream::noteArrived(size_t bytes) {
    // Progress is a window's worth of bytes at the slowest rate worth listening to, not any
    // byte at all: a server that trickles a byte every few seconds is as stuck as a silent one.
    const double wanted = std::max(1.0, kMinimumBytesPerSecond * options_.stallTimeoutSeconds);
    bytesSinceActivity_ += bytes;
    if (double(bytesSinceActivity_) >= wanted) restartWatchdog();
}

int CurlReadStream::pendingEvent() const {
    if (closed_) return 0;
    // Bytes first: the end and the error come only after the last byte has been read.
    if (!ring_.empty()) {
        return (!bytesSignalled_ && (eventMask_ & kReadStreamEventHasBytesAvailable))
                   ? kReadStreamEventHasBytesAvailable
                   : 0;
    }
    if (!finished_) return 0;
    if (failed_) {
        return (!errorDelivered_ && (eventMask_ & kReadStreamEventErrorOccurred))
                   ? kReadStreamEventErrorOccurred
                   : 0;
    }
    return (!endDelivered_ && (eventMask_ & kReadStreamEventEndEncountered))
               ? kReadStreamEventEndEncountered
               : 0;
}

void CurlReadStream::deliver(int event) {
    if (event == 0 || !callback_) return;
    switch (event) {
        case kReadStreamEventHasBytesAvailable: bytesSignalled_ = true; break;
        case kReadStreamEventErrorOccurred: errorDelivered_ = true; break;
        case kReadStreamEventEndEncountered: endDelivered_ = true; break;
        default: break;
    }
    callback_(this, event, clientInfo_);
}

size_t CurlReadStream::onHeader(char* data, size_t size, size_t count, void* self) {
    auto* stream = static_cast<CurlReadStream*>(self);
    stream->noteArrived(size * count);
    stream->takeHeaderLine(std::string_view(data, size * count));
    return size * count;
}

void CurlReadStream::takeHeaderLine(std::string_view line) {
    if (auto status = parseStatusLine(line)) {
        // A new response (after a redirect or an interim 1xx) replaces the previous one.
        status_ = *status;
        headers_.clear();
        headersComplete_ = false;
        return;
    }
    std::string name;
    std::string value;
    if (parseHeaderField(line, name, value)) {
        auto [it, inserted] = headers_.try_emplace(name, value);
        if (!inserted) it->second += ", " + value;
    } else if (line == "\r\n" || line == "\n") {
        headersComplete_ = true;
    }
}

// The first body byte of the final response decides what to do with the body.
void CurlReadStream::startBody() {
    bodyStarted_ = true;
    headersComplete_ = true;
    if (options_.requestIcyMetadata && options_.rangeHeader.empty()) {
        const auto announced = headers_.find("Icy-Metaint");
        const std::optional<size_t> interval =
            announced == headers_.end() ? std::nullopt
                                        : IcyMetadataFilter::parseInterval(announced->second);
        if (interval) icy_ = std::make_unique<IcyMetadataFilter>(*interval);
    }
    if (status_ == 416) {
        discardBody_ = true;
    } else if (status_ == 200 && rangeStart_) {
        // The server ignored our Range: drop what lies before the offset we asked for.
        skipRemaining_ = *rangeStart_;
    } else if (status_ == 206 && rangeStart_) {
        // A part that starts elsewhere than asked is never played as the asked position:
        // one that starts earlier is skipped up to it, one that starts later (or cannot be
        // read) leaves a gap and fails.
        const auto range = headers_.find("Content-Range");
        const std::optional<uint64_t> start =
            range == headers_.end() ? std::nullopt : contentRangeStart(range->second);
        if (start && *start <= *rangeStart_) {
            skipRemaining_ = *rangeStart_ - *start;
        } else {
            wrongRange_ = true;
        }
    }
}

size_t CurlReadStream::onBody(char* data, size_t size, size_t count, void* self) {
    return static_cast<CurlReadStream*>(self)->takeBody(reinterpret_cast<const uint8_t*>(data),
                                                        size * count);
}

size_t CurlReadStream::takeBody(const uint8_t* data, size_t length) {
    if (!bodyStarted_) startBody();
    // Refusing the bytes ends the transfer with a write error, reported as the error event.
    if (wrongRange_) return 0;
    if (discardBody_) {
        noteArrived(length);
        return length;
    }
    const size_t skip = static_cast<size_t>(std::min<uint64_t>(skipRemaining_, length));
    const size_t keep = length - skip;
    // Pausing hands the same chunk back later, so nothing may be consumed before this check.
    // The metadata filter may release a withheld block on top of the chunk.
    const size_t mostOut = icy_ ? keep + IcyMetadataFilter::kMaxWithheldBytes : keep;
    if (mostOut > ring_.space()) {
        paused_ = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    noteArrived(length);
    skipRemaining_ -= skip;
    if (keep == 0) return length;
    if (icy_) {
        filtered_.clear();
        const bool intact = icy_->take(data + skip, keep, filtered_);
        for (std::string& title : icy_->takeTitles()) titles_.push_back(std::move(title));
        if (!filtered_.empty()) {
            ring_.write(reinterpret_cast<const uint8_t*>(filtered_.data()), filtered_.size());
            bytesSignalled_ = false;
        }
        if (!intact) {
            // Refusing the chunk ends the transfer; the reason is ours, not libcurl's.
            error_ = "the stream's metadata is malformed";
            icyFailed_ = true;
            return 0;
        }
        return length;
    }
    ring_.write(data + skip, keep);
    bytesSignalled_ = false;
    return length;
}

std::vector<std::string> CurlReadStream::takeStreamTitles() {
    std::vector<std::string> titles;
    titles.swap(titles_);
    return titles;
}

}  // namespace platform::http
