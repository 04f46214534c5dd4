#pragma once
// The screen the point layout is drawn on. Every view keeps its frame in points of the original
// 320 x 480 screen; the widgets are placed at `scale` pixels per point, so the layout keeps its
// proportions on a desktop monitor. The window sets the scale from its size, and the origin
// that centres the layout in it. Main thread only.

#include <QPoint>

#include "platform/ui/Geometry.h"

namespace ui {

class Screen {
public:
    static constexpr float kWidth = 320;
    static constexpr float kHeight = 480;

    // Pixels per point; 1.5 by default (480 x 720 pixels).
    static float scale();
    static void setScale(float scale);
    // Where the layout's top left corner is in the window, in pixels.
    static QPoint contentOrigin();
    static void setContentOrigin(QPoint origin);

    static int toPixels(float points);
    static Rect bounds() { return {0, 0, kWidth, kHeight}; }
};

}  // namespace ui
