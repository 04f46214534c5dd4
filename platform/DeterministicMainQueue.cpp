#include "platform/DeterministicMainQueue.h"

namespace platform {

DeterministicMainQueue::DeterministicMainQueue() : mainThread_(std::this_thread::get_id()) {}

bool DeterministicMainQueue::isMainThread() const {
    std::lock_guard lock(mutex_);
    return std::this_thread::get_id() == mainThread_;
}

void DeterministicMainQueue::adoptCurrentThread() {
    std::lock_guard lock(mutex_);
    mainThread_ = std::this_thread::get_id();
}

void DeterministicMainQueue::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(task));
    }
    postedCondition_.notify_all();
}

void DeterministicMainQueue::postAfter(double seconds, std::function<void()> task) {
    if (!isMainThread()) {
        // Timers belong to the main thread; hop there first, then count from that moment.
        post([this, seconds, task = std::move(task)]() mutable {
            postAfter(seconds, std::move(task));
        });
        return;
    }
    timers_.add(clock_, seconds, false, [task = std::move(task)](Timer&) { task(); });
}

std::shared_ptr<Timer> DeterministicMainQueue::scheduleTimer(double seconds, bool repeats,
                                                             TimerCallback callback) {
    return timers_.add(clock_, seconds, repeats, std::move(callback));
}

double DeterministicMainQueue::now() const { return clock_; }

bool DeterministicMainQueue::runOnePosted() {
    std::function<void()> task;
    {
        std::lock_guard lock(mutex_);
        if (posted_.empty()) return false;
        task = std::move(posted_.front());
        posted_.pop_front();
    }
    task();
    return true;
}

size_t DeterministicMainQueue::drain() {
    size_t count = 0;
    while (runOnePosted()) ++count;
    return count;
}

void DeterministicMainQueue::advance(double seconds) {
    const double target = clock_ + seconds;
    drain();
    for (;;) {
        auto due = timers_.nextDue();
        // A small tolerance keeps 80 steps of 0.1 s from missing the last one to rounding.
        if (!due || *due > target + 1e-9) break;
        if (*due > clock_) clock_ = *due;
        timers_.fireOneDue(clock_ + 1e-9);
        drain();
    }
    clock_ = target;
    drain();
}

bool DeterministicMainQueue::runUntil(const std::function<bool()>& done,
                                      std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        drain();
        if (done()) return true;
        std::unique_lock lock(mutex_);
        if (!postedCondition_.wait_until(lock, deadline, [this] { return !posted_.empty(); })) {
            lock.unlock();
            drain();
            return done();
        }
    }
}

bool DeterministicMainQueue::runUntilAdvancing(const std::function<bool()>& done, double step,
                                               std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (drain() == 0) advance(step);
        if (done()) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::unique_lock lock(mutex_);
        // Give other threads a moment to post; wake at once when they do.
        postedCondition_.wait_for(lock, std::chrono::milliseconds(1),
                                  [this] { return !posted_.empty(); });
    }
}

size_t DeterministicMainQueue::pendingCount() const {
    std::lock_guard lock(mutex_);
    return posted_.size();
}

}  // namespace platform
