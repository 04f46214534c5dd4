#include "platform/ui/VolumeView.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <map>
#include <vector>

namespace ui {

namespace {
std::function<void(float)> gSetVolume;
std::function<float()> gGetVolume;
float gLocalVolume = 1.0f;
// Main thread only, like every view.
std::vector<VolumeView*> gVolumeViews;
std::map<int, VolumeView::VolumeObserver> gObservers;
int gNextObserverToken = 1;

void applyOutputVolume(float volume) {
    gLocalVolume = volume;
    if (gSetVolume) gSetVolume(volume);
    // A copy: an observer may remove itself.
    const auto observers = gObservers;
    for (const auto& [token, observer] : observers) observer(volume);
}

constexpr float kIconWidth = 16;  // a speaker at each end of the slider, waves included
constexpr float kHeight = 23;
}  // namespace

void VolumeView::setOutputVolumeTarget(std::function<void(float)> setVolume,
                                       std::function<float()> getVolume) {
    gSetVolume = std::move(setVolume);
    gGetVolume = std::move(getVolume);
}

float VolumeView::outputVolume() { return gGetVolume ? gGetVolume() : gLocalVolume; }

void VolumeView::setOutputVolume(float volume) {
    volume = std::clamp(volume, 0.0f, 1.0f);
    for (VolumeView* view : gVolumeViews) view->slider_->setValue(volume);
    applyOutputVolume(volume);
}

int VolumeView::addOutputVolumeObserver(VolumeObserver observer) {
    const int token = gNextObserverToken++;
    gObservers.emplace(token, std::move(observer));
    return token;
}

void VolumeView::removeOutputVolumeObserver(int token) { gObservers.erase(token); }

VolumeView::VolumeView(Rect frame) : View(frame), slider_(new Slider()) {
    slider_->setRange(0, 1);
    slider_->setValue(outputVolume());
    slider_->setMinimumTrackColor(Color::white());
    slider_->setAccessibleName("Volume");
    slider_->setAction([this](Slider& s) {
        // The other volume views (the other tab's) follow this one.
        for (VolumeView* view : gVolumeViews) {
            if (view != this) view->slider_->setValue(s.value());
        }
        applyOutputVolume(s.value());
    });
    addSubview(slider_);
    layoutSubviews();
    gVolumeViews.push_back(this);
}

VolumeView::~VolumeView() { std::erase(gVolumeViews, this); }

Size VolumeView::sizeThatFits(Size size) const { return {size.width, kHeight}; }

void VolumeView::layoutSubviews() {
    const Rect b = bounds();
    slider_->setFrame({kIconWidth + 4, 0, std::max(0.0f, b.width() - 2 * (kIconWidth + 4)),
                       std::min(b.height(), 36.0f)});
}

void VolumeView::drawContents(QPainter& painter) {
    // Small speakers: quiet on the left, loud on the right.
    const float midY = std::min(bounds().height(), 36.0f) / 2;
    auto speaker = [&](float x, int waves) {
        const QRectF box = toPixels({x, midY - 5, 5, 10});
        QPainterPath path;
        path.moveTo(box.left(), box.top() + box.height() * 0.3);
        path.lineTo(box.left() + box.width() * 0.6, box.top() + box.height() * 0.3);
        path.lineTo(box.right() + box.width() * 0.6, box.top() - box.height() * 0.1);
        path.lineTo(box.right() + box.width() * 0.6, box.bottom() + box.height() * 0.1);
        path.lineTo(box.left() + box.width() * 0.6, box.bottom() - box.height() * 0.3);
        path.lineTo(box.left(), box.bottom() - box.height() * 0.3);
        path.closeSubpath();
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(235, 235, 240));
        painter.drawPath(path);
        painter.setBrush(Qt::NoBrush);
        painter.setPen(
            QPen(QColor(235, 235, 240), box.width() * 0.25, Qt::SolidLine, Qt::RoundCap));
        for (int i = 1; i <= waves; ++i) {
            const double r = box.height() * 0.3 * i;
            const QPointF c(box.right() + box.width() * 0.5, box.center().y());
            painter.drawArc(QRectF(c.x() - r, c.y() - r, 2 * r, 2 * r), -45 * 16, 90 * 16);
        }
    };
    speaker(2, 0);
    // The loud speaker's waves reach about 11 points right of its body.
    speaker(bounds().width() - kIconWidth, 2);
}

}  // namespace ui
