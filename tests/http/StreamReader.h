#pragma once
// Drives one ReadStream on the calling thread the way the streaming engine does: schedule on
// RunLoop::current(), run the loop in 0.25 s slices, read at most 2048 bytes per
// bytes-available event, and record what happened.

#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/http/ReadStream.h"

namespace testsupport {

class StreamReader {
public:
    static constexpr long kReadSize = 2048;

    explicit StreamReader(const std::string& url, platform::http::ReadStreamOptions options = {});
    ~StreamReader();

    // Opens and schedules the stream; false when open() refused.
    bool open();
    // Runs the loop until the end or error event, `done`, or the timeout. Returns whether
    // the stream finished (end or error) or `done` held.
    bool run(std::chrono::duration<double> timeout = std::chrono::seconds(10),
             const std::function<bool()>& done = {});

    platform::http::ReadStream& stream() { return *stream_; }
    std::shared_ptr<platform::http::RunLoop> loop() const { return loop_; }

    // While false, bytes-available events are taken without reading (a blocked consumer).
    bool reading = true;
    // Called after each event, for tests that act from inside the callback.
    std::function<void(int event)> onEvent;

    std::string body;
    std::vector<int> events;                     // every event in order, bytes-available included
    std::map<std::string, std::string> headers;  // as seen at the first bytes-available event
    long largestRead = 0;
    int terminalEvents = 0;  // end and error events seen
    bool ended() const {
        return !events.empty() && events.back() == platform::http::kReadStreamEventEndEncountered;
    }
    bool failed() const {
        return !events.empty() && events.back() == platform::http::kReadStreamEventErrorOccurred;
    }

private:
    static void callback(platform::http::ReadStream* stream, int event, void* self);
    void handle(int event);

    std::unique_ptr<platform::http::ReadStream> stream_;
    std::shared_ptr<platform::http::RunLoop> loop_;
};

}  // namespace testsupport
