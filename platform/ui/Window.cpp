#include "platform/ui/Window.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QResizeEvent>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <cmath>

#include "platform/ui/Animator.h"
#include "platform/ui/Screen.h"

namespace ui {

namespace {
// Below this the text no longer reads.
constexpr float kSmallestScale = 0.75f;
}  // namespace

Window::Window(Rect frame) : View(frame) {
    setRootWindow(true);
    setWindowFlag(Qt::Window);
    setFrame(frame);
    setMinimumSize(int(Screen::kWidth * kSmallestScale), int(Screen::kHeight * kSmallestScale));
    resize(preferredSize(nullptr));
    placeLayout();
}

QSize Window::preferredSize(const QScreen* screen) {
    if (!screen) screen = QGuiApplication::primaryScreen();
    float scale = kPreferredScale;
    if (screen) {
        const double room = screen->availableGeometry().height() * kMostOfScreenHeight;
        scale = std::clamp(float(room / Screen::kHeight), kSmallestScale, kPreferredScale);
    }
    return {int(std::lround(Screen::kWidth * scale)), int(std::lround(Screen::kHeight * scale))};
}

Window::~Window() {
    // The window that paused the animations must not leave them paused after it.
    if (watchingExposure_) Animator::shared().setSuspended(false);
}

bool Window::isSeen() const {
    const QWindow* handle = windowHandle();
    return isVisible() && !isMinimized() && handle && handle->isExposed();
}

bool Window::event(QEvent* event) {
    const bool handled = View::event(event);
    switch (event->type()) {
        case QEvent::Show:
            // The native window exists from the first show on; its exposure comes from it.
            if (!watchingExposure_ && windowHandle()) {
                windowHandle()->installEventFilter(this);
                watchingExposure_ = true;
            }
            seenMayHaveChanged();
            break;
        case QEvent::Hide:
        case QEvent::WindowStateChange: seenMayHaveChanged(); break;
        default: break;
    }
    return handled;
}

bool Window::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle() && event->type() == QEvent::Expose) {
        // After the window has handled it, so that isExposed is the new one.
        QMetaObject::invokeMethod(
            this, [this] { seenMayHaveChanged(); }, Qt::QueuedConnection);
    }
    return View::eventFilter(watched, event);
}

void Window::seenMayHaveChanged() {
    if (!watchingExposure_) return;
    Animator::shared().setSuspended(!isSeen());
}

void Window::setTitle(const std::string& title) { setWindowTitle(QString::fromStdString(title)); }

void Window::makeKeyAndVisible() {
    show();
    raise();
    activateWindow();
}

void Window::resizeEvent(QResizeEvent* event) {
    View::resizeEvent(event);
    placeLayout();
}

void Window::placeLayout() {
    const float scale =
        std::max(0.1f, std::min(width() / Screen::kWidth, height() / Screen::kHeight));
    const int layoutWidth = int(std::lround(Screen::kWidth * scale));
    const int layoutHeight = int(std::lround(Screen::kHeight * scale));
    Screen::setScale(scale);
    Screen::setContentOrigin({(width() - layoutWidth) / 2, (height() - layoutHeight) / 2});
    placeTreeForNewScale();
}

void Window::drawContents(QPainter& painter) {
    // The stations' night sky, so that the layout's own backdrop runs on into the margins.
    QLinearGradient sky(0, 0, 0, height());
    sky.setColorAt(0, QColor(20, 40, 80));
    sky.setColorAt(0.55, QColor(9, 16, 36));
    sky.setColorAt(1, QColor(3, 6, 14));
    painter.fillRect(rect(), sky);
}

}  // namespace ui
