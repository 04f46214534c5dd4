#include "screens/RetrySchedule.h"

#include <algorithm>
#include <cmath>

namespace screens {

double RetrySchedule::delay(int attempt) {
    constexpr double kDelays[] = {1, 2, 4, 8, 16};
    constexpr int kCount = sizeof kDelays / sizeof kDelays[0];
    return attempt >= 0 && attempt < kCount ? kDelays[attempt] : 30;
}

RetrySchedule::RetrySchedule(std::function<void()> attempt, std::function<void()> tick)
    : attempt_(std::move(attempt)), tick_(std::move(tick)) {}

RetrySchedule::~RetrySchedule() { cancel(); }

void RetrySchedule::wait() {
    cancel();
    auto& queue = platform::MainQueue::main();
    const double seconds = delay(attempts_);
    attemptAt_ = queue.now() + seconds;
    attemptTimer_ = queue.scheduleTimer(seconds, false, [this](platform::Timer&) { attemptNow(); });
    tickTimer_ = queue.scheduleTimer(1.0, true, [this](platform::Timer&) {
        if (tick_) tick_();
    });
}

void RetrySchedule::attemptNow() {
    cancel();
    ++attempts_;
    if (attempt_) attempt_();
}

void RetrySchedule::cancel() {
    for (auto* timer : {&attemptTimer_, &tickTimer_}) {
        if (*timer) (*timer)->invalidate();
        timer->reset();
    }
}

double RetrySchedule::secondsLeft() const {
    if (!attemptTimer_) return 0;
    return std::max(0.0, attemptAt_ - platform::MainQueue::main().now());
}

std::string RetrySchedule::countdownText() const {
    const int seconds = std::max(1, int(std::ceil(secondsLeft() - 1e-6)));
    return "Reconnecting in " + std::to_string(seconds) + " s\u2026";
}

}  // namespace screens
