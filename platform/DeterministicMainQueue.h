#pragma once
// A main queue for tests: a virtual clock that only moves when the test says so, so that an
// eight-second fade runs in microseconds and in the same order every time.
//
// The "main thread" is the thread that created the queue (rebind with adoptCurrentThread).
// post and postAfter may come from any thread; drain, advance and the wait helpers run on
// the main thread.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "platform/MainQueue.h"
#include "platform/TimerQueue.h"

namespace platform {

class DeterministicMainQueue : public MainQueue {
public:
    DeterministicMainQueue();

    bool isMainThread() const override;
    void post(std::function<void()> task) override;
    void postAfter(double seconds, std::function<void()> task) override;
    std::shared_ptr<Timer> scheduleTimer(double seconds, bool repeats,
                                         TimerCallback callback) override;
    double now() const override;

    void adoptCurrentThread();

    // Runs everything posted so far, and what those tasks post in turn. Returns the count.
    size_t drain();

    // Moves the virtual clock forward, firing every due timer in time order; posted tasks are
    // drained before each timer and at the end.
    void advance(double seconds);

    // Drains posted tasks as they arrive from other threads until `done` holds or the real
    // timeout passes. The virtual clock does not move. Returns whether `done` held.
    bool runUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // Like runUntil, but also advances the virtual clock by `step` on each pass that found
    // nothing posted, so timers keep firing while real threads work.
    bool runUntilAdvancing(const std::function<bool()>& done, double step,
                           std::chrono::milliseconds timeout = std::chrono::seconds(10));

    size_t pendingCount() const;

private:
    bool runOnePosted();

    mutable std::mutex mutex_;  // guards posted_ and mainThread_
    std::condition_variable postedCondition_;
    std::deque<std::function<void()>> posted_;
    std::thread::id mainThread_;

    // Main thread only.
    double clock_ = 0.0;
    TimerQueue timers_;
};

}  // namespace platform
