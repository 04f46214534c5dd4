#pragma once
// Points, sizes and rectangles in screen points: the 320 x 480 layout of the original screens.
// Single precision, as the layouts were written; Screen::scale turns points into pixels.

#include <cmath>

namespace ui {

struct Point {
    float x = 0;
    float y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    float width = 0;
    float height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    Point origin;
    Size size;

    Rect() = default;
    Rect(float x, float y, float width, float height) : origin{x, y}, size{width, height} {}
    Rect(Point o, Size s) : origin(o), size(s) {}

    float x() const { return origin.x; }
    float y() const { return origin.y; }
    float width() const { return size.width; }
    float height() const { return size.height; }
    float maxX() const { return origin.x + size.width; }
    float maxY() const { return origin.y + size.height; }
    float midX() const { return origin.x + size.width / 2; }
    float midY() const { return origin.y + size.height / 2; }
    Point center() const { return {midX(), midY()}; }
    bool contains(Point p) const {
        return p.x >= origin.x && p.x < maxX() && p.y >= origin.y && p.y < maxY();
    }
    bool operator==(const Rect&) const = default;
};

}  // namespace ui
