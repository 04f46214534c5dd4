#pragma once
// The screen the point layout is drawn on. Every view keeps its frame in points of the original
// 320 x 480 screen; the widgets are placed at `scale` pixels per point, so the layout keeps its
// proportions on a desktop monitor. Main thread only.

#include "platform/ui/Geometry.h"

namespace ui {

class Screen {
public:
    static constexpr float kWidth = 320;
    static constexpr float kHeight = 480;

    // Pixels per point. Set once before any view is created; 1.5 by default (480 x 720 pixels).
    static float scale();
    static void setScale(float scale);

    static int toPixels(float points);
    static Rect bounds() { return {0, 0, kWidth, kHeight}; }
};

}  // namespace ui
