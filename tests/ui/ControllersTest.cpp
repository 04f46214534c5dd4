// View controllers in their containers: lifecycle order on push, pop and tab switches, a
// screen that pops itself while it disappears, and where touches go.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "UiTestSupport.h"
#include "platform/ui/Button.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TabBarController.h"
#include "platform/ui/Window.h"

namespace {

using Log = std::vector<std::string>;

// Writes every lifecycle callback and touch into a shared log.
class Probe : public ui::ViewController {
public:
    Probe(std::string name, Log& log, bool* destroyed = nullptr)
        : name_(std::move(name)), log_(log), destroyed_(destroyed) {
        setTitle(name_);
    }
    ~Probe() override {
        if (destroyed_) *destroyed_ = true;
    }
    void viewDidLoad() override { log_.push_back(name_ + ".load"); }
    void viewWillAppear(bool) override { log_.push_back(name_ + ".willAppear"); }
    void viewDidAppear(bool) override { log_.push_back(name_ + ".didAppear"); }
    void viewWillDisappear(bool) override {
        log_.push_back(name_ + ".willDisappear");
        if (popSelfOnDisappear && navigationController()) {
            navigationController()->popViewControllerAnimated(true);
        }
    }
    void viewDidDisappear(bool) override { log_.push_back(name_ + ".didDisappear"); }
    void viewDidUnload() override { log_.push_back(name_ + ".unload"); }
    bool touchesBegan(ui::Point) override {
        log_.push_back(name_ + ".touch");
        return consumeTouches;
    }

    bool popSelfOnDisappear = false;
    bool consumeTouches = false;

private:
    std::string name_;
    Log& log_;
    bool* destroyed_;
};

class ControllersTest : public ui_test::VirtualTimeTest {
protected:
    // A window with tabs [A, nav(B)], on screen.
    void buildShell() {
        window_ = std::make_unique<ui::Window>();
        tabs_ = std::make_unique<ui::TabBarController>();
        std::vector<std::unique_ptr<ui::ViewController>> children;
        children.push_back(std::make_unique<Probe>("A", log_));
        auto nav = std::make_unique<ui::NavigationController>(std::make_unique<Probe>("B", log_));
        nav_ = nav.get();
        children.push_back(std::move(nav));
        tabs_->setViewControllers(std::move(children));
        tabs_->beginAppearanceTransition(true, false);
        window_->addSubview(tabs_->view());
        tabs_->endAppearanceTransition();
        window_->show();
        log_.clear();
    }
    void TearDown() override {
        tabs_.reset();
        window_.reset();
        VirtualTimeTest::TearDown();
    }

