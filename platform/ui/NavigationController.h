#pragma once
// A stack of screens with a navigation bar (44 points, may be hidden) above the top screen's
// view. Push and pop slide the views over 0.35 s on MainQueue time when animated, and send the
// appear and disappear callbacks while the navigation controller itself is on screen.
//
// Ownership: the stack owns its controllers. A popped controller is released on the main
// queue after the pop, never inside it, so a screen may pop itself from its own callbacks.
// A pop that finds only the root on the stack does nothing. Main thread only.

#include <memory>
#include <vector>

#include "platform/ui/ViewController.h"

namespace ui {

class Button;
class Label;

class NavigationController : public ViewController {
public:
    static constexpr float kNavigationBarHeight = 44;
    static constexpr double kTransitionSeconds = 0.35;

    explicit NavigationController(std::unique_ptr<ViewController> root);
    ~NavigationController() override;

    void pushViewController(std::unique_ptr<ViewController> controller, bool animated);
    // Returns the popped controller, valid until the main queue runs its next task.
    ViewController* popViewControllerAnimated(bool animated);

    ViewController* topViewController() const;
    std::vector<ViewController*> viewControllers() const;
    size_t depth() const { return stack_.size(); }

    bool isNavigationBarHidden() const { return barHidden_; }
    void setNavigationBarHidden(bool hidden);
    // A transition is sliding now.
    bool isTransitioning() const { return transition_ != nullptr; }

protected:
    void loadView() override;
    void forwardAppearance(bool appearing, bool animated, bool begin) override;

private:
    struct Transition;
    Rect contentFrame() const;
    void layoutBar();
    void startTransition(ViewController* from, ViewController* to, bool forward, bool animated);
    void finishTransition();
    void release(std::unique_ptr<ViewController> controller);

    std::vector<std::unique_ptr<ViewController>> stack_;
    std::vector<std::unique_ptr<ViewController>> released_;
    std::unique_ptr<Transition> transition_;
    uint64_t transitionSerial_ = 0;
    bool barHidden_ = false;
    View* bar_ = nullptr;
    Label* titleLabel_ = nullptr;
    Button* backButton_ = nullptr;
    QObject guard_;
};

}  // namespace ui
