#include "app/OstraRadioAppDelegate.h"

#include "app/Endpoints.h"
#include "app/myTabeBare.h"
#include "app/splashScreen.h"

QPointer<ui::View> v;

namespace {
OstraRadioAppDelegate* gSharedDelegate = nullptr;
}

OstraRadioAppDelegate::OstraRadioAppDelegate() { gSharedDelegate = this; }

OstraRadioAppDelegate::~OstraRadioAppDelegate() {
    if (gSharedDelegate == this) gSharedDelegate = nullptr;
    if (fadeTimer_) fadeTimer_->invalidate();
    // The controllers delete their own views before the window deletes what is left in it.
    tabBarController_.reset();
    splash_.reset();
    window_.reset();
}

OstraRadioAppDelegate* OstraRadioAppDelegate::sharedDelegate() { return gSharedDelegate; }

void OstraRadioAppDelegate::setWindow(std::unique_ptr<ui::Window> window) {
    window_ = std::move(window);
}

void OstraRadioAppDelegate::setTabBarController(std::unique_ptr<myTabeBare> controller) {
    tabBarController_ = std::move(controller);
}

void OstraRadioAppDelegate::applicationDidFinishLaunching() {
    // The players start on the live stream.
    setSongURL(endpoints::kLiveStreamURL);

    // The tab bar fills the window and its first screen appears.
    tabBarController_->beginAppearanceTransition(true, false);
    window_->addSubview(tabBarController_->view());
    tabBarController_->endAppearanceTransition();

    // The splash goes on top.
    splash_ = std::make_unique<splashScreen>();
    v = splash_->view();
    window_->addSubview(v);

    // Fade it out.
    fadeTimer_ = platform::MainQueue::main().scheduleTimer(
        kFadeInterval, true, [this](platform::Timer& timer) { myMethod(timer); });
}

void OstraRadioAppDelegate::myMethod(platform::Timer& timer) {
    // A splash that is already transparent (or gone) has nothing left to fade: take it away
    // and stop the timer, instead of waking a hundred times a second for the rest of the run.
    if (!v || !(v->alpha() > 0)) {
        if (v) v->removeFromSuperview();
        timer.invalidate();
        return;
    }
    v->setAlpha(static_cast<float>(static_cast<double>(v->alpha()) - kFadeStep));
    if (v->alpha() <= 0) {
        v->removeFromSuperview();
        timer.invalidate();
    }
}
