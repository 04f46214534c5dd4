#include "screens/StationBackdrop.h"

#include <QLinearGradient>
#include <QPainter>

#include "platform/ui/Font.h"

StationBackdrop::StationBackdrop(ui::Rect frame) : ui::View(frame) {
    setBackgroundColor(ui::Color::black());
    // It fills every pixel, so what sits on it can keep a copy of what is behind.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void StationBackdrop::setHeading(std::string title, std::string subtitle, float top) {
    title_ = std::move(title);
    subtitle_ = std::move(subtitle);
    headingTop_ = top;
    update();
}

void StationBackdrop::addBand(ui::Rect band) {
    bands_.push_back(band);
    update();
}

void StationBackdrop::drawContents(QPainter& painter) {
    const QRectF all = rect();
    QLinearGradient sky(all.topLeft(), all.bottomLeft());
    sky.setColorAt(0, QColor(20, 40, 80));
    sky.setColorAt(0.55, QColor(9, 16, 36));
    sky.setColorAt(1, QColor(3, 6, 14));
    painter.fillRect(all, sky);

    for (const ui::Rect& band : bands_) {
        const QRectF strip = toPixels(band);
        painter.fillRect(strip, QColor(0, 0, 0, 150));
        painter.fillRect(QRectF(strip.left(), strip.top(), strip.width(), 1),
                         QColor(90, 120, 170, 120));
        painter.fillRect(QRectF(strip.left(), strip.bottom() - 1, strip.width(), 1),
                         QColor(90, 120, 170, 120));
    }

    const float width = frame().width();
    if (!title_.empty()) {
        painter.setPen(QColor(245, 247, 252));
        painter.setFont(ui::Font::boldSystemFont(24).toQFont());
        painter.drawText(toPixels({0, headingTop_, width, 32}), Qt::AlignCenter,
                         QString::fromStdString(title_));
    }
    if (!subtitle_.empty()) {
        painter.setPen(QColor(150, 176, 220));
        painter.setFont(ui::Font::systemFont(14).toQFont());
        painter.drawText(toPixels({0, headingTop_ + 32, width, 20}), Qt::AlignCenter,
                         QString::fromStdString(subtitle_));
    }
}
