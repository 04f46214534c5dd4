#pragma once
// A screen's controller with the platform's lifecycle: the view is made on first use
// (loadView, then viewDidLoad), containers send the appear and disappear callbacks, and an
// unload (after a memory warning, while the view is off screen) releases the view and calls
// viewDidUnload; the next use loads it again.
//
// Ownership: a controller owns its root view. Containers (tab bar, navigation) own their
// child controllers. Main thread only.

#include <QPointer>
#include <memory>
#include <string>

#include "platform/ui/Geometry.h"
#include "platform/ui/View.h"

namespace ui {

class NavigationController;
class TabBarController;

struct TabBarItem {
    std::string title;
    std::string imageName;  // a resource name, or empty
};

class ViewController {
public:
    ViewController();
    virtual ~ViewController();
    ViewController(const ViewController&) = delete;
    ViewController& operator=(const ViewController&) = delete;

    // Loads the view when needed.
    View* view();
    bool isViewLoaded() const { return view_ != nullptr; }
    View* viewIfLoaded() const { return view_; }

    // Lifecycle, called by the toolkit. The defaults do nothing, so overrides need not call
    // them.
    virtual void viewDidLoad() {}
    virtual void viewWillAppear(bool) {}
    virtual void viewDidAppear(bool) {}
    virtual void viewWillDisappear(bool) {}
    virtual void viewDidDisappear(bool) {}
    virtual void viewDidUnload() {}

    // Containers announce appearance through these, which keep isAppearing() right and call
    // the will/did callbacks once each. Containers forward them to their visible child.
    void beginAppearanceTransition(bool appearing, bool animated);
    void endAppearanceTransition();
    // The default releases the view when it is not on screen (then viewDidUnload runs).
    virtual void didReceiveMemoryWarning();

    // Touches that no view consumed. Return true to consume; false passes the touch on to
    // the superview of the controller's view. The defaults pass it on.
    virtual bool touchesBegan(Point location);
    virtual bool touchesMoved(Point location);
    virtual bool touchesEnded(Point location);
    bool handleTouch(TouchPhase phase, Point location);

    const std::string& title() const { return title_; }
    void setTitle(std::string title) { title_ = std::move(title); }
    TabBarItem& tabBarItem() { return tabBarItem_; }

    ViewController* parentViewController() const { return parent_; }
    NavigationController* navigationController() const;
    TabBarController* tabBarController() const;

    // From the start of an appearance to the start of the next disappearance.
    bool isAppearing() const { return appeared_; }

    // Containers use these to attach children.
    void setParentViewController(ViewController* parent) { parent_ = parent; }
    // Releases the view now and calls viewDidUnload, as a memory warning does.
    void unloadView();

protected:
    // Containers override these to pass the transition on to their visible child.
    virtual void forwardAppearance(bool appearing, bool animated, bool begin);

    // Makes the root view; the default is an empty view the size of the screen's content
    // area. Overrides call setView.
    virtual void loadView();
    void setView(View* view);

private:
    QPointer<View> view_;
    ViewController* parent_ = nullptr;
    std::string title_;
    TabBarItem tabBarItem_;
    bool appeared_ = false;
    bool transitionOpen_ = false;
    bool transitionAnimated_ = false;
};

}  // namespace ui
