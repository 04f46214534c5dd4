#pragma once
// ReadStream over one libcurl easy handle driven by a CurlRunLoop.
//
// The body goes from libcurl's write callback into a fixed ring (kRingCapacity). When a
// chunk does not fit, the callback pauses the transfer; the loop unpauses it once the reader
// has made room, so a reader that stops reading stops the socket reads and TCP throttles the
// server. Time spent paused does not count towards the stall bound.
//
// Threads: all members run on the thread of the loop the stream is scheduled on.

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/http/ByteRing.h"
#include "platform/http/CurlHandles.h"
#include "platform/http/IcyMetadataFilter.h"
#include "platform/http/ReadStream.h"

namespace platform::http {

class CurlRunLoop;

class CurlReadStream final : public ReadStream {
public:
    using Clock = std::chrono::steady_clock;

    // 64 KiB holds four of libcurl's largest write-callback chunks (16 KiB): enough to keep
    // 2048-byte reads fed between socket reads, small enough that a stalled reader throttles
    // the server almost at once.
    static constexpr size_t kRingCapacity = 64 * 1024;
    // The transfer is driven again (and unpaused) once this much room is free.
    static constexpr size_t kRefillSpace = 32 * 1024;
    // The slowest a connection may bring bytes and still count as alive to the stall bound:
    // far below any audio stream (8 kbit/s is 1,000 bytes a second), far above a server that
    // trickles a byte every few seconds to keep a dead stream open.
    static constexpr double kMinimumBytesPerSecond = 10.0;

    CurlReadStream(std::string url, ReadStreamOptions options);
    ~CurlReadStream() override;

    bool setShouldAutoredirect(bool follow) override;
    bool open() override;
    void setClient(int eventMask, ReadStreamClientCallback callback, void* clientInfo) override;
    void scheduleWithRunLoop(const std::shared_ptr<RunLoop>& runLoop) override;
    bool hasBytesAvailable() override;
    long read(uint8_t* buffer, long maxLength) override;
    std::map<std::string, std::string> responseHeaders() override;
    void close() override;
    std::string errorDescription() const override { return error_; }
    int statusCode() const override { return status_; }
    std::vector<std::string> takeStreamTitles() override;

    // For CurlRunLoop, on its thread.
    void resumeIfRoom();
    bool wantsData() const;
    void transferFinished(CURLcode result);
    // Fails the transfer when it has gone too long without a byte; returns the time at
    // which that would happen, if the transfer is waiting for one.
    std::optional<Clock::time_point> checkStall(Clock::time_point now);
    // Counts bytes that arrived towards the watchdog's progress.
    void noteArrived(size_t bytes);
    void restartWatchdog();
    // The event the client would get now (0 for none).
    int pendingEvent() const;
    // Hands `event` to the client. The stream may be closed or destroyed by the client.
    void deliver(int event);

private:
    static size_t onBody(char* data, size_t size, size_t count, void* self);
    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    size_t takeBody(const uint8_t* data, size_t length);
    void takeHeaderLine(std::string_view line);
    void startBody();
    void startTransfer();
    void fail(std::string why);

    const std::string url_;
    const ReadStreamOptions options_;
    const std::optional<uint64_t> rangeStart_;
    bool followRedirects_ = false;

    CurlEasy easy_;
    CurlSlist requestHeaders_;
    CurlSlist statusAliases_;
    std::shared_ptr<CurlRunLoop> loop_;
    ReadStreamClientCallback callback_ = nullptr;
    void* clientInfo_ = nullptr;
    int eventMask_ = 0;

    bool opened_ = false;
    bool attached_ = false;  // the easy handle is on the loop's multi handle
    bool closed_ = false;
    bool paused_ = false;
    bool finished_ = false;  // the transfer is over, well or badly
    bool failed_ = false;
    bool endDelivered_ = false;
    bool errorDelivered_ = false;
    // Set when bytes-available has been delivered; cleared by a read or by new bytes, so
    // that a client that does not read is not called again and again for the same bytes.
    bool bytesSignalled_ = false;
    // The stall watchdog: when the connection last made progress (started, resumed, or brought
    // the window's worth of bytes), and the bytes since.
    Clock::time_point lastActivity_{};
    uint64_t bytesSinceActivity_ = 0;
    std::string error_;

    // The response being received; a new status line (a redirect, an interim response)
    // starts it anew.
    int status_ = 0;
    std::map<std::string, std::string> headers_;
    bool headersComplete_ = false;
    bool bodyStarted_ = false;
    bool discardBody_ = false;  // a 416's body is not the resource
    uint64_t skipRemaining_ = 0;
    // A 206 whose part starts after the byte asked for: the body is refused.
    bool wrongRange_ = false;
    bool icyFailed_ = false;

    ByteRing ring_;
    // Set at the body's start when the server interleaves metadata.
    std::unique_ptr<IcyMetadataFilter> icy_;
    std::string filtered_;  // one chunk's audio on its way into the ring
    std::vector<std::string> titles_;
};

}  // namespace platform::http
