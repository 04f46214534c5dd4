#pragma once
// A plain main loop for command-line tools: the thread that calls run() becomes the main
// thread and sleeps until a task is posted or a timer falls due. Real time.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/MainQueue.h"
#include "platform/TimerQueue.h"

namespace platform {

class LoopMainQueue : public MainQueue {
public:
    LoopMainQueue();

    bool isMainThread() const override;
    void post(std::function<void()> task) override;
    void postAfter(double seconds, std::function<void()> task) override;
    std::shared_ptr<Timer> scheduleTimer(double seconds, bool repeats,
                                         TimerCallback callback) override;
    double now() const override;

    // Runs tasks and timers on the calling thread until quit() is called (from any thread).
    void run();
    void quit();
    // Runs the tasks already posted (and those they post), without timers, then returns: what
    // was queued before the loop quit (an alert, a last state change) still happens.
    void drainPosted();

private:
    mutable std::mutex mutex_;  // guards posted_, quit_ and mainThread_
    std::condition_variable wake_;
    std::deque<std::function<void()>> posted_;
    bool quit_ = false;
    std::thread::id mainThread_;

    TimerQueue timers_;  // main thread only
};

}  // namespace platform
