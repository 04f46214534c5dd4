#pragma once
// A view whose content is moved by a content offset (its bounds origin). The marquee scrolls
// itself by animating the offset; a user drags or wheels only when scrolling is enabled.
// Main thread only.

#include "platform/ui/View.h"

namespace ui {

class ScrollView : public View {
public:
    explicit ScrollView(Rect frame = {});

    Point contentOffset() const { return bounds().origin; }
    // Animates inside a block animation; outside one it jumps.
    void setContentOffset(Point offset);
    // `animated` uses a short ease-out animation of its own.
    void setContentOffset(Point offset, bool animated);

    Size contentSize() const { return contentSize_; }
    void setContentSize(Size size) { contentSize_ = size; }

    bool showsHorizontalScrollIndicator() const { return showsHorizontalIndicator_; }
    void setShowsHorizontalScrollIndicator(bool shows) { showsHorizontalIndicator_ = shows; }
    bool showsVerticalScrollIndicator() const { return showsVerticalIndicator_; }
    void setShowsVerticalScrollIndicator(bool shows) { showsVerticalIndicator_ = shows; }

    bool isScrollEnabled() const { return scrollEnabled_; }
    void setScrollEnabled(bool enabled) { scrollEnabled_ = enabled; }

protected:
    void wheelEvent(QWheelEvent* event) override;
    bool handleTouch(TouchPhase phase, Point location) override;
    // The offset kept inside the content, as a user's scrolling leaves it.
    Point clampedOffset(Point offset) const;

private:
    Size contentSize_;
    bool showsHorizontalIndicator_ = true;
    bool showsVerticalIndicator_ = true;
    bool scrollEnabled_ = true;
    std::optional<Point> dragStart_;
    Point dragStartOffset_;
};

}  // namespace ui
