#pragma once
// Fonts by family name and point size. A family this machine lacks (the original screens name
// Helvetica and Arial Rounded MT Bold) falls back to DejaVu Sans, bold when the name says so.

#include <QFont>
#include <string>

namespace ui {

class Font {
public:
    Font() = default;
    Font(std::string family, float pointSize, bool bold = false);

    static Font systemFont(float pointSize);
    static Font boldSystemFont(float pointSize);
    // A font by its full name ("Arial Rounded MT Bold"); "Bold" in the name asks for bold.
    static Font named(const std::string& name, float pointSize);

    const std::string& family() const { return family_; }
    float pointSize() const { return pointSize_; }
    bool isBold() const { return bold_; }

    // The Qt font at the current screen scale, in pixels, with the fallback applied.
    QFont toQFont() const;

    bool operator==(const Font&) const = default;

private:
    std::string family_ = "Helvetica";
    float pointSize_ = 17;
    bool bold_ = false;
};

}  // namespace ui
