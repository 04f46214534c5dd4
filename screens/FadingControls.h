#pragma once
// The players' play button and volume container, shown, hidden and faded as a pair: after a
// fresh start they are held at full opacity for 2.9 s, then lose 0.02 alpha every 0.1 s tick
// and are hidden once the alpha reaches 0, 8.0 s after the start. "ShowControls" brings them
// back at full opacity without resetting the hold, so controls already past their hold fade
// again at once.
//
// Main thread only: the fade timer is a MainQueue timer. The owner's destructor destroys this
// object, which invalidates the timer, so no tick outlives the screen.

#include <QPointer>
#include <cstdint>
#include <memory>

#include "platform/MainQueue.h"
#include "platform/ui/View.h"

class FadingControls {
public:
    static constexpr double kTickInterval = 0.1;
    // Ticks at full opacity after a fresh start: the 30th tick starts the fade.
    static constexpr int32_t kHoldTicks = 29;
    static constexpr double kAlphaStep = 0.02;

    FadingControls() = default;
    ~FadingControls();
    FadingControls(const FadingControls&) = delete;
    FadingControls& operator=(const FadingControls&) = delete;

    // The pair; the views belong to the screen's view hierarchy.
    void setControls(ui::View* playButton, ui::View* valView);

    // Stops the running fade timer, if any, and schedules a new one. Visibility, alpha and the
    // tick count stay as they are.
    void restartTimer();
    // ShowControl: a new timer, and both controls visible at full opacity.
    void showControls();
    // A fresh start: a new timer, both controls unhidden and the count back to 0.
    void startFresh();
    // One tick of the fade timer.
    void myMethod(platform::Timer& timer);
    void stop();

    int32_t count() const { return count_; }
    bool isTimerRunning() const { return timer_ && timer_->isValid(); }

private:
    void setPair(float alpha, bool hidden);

    QPointer<ui::View> playButton_;
    QPointer<ui::View> valView_;
    int32_t count_ = 0;
    std::shared_ptr<platform::Timer> timer_;
};
