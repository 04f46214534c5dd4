#include "screens/FadingControls.h"

FadingControls::~FadingControls() { stop(); }

void FadingControls::setControls(ui::View* playButton, ui::View* valView) {
    playButton_ = playButton;
    valView_ = valView;
}

void FadingControls::stop() {
    if (timer_) timer_->invalidate();
    timer_.reset();
}

void FadingControls::restartTimer() {
    stop();
    timer_ = platform::MainQueue::main().scheduleTimer(
        kTickInterval, true, [this](platform::Timer& timer) { myMethod(timer); });
}

void FadingControls::showControls() {
    restartTimer();
    for (ui::View* control : {playButton_.data(), valView_.data()}) {
        if (!control) continue;
        control->setHidden(false);
        control->setAlpha(1.0f);
    }
}

void FadingControls::startFresh() {
    restartTimer();
    for (ui::View* control : {playButton_.data(), valView_.data()}) {
        if (control) control->setHidden(false);
    }
    count_ = 0;
}

void FadingControls::myMethod(platform::Timer& timer) {
    ++count_;
    if (count_ <= kHoldTicks) return;
    // A screen whose view was unloaded has no button left: its alpha counts as 0, which ends
    // the fade instead of ticking on for nothing.
    const double current = playButton_ ? static_cast<double>(playButton_->alpha()) : 0.0;
    const auto alpha = static_cast<float>(current - kAlphaStep);
    if (alpha <= 0) {
        timer.invalidate();
        if (timer_.get() == &timer) timer_.reset();
        for (ui::View* control : {playButton_.data(), valView_.data()}) {
            if (control) control->setHidden(true);
        }
        count_ = 0;
    }
    // The last step leaves a small negative alpha; ShowControl puts it back to 1.
    for (ui::View* control : {playButton_.data(), valView_.data()}) {
        if (control) control->setAlpha(alpha);
    }
}
