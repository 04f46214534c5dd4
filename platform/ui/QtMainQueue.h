#pragma once
// The main queue on Qt's event loop, for the application. The thread that creates it (the
// one running QApplication) is the main thread.
//
// Threads: post and postAfter may be called from any thread and never wait; tasks posted from
// other threads are handed over through a queued call into the main thread's event loop.
// Timers are created, fired and invalidated on the main thread only.

#include <QElapsedTimer>
#include <QObject>
#include <memory>
#include <set>
#include <thread>

#include "platform/MainQueue.h"

namespace ui {

class QtMainQueue : public platform::MainQueue {
public:
    QtMainQueue();
    ~QtMainQueue() override;

    bool isMainThread() const override;
    void post(std::function<void()> task) override;
    void postAfter(double seconds, std::function<void()> task) override;
    std::shared_ptr<platform::Timer> scheduleTimer(double seconds, bool repeats,
                                                   platform::TimerCallback callback) override;
    double now() const override;

    // Timers waiting to fire (valid ones), for tests.
    size_t activeTimerCount() const { return timers_.size(); }

private:
    class QtTimer;
    friend class QtTimer;
    void forget(QtTimer* timer);

    std::unique_ptr<QObject> receiver_;  // lives in the main thread; queued calls land on it
    std::thread::id mainThread_;
    QElapsedTimer clock_;
    // Main thread only: the queue keeps every valid timer alive until it is invalidated.
    std::set<std::shared_ptr<QtTimer>> timers_;
};

}  // namespace ui
