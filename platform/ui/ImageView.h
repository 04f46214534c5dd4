#pragma once
// Shows one image, scaled to fit its frame with its proportions kept. Main thread only.

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace ui {

class ImageView : public View {
public:
    explicit ImageView(ImageRef image = nullptr, Rect frame = {});

    const ImageRef& image() const { return image_; }
    void setImage(ImageRef image);
    Size sizeThatFits(Size size) const override;

protected:
    void drawContents(QPainter& painter) override;

private:
    ImageRef image_;
};

}  // namespace ui
