// Block and layer animations on virtual time: timing, model and presentation values, and the
// did-stop report with its finished flag.

#include <gtest/gtest.h>

#include <QApplication>
#include <QObject>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "UiTestSupport.h"
#include "platform/ui/Animator.h"
#include "platform/ui/Layer.h"
#include "platform/ui/View.h"
#include "platform/ui/Window.h"

namespace {

struct Report {
    std::string id;
    bool finished;
    double at;
};

class AnimationTest : public ui_test::VirtualTimeTest {
protected:
    // Animates `view`'s frame to `to` over `seconds`, reporting into reports_.
    void animateFrame(ui::View& view, ui::Rect to, double seconds, const std::string& id,
                      QObject* delegate) {
        ui::View::beginAnimations(id);
        ui::View::setAnimationDuration(seconds);
        ui::View::setAnimationCurve(ui::AnimationCurve::Linear);
        ui::View::setAnimationDelegate(delegate,
                                       [this](const std::string& name, bool finished, void*) {
                                           reports_.push_back({name, finished, queue().now()});
                                       });
        view.setFrame(to);
        ui::View::commitAnimations();
    }
    std::vector<Report> reports_;
    QObject delegate_;
};

// The model takes the end value at once; the picture moves linearly; the report comes at the
// end of the duration with finished set, and the picture then shows the model.
TEST_F(AnimationTest, BlockAnimationRunsItsDurationAndReportsFinished) {
    ui::View view(ui::Rect(0, 0, 10, 10));
    animateFrame(view, ui::Rect(100, 0, 10, 10), 2.0, "move", &delegate_);
    EXPECT_FLOAT_EQ(view.frame().x(), 100.0f);
    EXPECT_FLOAT_EQ(view.presentationFrame().x(), 0.0f);
    advance(0.5);
    EXPECT_NEAR(view.presentationFrame().x(), 25.0f, 0.01);
    advance(1.49);
    EXPECT_TRUE(reports_.empty());
    advance(0.02);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_EQ(reports_[0].id, "move");
    EXPECT_TRUE(reports_[0].finished);
    EXPECT_NEAR(reports_[0].at, 2.0, 1e-6);
    EXPECT_FLOAT_EQ(view.presentationFrame().x(), 100.0f);
    EXPECT_EQ(ui::Animator::shared().runningCount(), 0u);
}

// A plain set of the animated property, or a new animation of it, cuts the running one short:
// the report says not finished and arrives through the main queue, never inside the setter.
TEST_F(AnimationTest, CutShortAnimationReportsNotFinishedLater) {
    ui::View view(ui::Rect(0, 0, 10, 10));
    animateFrame(view, ui::Rect(100, 0, 10, 10), 2.0, "first", &delegate_);
    advance(1.0);
    view.setFrame(ui::Rect(5, 0, 10, 10));
    EXPECT_TRUE(reports_.empty());
    EXPECT_FLOAT_EQ(view.presentationFrame().x(), 5.0f);
    queue().drain();
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_FALSE(reports_[0].finished);

    animateFrame(view, ui::Rect(50, 0, 10, 10), 1.0, "second", &delegate_);
    animateFrame(view, ui::Rect(60, 0, 10, 10), 1.0, "third", &delegate_);
    advance(1.01);
    ASSERT_EQ(reports_.size(), 3u);
    EXPECT_EQ(reports_[1].id, "second");
    EXPECT_FALSE(reports_[1].finished);
    EXPECT_EQ(reports_[2].id, "third");
    EXPECT_TRUE(reports_[2].finished);
}

// A report whose delegate is gone is dropped, and a destroyed view takes its animations along.
TEST_F(AnimationTest, NoReportAfterDelegateOrViewIsGone) {
    auto delegate = std::make_unique<QObject>();
    ui::View view(ui::Rect(0, 0, 10, 10));
    animateFrame(view, ui::Rect(100, 0, 10, 10), 1.0, "orphan", delegate.get());
    delegate.reset();
    advance(2);
    EXPECT_TRUE(reports_.empty());

    auto doomed = std::make_unique<ui::View>(ui::Rect(0, 0, 10, 10));
    animateFrame(*doomed, ui::Rect(100, 0, 10, 10), 1.0, "doomed", &delegate_);
    doomed.reset();
    advance(2);
    EXPECT_TRUE(reports_.empty());
    EXPECT_EQ(ui::Animator::shared().runningCount(), 0u);
}

// Alpha animates like the frame; a block that changes nothing still reports after its
// duration.
TEST_F(AnimationTest, AlphaAndEmptyBlocks) {
    ui::View view(ui::Rect(0, 0, 10, 10));
    ui::View::beginAnimations("fade");
    ui::View::setAnimationDuration(1.0);
    ui::View::setAnimationCurve(ui::AnimationCurve::Linear);
    view.setAlpha(0.0f);
    ui::View::commitAnimations();
    EXPECT_FLOAT_EQ(view.alpha(), 0.0f);
    advance(0.25);
    EXPECT_NEAR(view.presentationAlpha(), 0.75f, 0.01);
    advance(1);
    EXPECT_FLOAT_EQ(view.presentationAlpha(), 0.0f);

    animateFrame(view, view.frame(), 0.3, "same", &delegate_);
    ui::View::beginAnimations("empty");
    ui::View::setAnimationDuration(0.3);
    ui::View::setAnimationDelegate(&delegate_, [this](const std::string& id, bool finished, void*) {
        reports_.push_back({id, finished, queue().now()});
    });
    ui::View::commitAnimations();
    advance(0.31);
    ASSERT_EQ(reports_.size(), 2u);
    EXPECT_TRUE(reports_[0].finished);
    EXPECT_TRUE(reports_[1].finished);
}

// The loading button's spin: a z rotation from 0 to one turn taking the transaction's 2 s,
// reported finished so it can start again; removing the animations stops it, not finished,
// and the picture returns to no rotation.
TEST_F(AnimationTest, LayerRotationSpinsAndStops) {
    ui::View button(ui::Rect(100, 100, 64, 64));
    int turns = 0;
    std::vector<bool> stops;
    std::function<void()> spin = [&] {
        ui::Transaction::begin();
        ui::Transaction::setDisableActions(true);
        button.layer().setAnchorPoint({0.5f, 0.5f});
        button.layer().setPosition({button.frame().x() + button.frame().width() / 2,
                                    button.frame().y() + button.frame().height() / 2});
        ui::Transaction::commit();
        ui::Transaction::begin();
        ui::Transaction::setDisableActions(false);
        ui::Transaction::setAnimationDuration(2.0);
        ui::BasicAnimation rotation;
        rotation.keyPath = "transform.rotation.z";
        rotation.fromValue = 0;
        rotation.toValue = 6.2831855f;
        rotation.timingFunction = ui::AnimationCurve::Linear;
        rotation.delegate = &delegate_;
        rotation.didStop = [&](bool finished) {
            stops.push_back(finished);
            if (finished) {
                ++turns;
                spin();
            }
        };
        button.layer().addAnimation(rotation, "rotationAnimation");
        ui::Transaction::commit();
    };
    spin();
    EXPECT_EQ(button.frame(), ui::Rect(100, 100, 64, 64));
    EXPECT_TRUE(button.layer().hasAnimation("rotationAnimation"));
    advance(1.0);
    EXPECT_NEAR(button.layer().presentationRotation(), M_PI, 0.01);
    advance(4.5);
    EXPECT_EQ(turns, 2);
    button.layer().removeAllAnimations();
    EXPECT_FLOAT_EQ(button.layer().presentationRotation(), 0.0f);
    queue().drain();
    EXPECT_EQ(stops, (std::vector<bool>{true, true, false}));
    advance(5);
    EXPECT_EQ(turns, 2);
}

}  // namespace

