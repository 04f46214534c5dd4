#pragma once
// A horizontal slider, 0 to 100 unless told otherwise. The action runs on every change the
// user makes while dragging (a continuous slider); setValue from code runs no action. A
// disabled slider is drawn dimmed and ignores touches. Main thread only.

#include <functional>

#include "platform/ui/View.h"

namespace ui {

class Slider : public View {
public:
    explicit Slider(Rect frame = {});

    float value() const { return value_; }
    void setValue(float value);  // clamped to the range
    // A move made by the user (a key, a screen reader): sets the value and runs the action
    // when it changed.
    void setValueByUser(float value);
    float minimumValue() const { return minimum_; }
    float maximumValue() const { return maximum_; }
    void setRange(float minimum, float maximum);

    void setAction(std::function<void(Slider&)> action) { action_ = std::move(action); }

    Color minimumTrackColor() const { return minimumTrack_; }
    void setMinimumTrackColor(Color color);

protected:
    void drawContents(QPainter& painter) override;
    bool handleTouch(TouchPhase phase, Point location) override;
    // Tab reaches a slider; the arrows move it a twentieth of its range, Page Up and Page
    // Down a fifth, Home and End to its ends, each as a drag to there would.
    void keyPressEvent(QKeyEvent* event) override;

private:
    float valueAt(Point location) const;
    Rect trackRect() const;

    float value_ = 0;
    float minimum_ = 0;
    float maximum_ = 100;
    Color minimumTrack_ = Color::rgb(0.20f, 0.48f, 0.96f);
    std::function<void(Slider&)> action_;
};

}  // namespace ui
