#include "platform/ui/Button.h"

#include <QAccessible>
#include <QEvent>
#include <QKeyEvent>
#include <QPainter>

namespace ui {

Button::Button(Rect frame) : View(frame) {
    setCursor(Qt::PointingHandCursor);
    // Every touch on a button is the button's, also while disabled (when Qt delivers it none
    // and would hand it on to the view behind).
    setAttribute(Qt::WA_NoMousePropagation);
    // Tab, not a click, gives the focus: a click that focused the volume slider would take
    // the arrows the player uses to seek.
    setFocusPolicy(Qt::TabFocus);
}

void Button::setImage(ImageRef image, ControlState state) {
    if (state != ControlState::Normal) return;
    image_ = std::move(image);
    update();
    if (!imageNames_.empty()) {
        QAccessibleEvent changed(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&changed);
    }
}

void Button::setAccessibleNameForImage(const std::string& resourceName, const std::string& name) {
    imageNames_.emplace_back(Image::named(resourceName), name);
}

std::string Button::accessibleText() const {
    for (const auto& [image, name] : imageNames_) {
        if (isSameImage(image_, image)) return name;
    }
    if (!accessibleName().isEmpty()) return accessibleName().toStdString();
    return title_.value_or("");
}

void Button::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (event->modifiers() == Qt::NoModifier &&
        (key == Qt::Key_Space || key == Qt::Key_Return || key == Qt::Key_Enter)) {
        if (isEnabled() && !event->isAutoRepeat()) sendAction();
        event->accept();
        return;
    }
    View::keyPressEvent(event);
}

void Button::setImage(const std::string& resourceName, ControlState state) {
    setImage(Image::named(resourceName), state);
}

ImageRef Button::imageForState(ControlState) const { return image_; }

bool Button::currentImageIs(const std::string& resourceName) const {
    return isSameImage(image_, Image::named(resourceName));
}

void Button::setTitle(std::optional<std::string> title) {
    title_ = std::move(title);
    update();
}

void Button::setTitleColor(Color color) {
    titleColor_ = color;
    update();
}

void Button::setTitleFont(const Font& font) {
    titleFont_ = font;
    update();
}

void Button::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !isEnabled()) highlighted_ = false;
    View::changeEvent(event);
}

void Button::sendAction() {
    if (action_) {
        // The action may replace itself or delete nothing else; keep a copy while it runs.
        auto action = action_;
        action(*this);
    }
}

bool Button::handleTouch(TouchPhase phase, Point location) {
    if (!isEnabled()) return true;
    const bool inside = bounds().contains(location);
    switch (phase) {
        case TouchPhase::Began: highlighted_ = true; break;
        case TouchPhase::Moved: highlighted_ = inside; break;
        case TouchPhase::Ended:
            highlighted_ = false;
            update();
            if (inside) sendAction();
            return true;
    }
    update();
    return true;
}

void Button::drawContents(QPainter& painter) {
    const QRectF area = rect();
    if (image_) {
        // The image keeps its proportions and is centred, as large as the button allows.
        const QSizeF imageSize = image_->pixmap().size();
        QSizeF fitted = imageSize;
        fitted.scale(area.size(), Qt::KeepAspectRatio);
        const QRectF target(area.center().x() - fitted.width() / 2,
                            area.center().y() - fitted.height() / 2, fitted.width(),
                            fitted.height());
        if (!isEnabled()) painter.setOpacity(0.4);
        painter.drawPixmap(target, image_->pixmap(), QRectF(QPointF(0, 0), imageSize));
        painter.setOpacity(1.0);
    }
    if (title_ && !title_->empty()) {
        painter.setFont(titleFont_.toQFont());
        QColor color = titleColor_.toQColor();
        if (!isEnabled()) color.setAlphaF(0.4f);
        painter.setPen(color);
        painter.drawText(area, Qt::AlignCenter | Qt::TextSingleLine,
                         QString::fromStdString(*title_));
    }
    if (highlighted_) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0, 0, 0, 70));
        painter.drawRoundedRect(area, area.height() / 4, area.height() / 4);
    }
}

}  // namespace ui
