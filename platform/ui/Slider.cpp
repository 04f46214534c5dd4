#include "platform/ui/Slider.h"

#include <QAccessible>
#include <QKeyEvent>
#include <QPainter>
#include <algorithm>

namespace ui {

namespace {
constexpr float kThumbRadius = 11;  // points
constexpr float kTrackHeight = 4;
}  // namespace

Slider::Slider(Rect frame) : View(frame) {
    // Every touch on a slider is the slider's, also while disabled (when Qt delivers it none
    // and would hand it on to the view behind).
    setAttribute(Qt::WA_NoMousePropagation);
    setFocusPolicy(Qt::TabFocus);
}

void Slider::setValue(float value) {
    const float clamped = std::clamp(value, minimum_, maximum_);
    if (clamped == value_) return;
    value_ = clamped;
    update();
    QAccessibleValueChangeEvent changed(this, value_);
    QAccessible::updateAccessibility(&changed);
}

void Slider::setValueByUser(float value) {
    const float before = value_;
    setValue(value);
    if (value_ != before && action_) {
        auto action = action_;
        action(*this);
    }
}

void Slider::keyPressEvent(QKeyEvent* event) {
    const float range = maximum_ - minimum_;
    if (!isEnabled() || event->modifiers() != Qt::NoModifier) {
        View::keyPressEvent(event);
        return;
    }
    switch (event->key()) {
        case Qt::Key_Left:
        case Qt::Key_Down: setValueByUser(value_ - range / 20); break;
        case Qt::Key_Right:
        case Qt::Key_Up: setValueByUser(value_ + range / 20); break;
        case Qt::Key_PageDown: setValueByUser(value_ - range / 5); break;
        case Qt::Key_PageUp: setValueByUser(value_ + range / 5); break;
        case Qt::Key_Home: setValueByUser(minimum_); break;
        case Qt::Key_End: setValueByUser(maximum_); break;
        default: View::keyPressEvent(event); return;
    }
    event->accept();
}

void Slider::setRange(float minimum, float maximum) {
    minimum_ = minimum;
    maximum_ = std::max(minimum, maximum);
    setValue(value_);
}

void Slider::setMinimumTrackColor(Color color) {
    minimumTrack_ = color;
    update();
}

Rect Slider::trackRect() const {
    const Rect b = bounds();
    return {b.x() + kThumbRadius, b.midY() - kTrackHeight / 2,
            std::max(0.0f, b.width() - 2 * kThumbRadius), kTrackHeight};
}

float Slider::valueAt(Point location) const {
    const Rect track = trackRect();
    if (track.width() <= 0) return minimum_;
    const float fraction = std::clamp((location.x - track.x()) / track.width(), 0.0f, 1.0f);
    return minimum_ + fraction * (maximum_ - minimum_);
}

bool Slider::handleTouch(TouchPhase phase, Point location) {
    if (!isEnabled()) return true;
    if (phase == TouchPhase::Ended) return true;
    setValueByUser(valueAt(location));
    return true;
}

void Slider::drawContents(QPainter& painter) {
    const Rect track = trackRect();
    const float range = maximum_ - minimum_;
    const float fraction = range > 0 ? (value_ - minimum_) / range : 0;
    const QRectF full = toPixels(track);
    const QRectF done(full.x(), full.y(), full.width() * fraction, full.height());
    painter.setOpacity(isEnabled() ? 1.0 : 0.45);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(190, 190, 196));
    painter.drawRoundedRect(full, full.height() / 2, full.height() / 2);
    painter.setBrush(minimumTrack_.toQColor());
    painter.drawRoundedRect(done, full.height() / 2, full.height() / 2);
    const QRectF knob =
        toPixels({track.x() + fraction * track.width() - kThumbRadius,
                  bounds().midY() - kThumbRadius, 2 * kThumbRadius, 2 * kThumbRadius});
    painter.setBrush(QColor(0, 0, 0, 40));
    painter.drawEllipse(knob.translated(0, 1.5));
    painter.setBrush(Qt::white);
    painter.setPen(QPen(QColor(160, 160, 166), 1));
    painter.drawEllipse(knob.adjusted(1, 1, -1, -1));
}

}  // namespace ui
