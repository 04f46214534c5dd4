#include "app/KeyboardShortcuts.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <algorithm>

#include "app/myTabeBare.h"
#include "platform/NotificationCenter.h"
#include "platform/ui/Button.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Slider.h"
#include "platform/ui/TabBarController.h"
#include "screens/AudioPlayerViewController.h"
#include "screens/OnDemandPlayer.h"
#include "streaming/AudioStreamer.h"

namespace {

constexpr double kSeekStepSeconds = 10;

}  // namespace

KeyboardShortcuts::KeyboardShortcuts(QWidget& root, myTabeBare& tabs, std::function<void()> quit)
    : root_(&root), tabs_(tabs), quit_(std::move(quit)) {
    // On the application, so that a key reaches us whichever widget has the focus.
    qApp->installEventFilter(this);
}

KeyboardShortcuts::~KeyboardShortcuts() {
    if (qApp) qApp->removeEventFilter(this);
}

bool KeyboardShortcuts::eventFilter(QObject* watched, QEvent* event) {
    if (!root_) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (event->type() == QEvent::MouseButtonPress) {
        ui::TabBar* bar = &tabs_.tabBar();
        if (widget && (widget == bar || bar->isAncestorOf(widget)))
            platform::NotificationCenter::defaultCenter().post("ShowControls", nullptr);
        return false;
    }
    if (event->type() != QEvent::KeyPress) return false;
    // Each key press is offered to the focus widget's parents too: take it once, at the widget
    // it was sent to, and only inside our interface.
    if (!widget || (widget != root_ && !root_->isAncestorOf(widget))) return false;
    if (widget != QApplication::focusWidget() && QApplication::focusWidget() &&
        root_->isAncestorOf(QApplication::focusWidget())) {
        return false;
    }
    const auto& key = static_cast<const QKeyEvent&>(*event);
    platform::NotificationCenter::defaultCenter().post("ShowControls", nullptr);
    return handle(key);
}

bool KeyboardShortcuts::handle(const QKeyEvent& key) {
    const Qt::KeyboardModifiers modifiers = key.modifiers() & ~Qt::KeypadModifier;
    if (modifiers == Qt::ControlModifier) {
        switch (key.key()) {
            case Qt::Key_Q:
                if (quit_) quit_();
                return true;
            case Qt::Key_1: tabs_.setSelectedIndex(0); return true;
            case Qt::Key_2: tabs_.setSelectedIndex(1); return true;
            default: return false;
        }
    }
    if (modifiers == Qt::AltModifier && key.key() == Qt::Key_Left) {
        if (OnDemandPlayer* programme = shownProgramme()) programme->goBack();
        return true;
    }
    if (modifiers != Qt::NoModifier) return false;
    switch (key.key()) {
        case Qt::Key_Space: playOrStop(); return true;
        case Qt::Key_Escape:
            if (OnDemandPlayer* programme = shownProgramme()) programme->goBack();
            return true;
        case Qt::Key_Left: seekBy(-kSeekStepSeconds); return true;
        case Qt::Key_Right: seekBy(kSeekStepSeconds); return true;
        default: return false;
    }
}

OnDemandPlayer* KeyboardShortcuts::shownProgramme() const {
    auto* navigation = dynamic_cast<ui::NavigationController*>(tabs_.selectedViewController());
    return navigation ? dynamic_cast<OnDemandPlayer*>(navigation->topViewController()) : nullptr;
}

void KeyboardShortcuts::playOrStop() {
    ui::Button* button = nullptr;
    if (OnDemandPlayer* programme = shownProgramme()) {
        button = programme->playButton();
    } else if (auto* live =
                   dynamic_cast<AudioPlayerViewController*>(tabs_.selectedViewController())) {
        button = live->playButton();
    }
    if (button && button->isEnabled()) button->sendAction();
}

void KeyboardShortcuts::seekBy(double seconds) {
    OnDemandPlayer* programme = shownProgramme();
    if (!programme || !programme->streamer()) return;
    ui::Slider* slider = programme->progressSlider();
    const double duration = programme->streamer()->duration();
    // Only where the screen's own slider may seek.
    if (!slider || !slider->isEnabled() || duration <= 0) return;
    const double target = std::clamp(programme->streamer()->progress() + seconds, 0.0, duration);
    slider->setValue(float(100 * target / duration));
    programme->sliderMoved(*slider);
}
