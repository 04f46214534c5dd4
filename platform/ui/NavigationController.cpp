#include "platform/ui/NavigationController.h"

#include <QLinearGradient>
#include <QPainter>

#include "platform/MainQueue.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/Screen.h"

namespace ui {

namespace {
class NavigationBar : public View {
public:
    using View::View;

protected:
    void drawContents(QPainter& painter) override {
        QLinearGradient shade(QPointF(0, 0), QPointF(0, height()));
        shade.setColorAt(0, QColor(70, 84, 110));
        shade.setColorAt(1, QColor(30, 40, 62));
        painter.fillRect(rect(), shade);
        painter.fillRect(QRectF(0, height() - 1, width(), 1), QColor(12, 16, 24));
    }
};
}  // namespace

struct NavigationController::Transition {
    uint64_t serial;
    ViewController* from;
    ViewController* to;
    bool forward;
    bool animated;
};

NavigationController::NavigationController(std::unique_ptr<ViewController> root) {
    root->setParentViewController(this);
    stack_.push_back(std::move(root));
}

NavigationController::~NavigationController() {
    transition_.reset();
    released_.clear();
    // Children delete their own views before this controller deletes its root view.
    while (!stack_.empty()) stack_.pop_back();
}

ViewController* NavigationController::topViewController() const {
    return stack_.empty() ? nullptr : stack_.back().get();
}

std::vector<ViewController*> NavigationController::viewControllers() const {
    std::vector<ViewController*> result;
    for (auto& c : stack_) result.push_back(c.get());
    return result;
}

Rect NavigationController::contentFrame() const {
    const float top = barHidden_ ? 0 : kNavigationBarHeight;
    const Rect b =
        viewIfLoaded() ? viewIfLoaded()->bounds() : Rect(0, 0, Screen::kWidth, Screen::kHeight);
    return {0, top, b.width(), std::max(0.0f, b.height() - top)};
}

void NavigationController::loadView() {
    auto* root = new View(Rect(0, 0, Screen::kWidth, Screen::kHeight));
    root->setBackgroundColor(Color::black());
    bar_ = new NavigationBar(Rect(0, 0, Screen::kWidth, kNavigationBarHeight));
    titleLabel_ = new Label(Rect(80, 0, Screen::kWidth - 160, kNavigationBarHeight));
    titleLabel_->setTextColor(Color::white());
    titleLabel_->setFont(Font::boldSystemFont(19));
    titleLabel_->setTextAlignment(TextAlignment::Center);
    titleLabel_->setUserInteractionEnabled(false);
    backButton_ = new Button(Rect(6, 7, 72, 30));
    backButton_->setTitleFont(Font::boldSystemFont(13));
    backButton_->setBackgroundColor(Color::rgb(0.22f, 0.29f, 0.42f));
    backButton_->setAction([this](Button&) { popViewControllerAnimated(true); });
    bar_->addSubview(titleLabel_);
    bar_->addSubview(backButton_);
    root->addSubview(bar_);
    setView(root);
    layoutBar();
    ViewController* top = topViewController();
    View* topView = top->view();
    topView->setFrame(contentFrame());
    root->insertSubviewBelow(topView, bar_);
}

void NavigationController::layoutBar() {
    if (!bar_) return;
    bar_->setHidden(barHidden_);
    ViewController* top = topViewController();
    titleLabel_->setText(top ? top->title() : std::string());
    const bool canGoBack = stack_.size() > 1;
    backButton_->setHidden(!canGoBack);
    if (canGoBack) {
        const std::string& previous = stack_[stack_.size() - 2]->title();
        backButton_->setTitle(previous.empty() || previous.size() > 10 ? "Back" : previous);
    }
}

void NavigationController::setNavigationBarHidden(bool hidden) {
    barHidden_ = hidden;
    if (!isViewLoaded()) return;
    layoutBar();
    if (ViewController* top = topViewController(); top && top->isViewLoaded()) {
        top->viewIfLoaded()->setFrame(contentFrame());
    }
}

void NavigationController::pushViewController(std::unique_ptr<ViewController> controller,
                                              bool animated) {
    if (!controller) return;
    finishTransition();
    ViewController* from = topViewController();
    controller->setParentViewController(this);
    stack_.push_back(std::move(controller));
    startTransition(from, stack_.back().get(), true, animated);
}

ViewController* NavigationController::popViewControllerAnimated(bool animated) {
    if (stack_.size() <= 1) return nullptr;
    finishTransition();
    std::unique_ptr<ViewController> popped = std::move(stack_.back());
    stack_.pop_back();
    ViewController* raw = popped.get();
    // Kept alive until the transition is over and the main queue has run.
    released_.push_back(std::move(popped));
    startTransition(raw, topViewController(), false, animated);
    return raw;
}

void NavigationController::startTransition(ViewController* from, ViewController* to, bool forward,
                                           bool animated) {
    const bool onScreen = isAppearing() && isViewLoaded();
    animated = animated && onScreen;
    transition_ =
        std::make_unique<Transition>(Transition{++transitionSerial_, from, to, forward, animated});
    const uint64_t serial = transition_->serial;
    if (onScreen) {
        // The new screen hears first that it will appear: its view loads (and a player starts)
        // before the old screen hears that it goes.
        to->beginAppearanceTransition(true, animated);
        if (from) from->beginAppearanceTransition(false, animated);
    }
    // A callback above may have started another transition; this one is then already done.
    if (!transition_ || transition_->serial != serial) return;
    if (!isViewLoaded()) {
        transition_.reset();
        if (!forward) release(nullptr);
        return;
    }
    layoutBar();
    View* root = view();
    View* toView = to->view();
    const Rect area = contentFrame();
    root->insertSubviewBelow(toView, bar_);
    if (!animated) {
        toView->setFrame(area);
        finishTransition();
        return;
    }
    const float width = area.width();
    View* fromView = from ? from->viewIfLoaded() : nullptr;
    toView->setFrame(Rect(forward ? width : -width / 3, area.y(), width, area.height()));
    if (!forward && fromView) root->insertSubviewBelow(fromView, bar_);
    View::beginAnimations("navigation");
    View::setAnimationDuration(kTransitionSeconds);
    View::setAnimationCurve(AnimationCurve::EaseInOut);
    View::setAnimationDelegate(&guard_, [this, serial](const std::string&, bool, void*) {
        if (transition_ && transition_->serial == serial) finishTransition();
    });
    toView->setFrame(area);
    if (fromView) {
        fromView->setFrame(Rect(forward ? -width / 3 : width, area.y(), width, area.height()));
    }
    View::commitAnimations();
}

void NavigationController::finishTransition() {
    if (!transition_) return;
    std::unique_ptr<Transition> t = std::move(transition_);
    const Rect area = contentFrame();
    if (View* toView = t->to->viewIfLoaded()) toView->setFrame(area);
    if (t->from && t->from->isViewLoaded()) {
        View* fromView = t->from->viewIfLoaded();
        fromView->removeFromSuperview();
        fromView->setFrame(area);
    }
    t->to->endAppearanceTransition();
    if (t->from) t->from->endAppearanceTransition();
    if (!t->forward) release(nullptr);
}

void NavigationController::release(std::unique_ptr<ViewController> controller) {
    if (controller) released_.push_back(std::move(controller));
    if (released_.empty()) return;
    // Released later: the popped screen may be the one whose callback asked for the pop.
    QPointer<QObject> alive(&guard_);
    platform::MainQueue::main().post([this, alive] {
        if (!alive) return;
        // A controller that a running transition still slides out waits for the next release.
        ViewController* busy = transition_ ? transition_->from : nullptr;
        std::erase_if(released_, [busy](const auto& c) { return c.get() != busy; });
    });
}

void NavigationController::forwardAppearance(bool appearing, bool animated, bool begin) {
    ViewController* top = topViewController();
    if (!top) return;
    if (begin) {
        top->beginAppearanceTransition(appearing, animated);
    } else {
        top->endAppearanceTransition();
    }
}

}  // namespace ui
