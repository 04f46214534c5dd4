#include "app/KeyboardShortcuts.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QWidget>
#include <algorithm>

#include "app/myTabeBare.h"
#include "platform/NotificationCenter.h"
#include "platform/ui/Button.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Slider.h"
#include "platform/ui/TabBarController.h"
#include "platform/ui/TableView.h"
#include "platform/ui/VolumeView.h"
#include "screens/OnDemandPlayer.h"

namespace {

constexpr double kSeekStepSeconds = 10;
constexpr float kVolumeStep = 0.1f;
// Mouse movement brings the controls back at most this often: a moving pointer sends a
// hundred events a second, and one "ShowControls" in a quarter second keeps them shown.
constexpr qint64 kMovementIntervalMs = 250;

// Keys that a focused control takes for itself: Return and Space press a focused button,
// the arrows move a focused slider, and a text field takes every plain key.
bool focusedControlTakes(const QWidget* focus, const QKeyEvent& key) {
    if (!focus) return false;
    if (qobject_cast<const QLineEdit*>(focus))
        return key.modifiers() == Qt::NoModifier || key.modifiers() == Qt::ShiftModifier;
    const int code = key.key();
    if (dynamic_cast<const ui::Button*>(focus))
        return code == Qt::Key_Space || code == Qt::Key_Return || code == Qt::Key_Enter;
    if (dynamic_cast<const ui::TableView*>(focus))
        return code == Qt::Key_Up || code == Qt::Key_Down || code == Qt::Key_PageUp ||
               code == Qt::Key_PageDown || code == Qt::Key_Home || code == Qt::Key_End ||
               code == Qt::Key_Return || code == Qt::Key_Enter || code == Qt::Key_Space;
    if (dynamic_cast<const ui::TabBar*>(focus))
        return code == Qt::Key_Left || code == Qt::Key_Right;
    if (dynamic_cast<const ui::Slider*>(focus))
        return code == Qt::Key_Left || code == Qt::Key_Right || code == Qt::Key_Up ||
               code == Qt::Key_Down || code == Qt::Key_Home || code == Qt::Key_End ||
               code == Qt::Key_PageUp || code == Qt::Key_PageDown;
    return false;
}

}  // namespace

KeyboardShortcuts::KeyboardShortcuts(QWidget& root, myTabeBare& tabs, std::function<void()> quit)
    : root_(&root), tabs_(tabs), player_(tabs), quit_(std::move(quit)) {
    // On the application, so that a key reaches us whichever widget has the focus.
    qApp->installEventFilter(this);
    // Movement without a button pressed reaches only widgets that track the mouse.
    root.setMouseTracking(true);
}

KeyboardShortcuts::~KeyboardShortcuts() {
    if (qApp) qApp->removeEventFilter(this);
}

bool KeyboardShortcuts::eventFilter(QObject* watched, QEvent* event) {
    if (!root_) return false;
    auto* widget = qobject_cast<QWidget*>(watched);
    if (event->type() == QEvent::MouseMove) {
        if (widget && (widget == root_ || root_->isAncestorOf(widget)) &&
            (!sinceMovement_.isValid() || sinceMovement_.elapsed() >= kMovementIntervalMs)) {
            sinceMovement_.restart();
            platform::NotificationCenter::defaultCenter().post("ShowControls", nullptr);
        }
        return false;
    }
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
    if (focusedControlTakes(QApplication::focusWidget(), key)) return false;
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
        if (OnDemandPlayer* programme = player_.programme()) programme->goBack();
        return true;
    }
    if (modifiers != Qt::NoModifier) return false;
    switch (key.key()) {
        case Qt::Key_Space: player_.pressPlayButton(); return true;
        case Qt::Key_Escape:
            if (OnDemandPlayer* programme = player_.programme()) programme->goBack();
            return true;
        case Qt::Key_Left: seekBy(-kSeekStepSeconds); return true;
        case Qt::Key_Right: seekBy(kSeekStepSeconds); return true;
        case Qt::Key_Up:
            ui::VolumeView::setOutputVolume(ui::VolumeView::outputVolume() + kVolumeStep);
            return true;
        case Qt::Key_Down:
            ui::VolumeView::setOutputVolume(ui::VolumeView::outputVolume() - kVolumeStep);
            return true;
        default: return false;
    }
}

void KeyboardShortcuts::seekBy(double seconds) {
    if (player_.canSeek()) player_.seekTo(player_.position() + seconds);
}
