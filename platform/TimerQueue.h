#pragma once
// Timers kept in due-time order for the queues that run their own clock (the deterministic
// test queue and the command-line loop). Main thread only.

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <utility>

#include "platform/MainQueue.h"

namespace platform {

class TimerQueue {
public:
    std::shared_ptr<Timer> add(double now, double seconds, bool repeats, TimerCallback callback);

    // Due time of the earliest valid timer, if any.
    std::optional<double> nextDue();

    // Fires the earliest timer if it is due at `now`; returns false when none is due.
    // The callback runs with no internal state borrowed, so it may add or invalidate timers.
    bool fireOneDue(double now);

    bool empty();

private:
    class Entry;
    // Ordered by due time, then by creation order so equal due times fire in schedule order.
    std::map<std::pair<double, uint64_t>, std::shared_ptr<Entry>> pending_;
    uint64_t nextSequence_ = 0;
    void dropInvalid();
};

}  // namespace platform
