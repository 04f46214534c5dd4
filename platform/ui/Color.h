#pragma once
// Colours as the screens name them: components 0 to 1, with alpha.

#include <QColor>

namespace ui {

struct Color {
    float red = 0;
    float green = 0;
    float blue = 0;
    float alpha = 0;

    static Color rgb(float r, float g, float b, float a = 1) { return {r, g, b, a}; }
    static Color white() { return {1, 1, 1, 1}; }
    static Color black() { return {0, 0, 0, 1}; }
    static Color clear() { return {0, 0, 0, 0}; }
    static Color gray() { return {0.5f, 0.5f, 0.5f, 1}; }
    static Color lightGray() { return {2.f / 3, 2.f / 3, 2.f / 3, 1}; }
    static Color darkGray() { return {1.f / 3, 1.f / 3, 1.f / 3, 1}; }

    bool isClear() const { return alpha <= 0; }
    QColor toQColor() const { return QColor::fromRgbF(red, green, blue, alpha); }
    bool operator==(const Color&) const = default;
};

}  // namespace ui
