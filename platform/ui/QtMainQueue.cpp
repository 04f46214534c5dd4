#include "platform/ui/QtMainQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <cmath>

namespace ui {

class QtMainQueue::QtTimer : public platform::Timer,
                             public std::enable_shared_from_this<QtMainQueue::QtTimer> {
public:
    QtTimer(QtMainQueue& queue, double seconds, bool repeats, platform::TimerCallback callback)
        : queue_(&queue), interval_(seconds), repeats_(repeats), callback_(std::move(callback)) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setSingleShot(!repeats);
        // Whole milliseconds: Qt's timers count in them. A repeating timer never runs at 0 ms,
        // which would starve the event loop.
        const int ms = static_cast<int>(std::lround(seconds * 1000.0));
        timer_.setInterval(repeats ? std::max(ms, 1) : std::max(ms, 0));
        QObject::connect(&timer_, &QTimer::timeout, &timer_, [this] { fire(); });
    }

    void start() { timer_.start(); }

    void invalidate() override {
        if (!valid_) return;
        valid_ = false;
        timer_.stop();
        // The queue drops its reference; a callback that is running keeps its own.
        if (queue_) queue_->forget(this);
    }
    bool isValid() const override { return valid_; }
    double interval() const override { return interval_; }
    void detach() {
        queue_ = nullptr;
        valid_ = false;
        timer_.stop();
    }

private:
    void fire() {
        if (!valid_) return;
        // Keep this timer alive while its callback runs: the callback may invalidate it.
        std::shared_ptr<QtTimer> self = shared_from_this();
        callback_(*this);
        if (!repeats_) invalidate();
        if (!valid_) {
            // The last reference may be this one; the QTimer must not be deleted inside its
            // own timeout signal, so let the event loop drop it.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(), [self] {}, Qt::QueuedConnection);
        }
    }

    QtMainQueue* queue_;
    double interval_;
    bool repeats_;
    platform::TimerCallback callback_;
    bool valid_ = true;
    QTimer timer_;
};

QtMainQueue::QtMainQueue()
    : receiver_(std::make_unique<QObject>()), mainThread_(std::this_thread::get_id()) {
    clock_.start();
}

QtMainQueue::~QtMainQueue() {
    for (const auto& timer : timers_) timer->detach();
    timers_.clear();
}

bool QtMainQueue::isMainThread() const { return std::this_thread::get_id() == mainThread_; }

void QtMainQueue::post(std::function<void()> task) {
    // A queued call is thread safe and always runs later, in the receiver's (main) thread.
    QMetaObject::invokeMethod(receiver_.get(), std::move(task), Qt::QueuedConnection);
}

void QtMainQueue::postAfter(double seconds, std::function<void()> task) {
    if (!isMainThread()) {
        post([this, seconds, task = std::move(task)]() mutable {
            postAfter(seconds, std::move(task));
        });
        return;
    }
    scheduleTimer(seconds, false, [task = std::move(task)](platform::Timer&) { task(); });
}

std::shared_ptr<platform::Timer> QtMainQueue::scheduleTimer(double seconds, bool repeats,
                                                            platform::TimerCallback callback) {
    auto timer = std::make_shared<QtTimer>(*this, seconds, repeats, std::move(callback));
    timers_.insert(timer);
    timer->start();
    return timer;
}

void QtMainQueue::forget(QtTimer* timer) {
    for (auto it = timers_.begin(); it != timers_.end(); ++it) {
        if (it->get() == timer) {
            // Deleting the QTimer from inside its own timeout is not allowed; a callback that is
            // running holds its own reference, so erasing here never deletes it mid-signal.
            timers_.erase(it);
            return;
        }
    }
}

double QtMainQueue::now() const { return static_cast<double>(clock_.nsecsElapsed()) / 1e9; }

}  // namespace ui
