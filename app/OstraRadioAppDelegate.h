#pragma once
// The application delegate: owns the window and the root tab bar controller, holds the one
// piece of state every screen shares (songURL, the audio the players play next), and shows
// the splash over the tab bar at launch, fading it out on a 0.01 s timer.
//
// Main thread only: the launch callback, the fade timer and every accessor.

#include <QPointer>
#include <memory>
#include <string>

#include "platform/MainQueue.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"
#include "screens/CurrentSong.h"

class myTabeBare;
class splashScreen;

// The splash view while it is on screen (and, after the fade, the removed view). Empty once the
// view is gone.
extern QPointer<ui::View> v;

class OstraRadioAppDelegate {
public:
    // The fade: 0.008 alpha every 0.01 s, about 125 ticks from full opacity.
    static constexpr double kFadeInterval = 0.01;
    static constexpr double kFadeStep = 0.008;

    OstraRadioAppDelegate();
    ~OstraRadioAppDelegate();
    OstraRadioAppDelegate(const OstraRadioAppDelegate&) = delete;
    OstraRadioAppDelegate& operator=(const OstraRadioAppDelegate&) = delete;

    // The application's delegate, as the screens reach it; the most recent one made.
    static OstraRadioAppDelegate* sharedDelegate();

    ui::Window* window() const { return window_.get(); }
    void setWindow(std::unique_ptr<ui::Window> window);
    myTabeBare* tabBarController() const { return tabBarController_.get(); }
    void setTabBarController(std::unique_ptr<myTabeBare> controller);
    const std::string& songURL() const { return currentSong_->url(); }
    void setSongURL(std::string url) { currentSong_->setURL(std::move(url)); }
    // songURL as the screens share it (handed to them with their addresses).
    const std::shared_ptr<CurrentSong>& currentSong() const { return currentSong_; }

    // Launch: songURL to the live stream, the tab bar into the window, the splash on top, and
    // the fade timer started. The window and the tab bar controller must be set.
    void applicationDidFinishLaunching();
    // One fade tick.
    void myMethod(platform::Timer& timer);

    // The fade timer while it runs (for tests and the demo run).
    bool isFading() const { return fadeTimer_ && fadeTimer_->isValid(); }

private:
    std::unique_ptr<ui::Window> window_;
    std::unique_ptr<myTabeBare> tabBarController_;
    std::shared_ptr<CurrentSong> currentSong_ = std::make_shared<CurrentSong>();
    std::unique_ptr<splashScreen> splash_;  // keeps the splash view that `v` names
    std::shared_ptr<platform::Timer> fadeTimer_;
};
