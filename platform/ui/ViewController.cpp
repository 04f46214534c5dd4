#include "platform/ui/ViewController.h"

#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/TabBarController.h"

namespace ui {

ViewController::ViewController() = default;

ViewController::~ViewController() {
    if (view_) {
        view_->setViewController(nullptr);
        delete view_.data();
    }
}

View* ViewController::view() {
    if (!view_) {
        loadView();
        if (!view_) setView(new View(Rect(0, 0, Screen::kWidth, Screen::kHeight)));
        viewDidLoad();
    }
    return view_;
}

void ViewController::loadView() { setView(new View(Rect(0, 0, Screen::kWidth, Screen::kHeight))); }

void ViewController::setView(View* view) {
    if (view_ && view_ != view) {
        view_->setViewController(nullptr);
        delete view_.data();
    }
    view_ = view;
    if (view_) view_->setViewController(this);
}

void ViewController::beginAppearanceTransition(bool appearing, bool animated) {
    if (transitionOpen_) endAppearanceTransition();
    if (appearing == appeared_) return;
    appeared_ = appearing;
    transitionOpen_ = true;
    transitionAnimated_ = animated;
    if (appearing) {
        view();  // a screen's view is loaded before it first appears
        viewWillAppear(animated);
    } else {
        viewWillDisappear(animated);
    }
    forwardAppearance(appearing, animated, true);
}

void ViewController::endAppearanceTransition() {
    if (!transitionOpen_) return;
    transitionOpen_ = false;
    forwardAppearance(appeared_, transitionAnimated_, false);
    if (appeared_) {
        viewDidAppear(transitionAnimated_);
    } else {
        viewDidDisappear(transitionAnimated_);
    }
}

void ViewController::forwardAppearance(bool, bool, bool) {}

void ViewController::didReceiveMemoryWarning() {
    if (view_ && !appeared_) unloadView();
}

void ViewController::unloadView() {
    if (!view_) return;
    View* old = view_;
    view_ = nullptr;
    old->setViewController(nullptr);
    delete old;
    viewDidUnload();
}

bool ViewController::touchesBegan(Point) { return false; }
bool ViewController::touchesMoved(Point) { return false; }
bool ViewController::touchesEnded(Point) { return false; }

bool ViewController::handleTouch(TouchPhase phase, Point location) {
    switch (phase) {
        case TouchPhase::Began: return touchesBegan(location);
        case TouchPhase::Moved: return touchesMoved(location);
        case TouchPhase::Ended: return touchesEnded(location);
    }
    return false;
}

NavigationController* ViewController::navigationController() const {
    for (ViewController* p = parent_; p; p = p->parent_) {
        if (auto* nav = dynamic_cast<NavigationController*>(p)) return nav;
    }
    return nullptr;
}

TabBarController* ViewController::tabBarController() const {
    for (ViewController* p = parent_; p; p = p->parent_) {
        if (auto* tabs = dynamic_cast<TabBarController*>(p)) return tabs;
    }
    return nullptr;
}

}  // namespace ui
