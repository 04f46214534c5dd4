#include "tests/http/StreamReader.h"

#include <cstdint>

using platform::http::ReadStream;
using platform::http::RunLoop;

namespace testsupport {

using namespace platform::http;

StreamReader::StreamReader(const std::string& url, ReadStreamOptions options)
    : stream_(ReadStream::create(url, options)), loop_(RunLoop::current()) {}

StreamReader::~StreamReader() { stream_->close(); }

bool StreamReader::open() {
    stream_->setShouldAutoredirect(true);
    if (!stream_->open()) return false;
    stream_->setClient(kReadStreamEventHasBytesAvailable | kReadStreamEventErrorOccurred |
                           kReadStreamEventEndEncountered,
                       &StreamReader::callback, this);
    stream_->scheduleWithRunLoop(loop_);
    return true;
}

bool StreamReader::run(std::chrono::duration<double> timeout, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (terminalEvents > 0 || (done && done())) return true;
        if (!loop_->runOnce(0.25)) return terminalEvents > 0 || (done && done());
    }
    return terminalEvents > 0 || (done && done());
}

void StreamReader::callback(ReadStream*, int event, void* self) {
    static_cast<StreamReader*>(self)->handle(event);
}

void StreamReader::handle(int event) {
    events.push_back(event);
    if (event == kReadStreamEventHasBytesAvailable) {
        if (headers.empty()) headers = stream_->responseHeaders();
        if (reading && stream_->hasBytesAvailable()) {
            uint8_t buffer[kReadSize];
            const long n = stream_->read(buffer, kReadSize);
            if (n > 0) {
                body.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
                largestRead = std::max(largestRead, n);
            }
        }
    } else {
        ++terminalEvents;
    }
    if (onEvent) onEvent(event);
}

}  // namespace testsupport
