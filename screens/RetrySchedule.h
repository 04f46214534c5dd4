#pragma once
// When a player tries again after its stream was lost: 1, 2, 4, 8 and 16 s after each failed
// attempt, then every 30 s, with a tick each second of the wait for a countdown on screen.
// A successful attempt resets the count (reset), the listener's stop ends the wait (cancel).
//
// Main thread only. The timers hold no reference to their owner: destroying the schedule
// cancels them, so no callback outlives it.

#include <functional>
#include <memory>
#include <string>

#include "platform/MainQueue.h"

namespace screens {

class RetrySchedule {
public:
    // The wait before attempt `attempt` (0 first).
    static double delay(int attempt);

    // `attempt` runs when a wait ends (counted first); `tick` every second of a wait.
    RetrySchedule(std::function<void()> attempt, std::function<void()> tick);
    ~RetrySchedule();
    RetrySchedule(const RetrySchedule&) = delete;
    RetrySchedule& operator=(const RetrySchedule&) = delete;

    // Waits delay(attempts()) and then makes the next attempt.
    void wait();
    // Ends any wait and makes the next attempt now.
    void attemptNow();
    // Ends any wait; the count stays.
    void cancel();
    // The stream is back: the next loss starts the schedule from its first wait again.
    void reset() { attempts_ = 0; }

    bool isWaiting() const { return attemptTimer_ != nullptr; }
    double secondsLeft() const;
    int attempts() const { return attempts_; }
    // "Reconnecting in N s…", N the whole seconds left, rounded up.
    std::string countdownText() const;

private:
    const std::function<void()> attempt_;
    const std::function<void()> tick_;
    int attempts_ = 0;
    double attemptAt_ = 0;
    std::shared_ptr<platform::Timer> attemptTimer_;
    std::shared_ptr<platform::Timer> tickTimer_;
};

}  // namespace screens
