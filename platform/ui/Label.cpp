#include "platform/ui/Label.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cmath>

#include "platform/ui/Screen.h"

namespace ui {

Label::Label(Rect frame) : View(frame) {}

void Label::setText(std::optional<std::string> text) {
    text_ = std::move(text);
    update();
}

void Label::assignText(std::string_view text) {
    if (text_) {
        text_->assign(text);
    } else {
        text_.emplace(text);
    }
    update();
}

void Label::setTextColor(Color color) {
    textColor_ = color;
    update();
}

void Label::setFont(const Font& font) {
    font_ = font;
    update();
}

void Label::setTextAlignment(TextAlignment alignment) {
    alignment_ = alignment;
    update();
}

Size Label::sizeThatFits(Size) const {
    if (!text_ || text_->empty()) return {0, 0};
    // Measure the font exactly as it is drawn, at the screen's pixel size, and round up to
    // whole points so the drawn text always fits the frame.
    const QFontMetricsF metrics(font_.toQFont());
    const float scale = Screen::scale();
    const float width =
        static_cast<float>(metrics.horizontalAdvance(QString::fromStdString(*text_)));
    const float height = static_cast<float>(metrics.height());
    return {std::ceil(width / scale), std::ceil(height / scale)};
}

void Label::drawContents(QPainter& painter) {
    if (!text_ || text_->empty()) return;
    painter.setFont(font_.toQFont());
    painter.setPen(textColor_.toQColor());
    Qt::Alignment align = Qt::AlignVCenter;
    switch (alignment_) {
        case TextAlignment::Left: align |= Qt::AlignLeft; break;
        case TextAlignment::Center: align |= Qt::AlignHCenter; break;
        case TextAlignment::Right: align |= Qt::AlignRight; break;
    }
    const QString text = QString::fromStdString(*text_);
    const QFontMetricsF metrics(painter.font());
    // A text wider than the label ends in an ellipsis, as a one-line label does.
    const QString shown = metrics.elidedText(text, Qt::ElideRight, rect().width() + 0.5);
    painter.drawText(QRectF(rect()), static_cast<int>(align) | Qt::TextSingleLine, shown);
}

}  // namespace ui
