#include "platform/LoopMainQueue.h"

#include <chrono>

namespace platform {

namespace {
double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}
}  // namespace

LoopMainQueue::LoopMainQueue() : mainThread_(std::this_thread::get_id()) {}

bool LoopMainQueue::isMainThread() const {
    std::lock_guard lock(mutex_);
    return std::this_thread::get_id() == mainThread_;
}

void LoopMainQueue::post(std::function<void()> task) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(task));
    }
    wake_.notify_one();
}

void LoopMainQueue::postAfter(double seconds, std::function<void()> task) {
    if (!isMainThread()) {
        post([this, seconds, task = std::move(task)]() mutable {
            postAfter(seconds, std::move(task));
        });
        return;
    }
    timers_.add(now(), seconds, false, [task = std::move(task)](Timer&) { task(); });
}

std::shared_ptr<Timer> LoopMainQueue::scheduleTimer(double seconds, bool repeats,
                                                    TimerCallback callback) {
    return timers_.add(now(), seconds, repeats, std::move(callback));
}

double LoopMainQueue::now() const { return steadySeconds(); }

void LoopMainQueue::quit() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_one();
}

void LoopMainQueue::run() {
    {
        std::lock_guard lock(mutex_);
        mainThread_ = std::this_thread::get_id();
        quit_ = false;
    }
    for (;;) {
        while (timers_.fireOneDue(now())) {
        }
        std::function<void()> task;
        {
            std::unique_lock lock(mutex_);
            if (quit_) return;
            if (posted_.empty()) {
                auto due = timers_.nextDue();
                auto ready = [this] { return quit_ || !posted_.empty(); };
                if (due) {
                    wake_.wait_for(lock, std::chrono::duration<double>(*due - now()), ready);
                } else {
                    wake_.wait(lock, ready);
                }
                continue;
            }
            task = std::move(posted_.front());
            posted_.pop_front();
        }
        task();
    }
}

void LoopMainQueue::drainPosted() {
    for (;;) {
        std::function<void()> task;
        {
            std::lock_guard lock(mutex_);
            if (posted_.empty()) return;
            task = std::move(posted_.front());
            posted_.pop_front();
        }
        task();
    }
}

}  // namespace platform
