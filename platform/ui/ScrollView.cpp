#include "platform/ui/ScrollView.h"

#include <QWheelEvent>
#include <algorithm>

#include "platform/ui/Screen.h"

namespace ui {

ScrollView::ScrollView(Rect frame) : View(frame) {}

void ScrollView::setContentOffset(Point offset) { setBoundsOrigin(offset); }

void ScrollView::setContentOffset(Point offset, bool animated) {
    if (!animated) {
        setBoundsOrigin(offset);
        return;
    }
    beginAnimations("contentOffset");
    setAnimationDuration(0.3);
    setAnimationCurve(AnimationCurve::EaseOut);
    setBoundsOrigin(offset);
    commitAnimations();
}

Point ScrollView::clampedOffset(Point offset) const {
    const float maxX = std::max(0.0f, contentSize_.width - frame().width());
    const float maxY = std::max(0.0f, contentSize_.height - frame().height());
    return {std::clamp(offset.x, 0.0f, maxX), std::clamp(offset.y, 0.0f, maxY)};
}

void ScrollView::wheelEvent(QWheelEvent* event) {
    if (!scrollEnabled_ || !isUserInteractionEnabled()) {
        event->ignore();
        return;
    }
    // One wheel notch (120) moves about two table rows.
    const float dy = -static_cast<float>(event->angleDelta().y()) / 120.0f * 88.0f;
    const float dx = -static_cast<float>(event->angleDelta().x()) / 120.0f * 88.0f;
    const Point o = contentOffset();
    setContentOffset(clampedOffset({o.x + dx, o.y + dy}));
    event->accept();
}

bool ScrollView::handleTouch(TouchPhase phase, Point location) {
    if (!scrollEnabled_) return View::handleTouch(phase, location);
    // Locations come in content coordinates, which move with the offset; work in the
    // view's own frame instead.
    const Point o = contentOffset();
    const Point inView{location.x - o.x, location.y - o.y};
    switch (phase) {
        case TouchPhase::Began:
            dragStart_ = inView;
            dragStartOffset_ = o;
            break;
        case TouchPhase::Moved:
            if (dragStart_) {
                setContentOffset(clampedOffset({dragStartOffset_.x - (inView.x - dragStart_->x),
                                                dragStartOffset_.y - (inView.y - dragStart_->y)}));
            }
            break;
        case TouchPhase::Ended: dragStart_.reset(); break;
    }
    return true;
}

}  // namespace ui