    Log log_;
    std::unique_ptr<ui::Window> window_;
    std::unique_ptr<ui::TabBarController> tabs_;
    ui::NavigationController* nav_ = nullptr;
};

// Switching tabs tells the old screen it goes and the new one it comes, will before did; a
// tap on a tab item switches as setSelectedIndex does. The tab bar sits along the bottom.
TEST_F(ControllersTest, TabSwitchLifecycle) {
    buildShell();
    EXPECT_EQ(tabs_->tabBar().frame(), ui::Rect(0, 431, 320, 49));
    ui_test::tap(*window_, {240, 455});
    EXPECT_EQ(tabs_->selectedIndex(), 1u);
    EXPECT_EQ(log_,
              (Log{"A.willDisappear", "B.load", "B.willAppear", "A.didDisappear", "B.didAppear"}));
    log_.clear();
    tabs_->setSelectedIndex(0);
    EXPECT_EQ(log_, (Log{"B.willDisappear", "A.willAppear", "B.didDisappear", "A.didAppear"}));
    EXPECT_EQ(tabs_->viewControllerAt(0)->view()->frame(), ui::Rect(0, 0, 320, 431));
}

// An animated push loads the new screen and announces both sides at once, and the did
// callbacks come when the slide ends; a pop reverses it and releases the popped screen only
// after the main queue has run, so it may pop itself from its own callbacks.
TEST_F(ControllersTest, PushAndPopAnimated) {
    buildShell();
    tabs_->setSelectedIndex(1);
    log_.clear();
    bool destroyed = false;
    nav_->pushViewController(std::make_unique<Probe>("C", log_, &destroyed), true);
    EXPECT_EQ(log_, (Log{"C.load", "C.willAppear", "B.willDisappear"}));
    EXPECT_TRUE(nav_->isTransitioning());
    advance(ui::NavigationController::kTransitionSeconds + 0.01);
    EXPECT_EQ(log_,
              (Log{"C.load", "C.willAppear", "B.willDisappear", "C.didAppear", "B.didDisappear"}));
    EXPECT_EQ(nav_->topViewController()->view()->frame(), ui::Rect(0, 44, 320, 387));

    log_.clear();
    ui::ViewController* popped = nav_->popViewControllerAnimated(true);
    EXPECT_EQ(popped->title(), "C");
    EXPECT_EQ(nav_->depth(), 1u);
    advance(ui::NavigationController::kTransitionSeconds + 0.01);
    EXPECT_EQ(log_, (Log{"B.willAppear", "C.willDisappear", "B.didAppear", "C.didDisappear"}));
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(nav_->popViewControllerAnimated(true), nullptr);  // the root stays
}

// A pushed screen that pops itself when it disappears because another tab was chosen leaves
// the stack at its root, is released afterwards, and the root appears when its tab returns.
TEST_F(ControllersTest, ScreenPopsItselfOnTabSwitch) {
    buildShell();
    tabs_->setSelectedIndex(1);
    bool destroyed = false;
    auto player = std::make_unique<Probe>("P", log_, &destroyed);
    player->popSelfOnDisappear = true;
    nav_->pushViewController(std::move(player), false);
    log_.clear();

    tabs_->setSelectedIndex(0);
    EXPECT_EQ(nav_->depth(), 1u);
    EXPECT_FALSE(destroyed);  // still inside its own callback's call chain until the queue runs
    queue().drain();
    EXPECT_TRUE(destroyed);
    // The pop completes the leaving screen's disappearance before the new tab appears.
    EXPECT_EQ(log_, (Log{"P.willDisappear", "P.didDisappear", "A.willAppear", "A.didAppear"}));

    log_.clear();
    tabs_->setSelectedIndex(1);
    EXPECT_EQ(log_, (Log{"A.willDisappear", "B.willAppear", "A.didDisappear", "B.didAppear"}));
}

// Touches: a tap on a screen's empty area goes to its controller and, passed on, up to the
// container; a button takes its own taps; a hidden or nearly transparent button is not there
// for touches, so the tap reaches the screen behind it.
TEST_F(ControllersTest, TouchesGoToControlsThenUpTheChain) {
    buildShell();
    auto* screen = static_cast<Probe*>(tabs_->viewControllerAt(0));
    int presses = 0;
    auto* button = new ui::Button(ui::Rect(120, 300, 80, 80));
    button->setAction([&](ui::Button&) { ++presses; });
    screen->view()->addSubview(button);

    ui_test::tap(*window_, {20, 20});
    EXPECT_EQ(log_, (Log{"A.touch"}));
    ui_test::tap(*window_, {160, 340});
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(log_.size(), 1u);

    button->setAlpha(0.005f);
    ui_test::tap(*window_, {160, 340});
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(log_.size(), 2u);
    button->setAlpha(1.0f);
    button->setHidden(true);
    ui_test::tap(*window_, {160, 340});
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(log_.size(), 3u);
}

// A memory warning releases the view of a screen that is not showing; it loads again on use.
TEST_F(ControllersTest, MemoryWarningUnloadsHiddenScreens) {
    buildShell();
    tabs_->setSelectedIndex(1);
    ui::ViewController* a = tabs_->viewControllerAt(0);
    log_.clear();
    a->didReceiveMemoryWarning();
    EXPECT_FALSE(a->isViewLoaded());
    tabs_->viewControllerAt(1)->didReceiveMemoryWarning();  // on screen: kept
    EXPECT_TRUE(tabs_->viewControllerAt(1)->isViewLoaded());
    tabs_->setSelectedIndex(0);
    EXPECT_EQ(log_, (Log{"A.unload", "B.willDisappear", "A.load", "A.willAppear", "B.didDisappear",
                         "A.didAppear"}));
}

}  // namespace
