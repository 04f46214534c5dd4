#pragma once
// The keys of a desktop player, over the main interface: Space plays or stops the shown
// player, Left and Right seek 10 s in a programme that can seek, Ctrl+1 and Ctrl+2 choose the
// tabs, Escape or Alt+Left goes back from a programme, Ctrl+Q quits. Any key also brings the
// faded controls back, as a touch does, and so does a click on the tab bar (which the tab bar
// takes for itself, so the touch of the background never sees it). Each key drives the screens
// through the same operations as their own controls, so what they show stays right. Main thread
// only.

#include <QObject>
#include <QPointer>
#include <functional>

class QKeyEvent;
class QWidget;
class myTabeBare;
class OnDemandPlayer;

class KeyboardShortcuts : public QObject {
public:
    // `root`: the widget whose keys count (the window, or the tab bar's view in tests).
    KeyboardShortcuts(QWidget& root, myTabeBare& tabs, std::function<void()> quit);
    ~KeyboardShortcuts() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool handle(const QKeyEvent& key);
    OnDemandPlayer* shownProgramme() const;
    void playOrStop();
    void seekBy(double seconds);

    QPointer<QWidget> root_;
    myTabeBare& tabs_;
    std::function<void()> quit_;
};
