#pragma once
// The main thread's queue: everything the screens, timers, notifications and alerts do runs
// through it. Three implementations: Qt's event loop in the application, a deterministic
// queue on virtual time in tests, and a plain thread-based loop for command-line tools.
//
// Threads: post and postAfter may be called from any thread and never wait. Timers are
// created, fired and invalidated on the main thread only.

#include <functional>
#include <memory>

namespace platform {

class MainQueue;

// A scheduled callback. Invalidating it (also from inside its own callback) guarantees that
// it never fires again; a one-shot timer invalidates itself after it fires.
class Timer {
public:
    virtual ~Timer() = default;
    virtual void invalidate() = 0;
    virtual bool isValid() const = 0;
    virtual double interval() const = 0;
};

using TimerCallback = std::function<void(Timer&)>;

class MainQueue {
public:
    virtual ~MainQueue() = default;

    // True on the thread that runs this queue.
    virtual bool isMainThread() const = 0;

    // Runs the task on the main thread later; never runs it inline and never waits.
    virtual void post(std::function<void()> task) = 0;

    // Runs the task on the main thread once `seconds` have passed.
    virtual void postAfter(double seconds, std::function<void()> task) = 0;

    // A timer firing every `seconds` (repeats) or once. The queue keeps the timer alive until it
    // is invalidated; the returned handle may be dropped.
    virtual std::shared_ptr<Timer> scheduleTimer(double seconds, bool repeats,
                                                 TimerCallback callback) = 0;

    // Seconds on this queue's clock (virtual in tests), for measuring intervals.
    virtual double now() const = 0;

    // The process's main queue. Installed once by main() or by a test fixture.
    static MainQueue& main();
    static bool hasMain();
    static void setMain(std::shared_ptr<MainQueue> queue);

    // Convenience: run on the main thread now when already there, else post.
    static void runOnMain(std::function<void()> task);
};

}  // namespace platform
