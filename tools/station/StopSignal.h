#pragma once
// A stop request that a signal handler may raise and a poll loop can wait on.
//
// request() is async-signal-safe and may be called from any thread; requested() and fd() are
// for the thread that waits. Once raised, the request stays raised.

#include <atomic>

#include "tools/station/UniqueFd.h"

namespace station {

class StopSignal {
public:
    StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    void request();
    bool requested() const { return requested_.load(std::memory_order_acquire); }
    // Readable once a stop has been requested; poll it beside the sockets.
    int fd() const { return event_.get(); }

private:
    std::atomic<bool> requested_{false};
    UniqueFd event_;
};

}  // namespace station
