#pragma once
// An HTTP GET whose body is read in small non-blocking pieces on the thread that scheduled it,
// driven by that thread's RunLoop. This is the download under the streaming engine.
//
// Threads: create, open, setClient, scheduleWithRunLoop, read, hasBytesAvailable,
// responseHeaders and close are called on one thread, the one whose RunLoop drives the stream
// (the streaming thread). RunLoop::wakeUp may be called from any thread.
//
// Contract (implemented over libcurl's multi interface):
// - GET over HTTP/1.1; only http and https; redirects followed silently up to a bound and
//   never from https down to http; certificates and host names verified; no compressed
//   transfer encodings asked for. "ICY 200 OK" is accepted like HTTP 200.
// - With a Range value "bytes=N-..." a server that ignores it (200 from byte 0) has its first
//   N bytes skipped here, so the caller always gets the body from where it asked. So does a
//   206 whose Content-Range starts before N; one that starts after N (or has none readable)
//   gives the error event instead of a body from the wrong place. 416 is end.
// - Status codes are otherwise not examined: a 404's body arrives as bytes.
// - Back-pressure: while nobody reads, the transfer pauses once a small internal buffer is
//   full (64 KiB). A connection that brings no worthwhile throughput for `stallTimeoutSeconds`
//   (nothing at all, or a trickle of a few bytes; time paused for back-pressure excluded) gives
//   the error event; so does a refused or unreachable host.
// - Interleaved metadata, when asked for and announced, never reaches the reader; a stream
//   whose blocks turn out malformed gives the error event rather than noise.
// - Events: after open, only from inside RunLoop::runOnce on the scheduling thread, one per
//   run. Bytes-available comes again on a later run while unread bytes remain, provided the
//   client read since the last one or new bytes arrived (a client that declines to read is
//   not called again and again for the same bytes; a read of its own takes them up again).
//   End comes after the last byte has been read; error instead of end when the transfer
//   failed, also after the bytes that arrived before the failure. A closed stream delivers
//   nothing more, and close() from inside the callback is safe.
// - Response header names are given in their usual spelling ("Content-Length" whatever case
//   the server used); repeated fields are joined with ", ".

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform::http {

// Event types, as bit values of the client mask.
enum : int {
    kReadStreamEventHasBytesAvailable = 2,
    kReadStreamEventErrorOccurred = 8,
    kReadStreamEventEndEncountered = 16,
};

class ReadStream;
class RunLoop;

using ReadStreamClientCallback = void (*)(ReadStream* stream, int eventType, void* clientInfo);

struct ReadStreamOptions {
    std::string rangeHeader;  // the Range header's value, empty for none
    // A connection that goes this long without a byte (not counting back-pressure pauses)
    // is an error: long enough for a slow mobile link or a server warming up a stream.
    double stallTimeoutSeconds = 20.0;
    long maxRedirects = 8;
    std::string caFile;  // extra CA bundle to trust (tests); the system store otherwise
    // Asks for interleaved stream metadata (`Icy-MetaData: 1`); a server that answers with an
    // `icy-metaint` has its metadata blocks taken out of the body, so that the body is the
    // audio alone, and their titles kept (takeStreamTitles). Not sent with a Range, since a
    // ranged body's place in the interleaving is unknown.
    bool requestIcyMetadata = false;
};

class ReadStream {
public:
    static std::unique_ptr<ReadStream> create(const std::string& url,
                                              const ReadStreamOptions& options = {});
    virtual ~ReadStream() = default;

    // Whether redirects are followed silently (the default is off, as with the platform's
    // stream). Returns whether the setting was accepted.
    virtual bool setShouldAutoredirect(bool follow) = 0;

    // Starts the connection asynchronously. False when the request cannot even be started.
    virtual bool open() = 0;

    // Registers the client for the events in `eventMask`.
    virtual void setClient(int eventMask, ReadStreamClientCallback callback, void* clientInfo) = 0;

    // Events are delivered from inside runOnce of this loop, on its thread.
    virtual void scheduleWithRunLoop(const std::shared_ptr<RunLoop>& runLoop) = 0;

    virtual bool hasBytesAvailable() = 0;

    // Non-blocking: up to maxLength bytes; 0 at the end; -1 on error.
    virtual long read(uint8_t* buffer, long maxLength) = 0;

    // The final response's header fields (after redirects), available from the first
    // bytes-available event on; empty before.
    virtual std::map<std::string, std::string> responseHeaders() = 0;

    // Ends the transfer and unschedules the stream; no event is delivered afterwards.
    virtual void close() = 0;

    // Why the stream failed, for logs (e.g. "Couldn't connect to server"); empty otherwise.
    virtual std::string errorDescription() const { return {}; }

    // The final response's HTTP status, from the first bytes-available event on; 0 before.
    virtual int statusCode() const { return 0; }

    // The StreamTitle values the server sent since the last call, in order (UTF-8).
    virtual std::vector<std::string> takeStreamTitles() { return {}; }
};

// One per thread. Streams scheduled on it deliver their events inside runOnce.
class RunLoop {
public:
    // The calling thread's loop, created on first use.
    static std::shared_ptr<RunLoop> current();
    // Lets go of the calling thread's loop now rather than when the thread's storage is torn
    // down, which comes after everything the thread body does: a thread that announces its end
    // must not own open descriptors any more. The loop closes once its last holder lets go.
    static void releaseCurrent();
    virtual ~RunLoop() = default;

    // Handles at most one event and returns true, or returns true after `seconds` with none.
    // Returns false at once when no stream is scheduled on this loop.
    virtual bool runOnce(double seconds) = 0;

    // Any thread: makes a waiting runOnce return early (it then reports true).
    virtual void wakeUp() = 0;

    // Loop thread: `callback` runs from inside a later runOnce once `delaySeconds` have passed
    // (as that run's one event). A pending timer keeps the loop busy as a scheduled stream does,
    // so a stream made of several downloads (HLS) can wait between them. Returns an id for
    // cancelTimer, which is harmless for a timer that already ran.
    virtual uint64_t addTimer(double delaySeconds, std::function<void()> callback) = 0;
    virtual void cancelTimer(uint64_t id) = 0;
};

}  // namespace platform::http