namespace {

// A window nobody sees steps no frame: the animation keeps its timing and still reports on
// time, and when the window is seen again the picture jumps to where the animation is by then.
// Hiding the real window pauses the stepping; showing it again resumes it.
TEST_F(AnimationTest, NothingStepsWhileTheWindowIsNotSeen) {
    ui::View view(ui::Rect(0, 0, 10, 10));
    animateFrame(view, ui::Rect(100, 0, 10, 10), 2.0, "move", &delegate_);
    advance(0.5);
    ui::Animator& animator = ui::Animator::shared();
    ASSERT_TRUE(animator.isStepping());

    animator.setSuspended(true);
    EXPECT_FALSE(animator.isStepping());
    advance(0.5);
    EXPECT_NEAR(view.presentationFrame().x(), 25.0f, 0.01) << "stepped while suspended";
    animator.setSuspended(false);
    EXPECT_TRUE(animator.isStepping());
    EXPECT_NEAR(view.presentationFrame().x(), 50.0f, 0.01);

    animator.setSuspended(true);
    advance(1.01);
    ASSERT_EQ(reports_.size(), 1u);
    EXPECT_TRUE(reports_[0].finished);
    EXPECT_NEAR(reports_[0].at, 2.0, 1e-6);
    EXPECT_FLOAT_EQ(view.presentationFrame().x(), 100.0f);
    animator.setSuspended(false);

    ui::Window window;
    // The window's own events, and its re-check after an exposure, are Qt's to deliver.
    const auto settle = [] {
        for (int i = 0; i < 20; ++i) QApplication::processEvents();
    };
    window.show();
    settle();
    ASSERT_TRUE(window.isSeen());
    EXPECT_FALSE(animator.isSuspended());
    window.hide();
    settle();
    EXPECT_FALSE(window.isSeen());
    EXPECT_TRUE(animator.isSuspended());
    window.show();
    settle();
    EXPECT_FALSE(animator.isSuspended());
    window.showMinimized();
    settle();
    EXPECT_TRUE(animator.isSuspended());
}

}  // namespace
