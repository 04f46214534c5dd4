#include "platform/ui/ImageView.h"

#include <QPainter>

namespace ui {

ImageView::ImageView(ImageRef image, Rect frame) : View(frame), image_(std::move(image)) {
    setUserInteractionEnabled(false);
}

void ImageView::setImage(ImageRef image) {
    image_ = std::move(image);
    update();
}

Size ImageView::sizeThatFits(Size size) const { return image_ ? image_->size() : size; }

void ImageView::drawContents(QPainter& painter) {
    if (!image_) return;
    QSizeF fitted = image_->pixmap().size();
    fitted.scale(rect().size(), Qt::KeepAspectRatio);
    const QRectF target(rect().center().x() - fitted.width() / 2,
                        rect().center().y() - fitted.height() / 2, fitted.width(), fitted.height());
    painter.drawPixmap(target, image_->pixmap(), QRectF(image_->pixmap().rect()));
}

}  // namespace ui
