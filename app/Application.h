#pragma once
// Process set-up around the delegate: the Qt application, the main queue on Qt's event loop,
// alerts as message boxes, the volume control's target, the main interface, its keys and the
// media player on the session bus. main() makes
// one, launches it and runs its loop; a headless run (on the offscreen platform, with a
// timed end and a report of what happened) can drive the same object.

#include <QApplication>
#include <memory>

#include "app/KeyboardShortcuts.h"
#include "app/MprisService.h"

#include "app/OstraRadioAppDelegate.h"
#include "platform/ui/QtAlertPresenter.h"
#include "platform/ui/QtMainQueue.h"

struct StationAddresses;

class Application {
public:
    // Uses the process's QApplication when one exists, else makes one from argc/argv. The app
    // itself remembers its volume and window between runs (Preferences.h); the headless demo
    // and tests leave the user's settings alone unless they ask.
    Application(int& argc, char** argv, bool remembersBetweenRuns = false);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    OstraRadioAppDelegate& delegate() { return *delegate_; }
    // The media player on the session bus, once launched; null before.
    MprisService* mediaControls() { return mpris_.get(); }
    ui::QtMainQueue& mainQueue() { return *queue_; }

    // Loads the main interface, runs the launch callback and shows the window.
    void launch();
    // The same against another station's web addresses (the headless demo's options).
    void launch(const StationAddresses& addresses);
    // Runs the event loop until the last window closes or quit() is called.
    int exec();
    void quit();

private:
    // The volume and the window's place, for the next start.
    void rememberForNextRun();

    const bool remembersBetweenRuns_;
    std::unique_ptr<QApplication> ownedQtApp_;
    std::shared_ptr<ui::QtMainQueue> queue_;
    std::shared_ptr<ui::QtAlertPresenter> alerts_;
    std::unique_ptr<OstraRadioAppDelegate> delegate_;
    std::unique_ptr<KeyboardShortcuts> shortcuts_;
    std::unique_ptr<MprisService> mpris_;
};
