#pragma once
// The keys of a desktop player, over the main interface: Space plays or stops the shown
// player, Left and Right seek 10 s in a programme that can seek, Up and Down change the volume,
// Ctrl+1 and Ctrl+2 choose the tabs, Escape or Alt+Left goes back from a programme, Ctrl+Q
// quits. A focused control keeps its own keys: Return and Space press a focused button, the
// arrows move a focused slider, a text field takes what is typed. Any key also brings the faded
// controls back, as a touch does, and so do mouse movement over the window and a click on the
// tab bar (which the tab bar takes for itself, so the touch of the background never sees it).
// Each key drives the screens through the same operations as their own controls, so what they
// show stays right. Main thread only.

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <functional>

#include "app/ShownPlayer.h"

class QKeyEvent;
class QWidget;
class myTabeBare;

class KeyboardShortcuts : public QObject {
public:
    // `root`: the widget whose keys count (the window, or the tab bar's view in tests).
    KeyboardShortcuts(QWidget& root, myTabeBare& tabs, std::function<void()> quit);
    ~KeyboardShortcuts() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool handle(const QKeyEvent& key);
    void seekBy(double seconds);

    QPointer<QWidget> root_;
    myTabeBare& tabs_;
    ShownPlayer player_;
    std::function<void()> quit_;
    QElapsedTimer sinceMovement_;
};
