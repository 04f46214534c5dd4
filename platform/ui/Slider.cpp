#include "platform/ui/Slider.h"

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
}

void Slider::setValue(float value) {
    value_ = std::clamp(value, minimum_, maximum_);
    update();
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
    const float newValue = valueAt(location);
    if (newValue != value_) {
        setValue(newValue);
        if (action_) {
            auto action = action_;
            action(*this);
        }
    }
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
