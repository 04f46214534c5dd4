#include "platform/ui/ActivityIndicatorView.h"

#include <QPainter>
#include <cmath>

namespace ui {

namespace {
constexpr int kSpokes = 12;
constexpr double kStepSeconds = 1.0 / 12.0;  // one turn a second
}  // namespace

ActivityIndicatorView::ActivityIndicatorView(int style)
    : View(style == WhiteLarge ? Rect(0, 0, 37, 37) : Rect(0, 0, 20, 20)), style_(style) {
    setUserInteractionEnabled(false);
    setHidden(true);
}

ActivityIndicatorView::~ActivityIndicatorView() {
    if (timer_) timer_->invalidate();
}

void ActivityIndicatorView::startAnimating() {
    if (timer_) return;
    setHidden(false);
    timer_ =
        platform::MainQueue::main().scheduleTimer(kStepSeconds, true, [this](platform::Timer&) {
            phase_ = (phase_ + 1) % kSpokes;
            update();
        });
}

void ActivityIndicatorView::stopAnimating() {
    if (!timer_) return;
    timer_->invalidate();
    timer_.reset();
    if (hidesWhenStopped_) setHidden(true);
}

void ActivityIndicatorView::setHidesWhenStopped(bool hides) {
    hidesWhenStopped_ = hides;
    if (!isAnimating()) setHidden(hides);
}

void ActivityIndicatorView::drawContents(QPainter& painter) {
    const QColor base = style_ == Gray ? QColor(90, 90, 90) : QColor(255, 255, 255);
    const QPointF c = rect().center();
    const double outer = std::min(width(), height()) / 2.0;
    QPen pen;
    pen.setWidthF(outer * 0.22);
    pen.setCapStyle(Qt::RoundCap);
    for (int i = 0; i < kSpokes; ++i) {
        // The spoke at the current phase is darkest; the trail fades behind it.
        const int age = (phase_ - i + kSpokes) % kSpokes;
        QColor color = base;
        color.setAlphaF(1.0f - 0.75f * static_cast<float>(age) / kSpokes);
        pen.setColor(color);
        painter.setPen(pen);
        const double angle = 2 * M_PI * i / kSpokes;
        painter.drawLine(
            QPointF(c.x() + std::sin(angle) * outer * 0.45, c.y() - std::cos(angle) * outer * 0.45),
            QPointF(c.x() + std::sin(angle) * outer * 0.85,
                    c.y() - std::cos(angle) * outer * 0.85));
    }
}

}  // namespace ui
