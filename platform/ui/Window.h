#pragma once
// The application window. Its views are laid out in points of the 320 x 480 screen; the window
// itself can be resized and maximised, and scales that layout uniformly to its size (aspect
// kept, centred, the night sky around it). Its first size fits the screen it opens on: the
// layout at 1.5 pixels a point, or smaller so that it takes at most 85% of the screen's
// height. Main thread only.

#include <QSize>
#include <string>

#include "platform/ui/View.h"

class QScreen;

namespace ui {

class Window : public View {
public:
    static constexpr float kPreferredScale = 1.5f;
    static constexpr double kMostOfScreenHeight = 0.85;

    explicit Window(Rect frame = Rect(0, 0, 320, 480));
    void setTitle(const std::string& title);
    void makeKeyAndVisible();

    // The first size on `screen` (the primary screen when null).
    static QSize preferredSize(const QScreen* screen);

    // Shown, not minimised, and exposed on the screen: while it is not, nothing animates.
    bool isSeen() const;

    ~Window() override;

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void drawContents(QPainter& painter) override;

private:
    void placeLayout();
    void seenMayHaveChanged();

    bool watchingExposure_ = false;
};

}  // namespace ui
