#pragma once
// A one-line marquee. A text wider than the view runs across once, pauses, and runs again; a
// text that fits stays still and centred. Two labels carry the same text side by side with a
// 20-point gap, and each pass moves the content offset by one text width plus the gap, so the
// jump back to the start at the next pass does not change the picture.
//
// The labels keep the layout; the marquee draws both copies itself from one image of the text,
// and, on an opaque backdrop, what is behind it from a copy, so a step of a pass repaints its
// own rectangle only, and only when the text moved by a whole pixel.
//
// Main thread only: the passes are block animations and the pause is a one-shot MainQueue
// timer, both on the main queue.

#include <QPixmap>
#include <QRect>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/MainQueue.h"
#include "platform/ui/Font.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"

class AutoScrollLabel : public ui::ScrollView {
public:
    AutoScrollLabel();
    explicit AutoScrollLabel(ui::Rect frame);
    ~AutoScrollLabel() override;

    // The text of label 0; nil is no text at all.
    std::optional<std::string> text() const;
    void setText(std::optional<std::string> text);

    ui::Color textColor() const;
    void setTextColor(ui::Color color);
    ui::Font font() const;
    void setFont(const ui::Font& font);

    float scrollSpeed() const { return scrollSpeed_; }
    void setScrollSpeed(float speed);
    int32_t scrollDirection() const { return scrollDirection_; }
    void setScrollDirection(int32_t direction);
    double pauseInterval() const { return pauseInterval_; }
    void setPauseInterval(double interval) { pauseInterval_ = interval; }
    // Kept and returned only: the layout always uses a 20-point gap.
    int32_t bufferSpaceBetweenLabels() const { return bufferSpaceBetweenLabels_; }
    void setBufferSpaceBetweenLabels(int32_t space) { bufferSpaceBetweenLabels_ = space; }

    bool isScrolling() const { return isScrolling_; }

    // Recomputes the layout and starts or stops scrolling.
    void readjustLabels();
    // Runs one pass from the start position.
    void scroll();
    // The pass's did-stop callback.
    void animationDidStop(const std::string& animationID, bool finished, void* context);

    // For tests and screenshots: the two labels, and whether a pause is waiting to start the
    // next pass.
    ui::Label& label(int index) const { return *label_[static_cast<size_t>(index)]; }
    bool isPausing() const { return pauseTimer_ && pauseTimer_->isValid(); }

    // The gap between the two copies of the text, in points.
    static constexpr float kGap = 20.0f;

protected:
    void placeSubviews() override;
    void drawContents(QPainter& painter) override;
    void scaleChanged() override { textImageStale_ = true; }

private:
    void commonInit();
    bool textIsWiderThanView() const;
    int drawnOffset() const;
    const QPixmap& textImage();
    const QPixmap* backgroundImage();

    std::array<ui::Label*, 2> label_{};  // owned as subviews
    int32_t scrollDirection_ = 1;
    float scrollSpeed_ = 30.0f;
    double pauseInterval_ = 0.5;
    int32_t bufferSpaceBetweenLabels_ = 20;
    bool isScrolling_ = false;
    std::shared_ptr<platform::Timer> pauseTimer_;

    // The text as drawn; made again after a change of text, font, colour, layout or scale
    // (looking fonts up at every paint costs more than the paint).
    QPixmap textImage_;
    bool textImageStale_ = true;
    // What the opaque backdrop shows behind the marquee, and where it was taken.
    QPixmap backgroundImage_;
    QRect backgroundRect_;
    QSize backgroundParentSize_;
    // The content offset in whole pixels at the last repaint.
    int paintedOffset_ = 0;
};
