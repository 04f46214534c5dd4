#include "platform/ui/Screen.h"

#include <cmath>

namespace ui {

namespace {
float gScale = 1.5f;
QPoint gContentOrigin;
}  // namespace

QPoint Screen::contentOrigin() { return gContentOrigin; }

void Screen::setContentOrigin(QPoint origin) { gContentOrigin = origin; }

float Screen::scale() { return gScale; }

void Screen::setScale(float scale) {
    if (scale > 0) gScale = scale;
}

int Screen::toPixels(float points) { return static_cast<int>(std::lround(points * gScale)); }

}  // namespace ui
