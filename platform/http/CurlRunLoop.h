#pragma once
// The streaming thread's RunLoop over one libcurl multi handle.
//
// Threads: everything but wakeUp runs on the thread that owns the loop (RunLoop::current()).
// wakeUp may come from any thread; it only sets a flag and pokes curl_multi_poll through
// curl_multi_wakeup, so libcurl's pause and unpause stay on the driving thread.
//
// One run drives the transfers (only when a stream has room for more, so that a reader
// draining a full buffer costs no system call), then hands at most one event to one stream's
// client, round robin across streams, or waits in curl_multi_poll until a socket is ready,
// libcurl's next timer, a stall deadline, one of its own timers, a wake-up or the end of the
// slice.

#include <atomic>
#include <chrono>
#include <functional>
#include <vector>

#include "platform/http/CurlHandles.h"
#include "platform/http/ReadStream.h"

namespace platform::http {

class CurlReadStream;

class CurlRunLoop final : public RunLoop {
public:
    CurlRunLoop();
    ~CurlRunLoop() override;

    bool runOnce(double seconds) override;
    void wakeUp() override;
    uint64_t addTimer(double delaySeconds, std::function<void()> callback) override;
    void cancelTimer(uint64_t id) override;

    // Loop thread only, for CurlReadStream.
    void add(CurlReadStream* stream);
    void remove(CurlReadStream* stream);
    // Starts or ends a stream's transfer on this loop's multi handle.
    bool attach(CURL* easy);
    void detach(CURL* easy);

private:
    // Unpauses what has room again, performs, and collects finished transfers.
    void drive();
    CurlReadStream* nextWithEvent();
    // Runs the earliest timer if it is due at `now`; true when it did.
    bool runDueTimer(std::chrono::steady_clock::time_point now);

    struct Timer {
        uint64_t id;
        std::chrono::steady_clock::time_point due;
        std::function<void()> callback;
    };

    CurlMulti multi_;
    std::vector<CurlReadStream*> streams_;  // loop thread only
    std::vector<Timer> timers_;             // loop thread only
    uint64_t nextTimerId_ = 1;
    size_t nextStream_ = 0;
    std::atomic<bool> wakeRequested_{false};
};

}  // namespace platform::http
