#include "platform/TimerQueue.h"

#include <algorithm>

namespace platform {

class TimerQueue::Entry : public Timer {
public:
    Entry(double seconds, bool repeats, TimerCallback callback)
        : interval_(seconds), repeats_(repeats), callback_(std::move(callback)) {}

    void invalidate() override { valid_ = false; }
    bool isValid() const override { return valid_; }
    double interval() const override { return interval_; }

    double interval_;
    bool repeats_;
    TimerCallback callback_;
    bool valid_ = true;
};

std::shared_ptr<Timer> TimerQueue::add(double now, double seconds, bool repeats,
                                       TimerCallback callback) {
    // A repeating timer of zero interval would starve the queue; clamp like the platform does.
    const double interval = repeats ? std::max(seconds, 0.0001) : std::max(seconds, 0.0);
    auto entry = std::make_shared<Entry>(interval, repeats, std::move(callback));
    pending_.emplace(std::make_pair(now + interval, nextSequence_++), entry);
    return entry;
}

void TimerQueue::dropInvalid() {
    std::erase_if(pending_, [](const auto& item) { return !item.second->valid_; });
}

std::optional<double> TimerQueue::nextDue() {
    dropInvalid();
    if (pending_.empty()) return std::nullopt;
    return pending_.begin()->first.first;
}

bool TimerQueue::fireOneDue(double now) {
    dropInvalid();
    if (pending_.empty()) return false;
    auto first = pending_.begin();
    const double due = first->first.first;
    if (due > now) return false;
    std::shared_ptr<Entry> entry = first->second;
    pending_.erase(first);
    if (entry->repeats_) {
        // Re-arm before the callback so that an invalidate inside it wins. A loop that fell
        // behind real time skips the missed firings instead of bursting through them.
        const double next = std::max(due + entry->interval_, now);
        pending_.emplace(std::make_pair(next, nextSequence_++), entry);
    }
    entry->callback_(*entry);
    if (!entry->repeats_) entry->valid_ = false;
    return true;
}

bool TimerQueue::empty() {
    dropInvalid();
    return pending_.empty();
}

}  // namespace platform
