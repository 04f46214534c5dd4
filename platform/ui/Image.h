#pragma once
// Images by resource name ("playbutton.png"), loaded from the resources compiled into the
// binary. Image::named returns the same object for the same name, so the screens can ask
// whether a button's current image is the image of a given name by comparing the two.
// Main thread only.

#include <QPixmap>
#include <memory>
#include <string>

#include "platform/ui/Geometry.h"

namespace ui {

class Image {
public:
    // The cached image of that name, or nullptr when no such resource exists.
    static std::shared_ptr<const Image> named(const std::string& name);

    const std::string& name() const { return name_; }
    const QPixmap& pixmap() const { return pixmap_; }
    // Size in points: the artwork has eight pixels a point.
    Size size() const;

    Image(std::string name, QPixmap pixmap) : name_(std::move(name)), pixmap_(std::move(pixmap)) {}

private:
    std::string name_;
    QPixmap pixmap_;
};

using ImageRef = std::shared_ptr<const Image>;

// The same image as the named one: the platform's "isEqual:" on images.
inline bool isSameImage(const ImageRef& a, const ImageRef& b) { return a && b && a == b; }

}  // namespace ui
