#include "app/splashScreen.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include "platform/ui/Font.h"
#include "platform/ui/Screen.h"

namespace {

// The full-screen artwork: a night-blue field, a broadcast emblem, the station's name.
class SplashView : public ui::View {
public:
    SplashView() : ui::View(ui::Screen::bounds()) { setBackgroundColor(ui::Color::black()); }

protected:
    void drawContents(QPainter& painter) override {
        const QRectF all = rect();
        QLinearGradient sky(all.topLeft(), all.bottomLeft());
        sky.setColorAt(0, QColor(18, 36, 74));
        sky.setColorAt(0.6, QColor(8, 14, 32));
        sky.setColorAt(1, QColor(2, 4, 10));
        painter.fillRect(all, sky);

        // The emblem: a glowing disc with broadcast arcs on either side.
        const QRectF emblemBox = toPixels({110, 120, 100, 100});
        const QPointF c = emblemBox.center();
        const double r = emblemBox.width() / 2;
        QRadialGradient glow(c, r * 1.9);
        glow.setColorAt(0, QColor(80, 150, 255, 110));
        glow.setColorAt(1, QColor(80, 150, 255, 0));
        painter.setPen(Qt::NoPen);
        painter.setBrush(glow);
        painter.drawEllipse(c, r * 1.9, r * 1.9);
        painter.setBrush(QColor(235, 242, 255));
        painter.drawEllipse(c, r * 0.22, r * 0.22);
        painter.setBrush(Qt::NoBrush);
        for (int i = 1; i <= 3; ++i) {
            const double radius = r * (0.22 + 0.26 * i);
            QPen pen(QColor(235, 242, 255, 255 - 55 * i), r * 0.09, Qt::SolidLine, Qt::RoundCap);
            painter.setPen(pen);
            const QRectF arcBox(c.x() - radius, c.y() - radius, 2 * radius, 2 * radius);
            painter.drawArc(arcBox, -40 * 16, 80 * 16);
            painter.drawArc(arcBox, 140 * 16, 80 * 16);
        }

        painter.setPen(QColor(245, 247, 252));
        painter.setFont(ui::Font::boldSystemFont(36).toQFont());
        painter.drawText(toPixels({0, 262, 320, 46}), Qt::AlignCenter,
                         QStringLiteral("Ostra Radio"));
        painter.setPen(QColor(150, 176, 220));
        painter.setFont(ui::Font::systemFont(15).toQFont());
        painter.drawText(toPixels({0, 308, 320, 24}), Qt::AlignCenter,
                         QStringLiteral("Live radio \u00B7 Programmes on demand"));
    }
};

}  // namespace

void splashScreen::loadView() { setView(new SplashView()); }
