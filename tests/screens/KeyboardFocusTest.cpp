// The screens from the keyboard and through a screen reader's eyes, with real key events on
// the real widgets: Tab walks the controls with a ring, Return and Space press the focused
// button, the arrows move a focused slider, Up and Down change the volume anywhere, and every
// control tells Qt's accessibility interface its role, name, state and value.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QAccessibleValueInterface>
#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <memory>
#include <set>
#include <string>

#include "ScreensTestSupport.h"
#include "ScreenshotTool.h"
#include "app/KeyboardShortcuts.h"
#include "app/MainInterface.h"
#include "app/myTabeBare.h"
#include "platform/NotificationCenter.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Slider.h"
#include "platform/ui/TabBarController.h"
#include "platform/ui/TableView.h"
#include "platform/ui/VolumeView.h"
#include "platform/ui/Window.h"
#include "screens/AudioPlayerViewController.h"
#include "screens/OnDemandPlayer.h"
#include "screens/On_DemandListViewController.h"
#include "screens/ScreenSupport.h"
#include "streaming/AudioStreamer.h"

namespace {

constexpr size_t kBytesPerSecond = 16000;

class KeyboardFocusTest : public screentest::ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        serveLive("/live");
        serveProgramme("/programmes/morning.mp3",
                       screentest::programmeBytes(120 * kBytesPerSecond));
        server->serve(
            "/dev/feed/",
            testsupport::Response::bytes(screentest::rssFeed(
                {{"Morning Show", server->url("/programmes/morning.mp3"), {"Anna Berg"}}})));
        launchMainInterface(server->url("/live"));
        keys = std::make_unique<KeyboardShortcuts>(*delegate->window(), tabs(), [] {});
        destroyScreens = [this] { keys.reset(); };
        advance(1.3);  // the splash has gone, the stream started at 0.5 s
        ASSERT_TRUE(
            runUntil([&] { return live()->streamer() && live()->streamer()->isPlaying(); }));
        // The platform activates the window through Qt's own events.
        for (int i = 0; i < 200 && QApplication::activeWindow() != delegate->window(); ++i)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        ASSERT_EQ(QApplication::activeWindow(), delegate->window());
    }

    myTabeBare& tabs() { return *delegate->tabBarController(); }
    AudioPlayerViewController* live() {
        return dynamic_cast<AudioPlayerViewController*>(tabs().viewControllerAt(0));
    }
    // A key as the keyboard sends it: to the focus widget, or to the window without one.
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget();
        if (!target) target = delegate->window();
        QKeyEvent down(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(target, &down);
        QKeyEvent up(QEvent::KeyRelease, key, modifiers);
        QApplication::sendEvent(target, &up);
        runUntil([] { return true; });
    }
    // Presses Tab until `widget` has the focus; false after a round of 12 stops.
    bool tabTo(QWidget* widget) {
        for (int i = 0; i < 12 && QApplication::focusWidget() != widget; ++i) press(Qt::Key_Tab);
        return QApplication::focusWidget() == widget;
    }
    static QAccessibleInterface* accessible(QWidget* widget) {
        return QAccessible::queryAccessibleInterface(widget);
    }
    static std::string nameOf(QWidget* widget) {
        return accessible(widget)->text(QAccessible::Name).toStdString();
    }

    std::unique_ptr<KeyboardShortcuts> keys;
};

// Tab reaches the live screen's button, its podcast button, the volume and the tab bar; the
// focused button draws its ring (screenshot), Return and Space press it and its name says what
// a press does; a focused volume slider takes Left, while Up and Down change the volume from
// any control, and the screen reader reads the same value.
TEST_F(KeyboardFocusTest, TabWalksTheLiveScreenAndTheFocusedControlTakesItsKeys) {
    AudioPlayerViewController& screen = *live();
    std::set<QWidget*> reached;
    for (int i = 0; i < 12; ++i) {
        press(Qt::Key_Tab);
        reached.insert(QApplication::focusWidget());
    }
    EXPECT_TRUE(reached.count(screen.playButton()));
    EXPECT_TRUE(reached.count(screen.downloadButton()));
    EXPECT_TRUE(reached.count(&tabs().tabBar()));
    ui::Slider* volume = nullptr;
    for (QWidget* widget : reached) {
        if (auto* slider = dynamic_cast<ui::Slider*>(widget)) volume = slider;
    }
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(nameOf(volume), "Volume");

    ASSERT_TRUE(tabTo(screen.playButton()));
    EXPECT_FALSE(ui_test::saveScreenshot(*delegate->window(), "focus-on-the-play-button").empty());
    QAccessibleInterface* button = accessible(screen.playButton());
    EXPECT_EQ(button->role(), QAccessible::Button);
    EXPECT_EQ(nameOf(screen.playButton()), "Stop");
    EXPECT_TRUE(button->state().focused);
    EXPECT_TRUE(button->state().focusable);
    press(Qt::Key_Return);
    EXPECT_TRUE(screen.playButton()->currentImageIs(screens::kPlayButtonImage));
    EXPECT_EQ(nameOf(screen.playButton()), "Play");
    ASSERT_TRUE(runUntil([&] { return screen.streamer()->isIdle(); }));
    press(Qt::Key_Space);
    EXPECT_EQ(nameOf(screen.playButton()), "Stop");
    ASSERT_TRUE(runUntil([&] { return screen.streamer()->isPlaying(); }));

    // Up and Down work from the button; the volume slider shows what they set.
    ui::VolumeView::setOutputVolume(0.5f);
    press(Qt::Key_Up);
    EXPECT_NEAR(ui::VolumeView::outputVolume(), 0.6f, 1e-4);
    EXPECT_NEAR(volume->value(), 0.6f, 1e-4);
    press(Qt::Key_Down);
    press(Qt::Key_Down);
    EXPECT_NEAR(ui::VolumeView::outputVolume(), 0.4f, 1e-4);
    ASSERT_TRUE(tabTo(volume));
    press(Qt::Key_Left);
    EXPECT_NEAR(ui::VolumeView::outputVolume(), 0.35f, 1e-4);
    press(Qt::Key_End);
    EXPECT_FLOAT_EQ(ui::VolumeView::outputVolume(), 1.0f);
    QAccessibleValueInterface* value = accessible(volume)->valueInterface();
    ASSERT_NE(value, nullptr);
    EXPECT_EQ(accessible(volume)->role(), QAccessible::Slider);
    EXPECT_DOUBLE_EQ(value->currentValue().toDouble(), 1.0);
    value->setCurrentValue(0.25);
    EXPECT_FLOAT_EQ(ui::VolumeView::outputVolume(), 0.25f);
    ui::VolumeView::setOutputVolume(1.0f);

    // The tab bar: a tab list whose value is the chosen tab, moved by the arrows.
    ASSERT_TRUE(tabTo(&tabs().tabBar()));
    EXPECT_EQ(accessible(&tabs().tabBar())->role(), QAccessible::PageTabList);
    EXPECT_EQ(accessible(&tabs().tabBar())->text(QAccessible::Value).toStdString(), "Live Radio");
    press(Qt::Key_Right);
    EXPECT_EQ(tabs().selectedIndex(), 1u);
    EXPECT_EQ(accessible(&tabs().tabBar())->text(QAccessible::Value).toStdString(), "On Demand");
}

// Moving the mouse over the window brings the faded controls back, as video players do; a
// pointer that keeps moving asks at most four times a second.
TEST_F(KeyboardFocusTest, MouseMovementBringsTheControlsBack) {
    advance(9);
    ASSERT_TRUE(live()->playButton()->isHidden());
    int posts = 0;
    const auto token = platform::NotificationCenter::defaultCenter().addObserver(
        "ShowControls", nullptr, [&](const platform::Notification&) { ++posts; });
    ui::Window& window = *delegate->window();
    for (int x : {100, 110, 120}) {
        QMouseEvent move(QEvent::MouseMove, QPointF(x, 300), window.mapToGlobal(QPointF(x, 300)),
                         Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(&window, &move);
    }
    runUntil([] { return true; });
    EXPECT_EQ(posts, 1);
    advance(0.5);
    EXPECT_FALSE(live()->playButton()->isHidden());
    EXPECT_GT(live()->playButton()->alpha(), 0.9f);
    platform::NotificationCenter::defaultCenter().removeObserver(token);
}

// The list from the keyboard (Tab, the arrows, Return), read by a screen reader as a list; in
// the programme, a focused position slider seeks a twentieth of the length per arrow, with a
// ranged request, and reads its value; the time label reads its text; a disabled slider is
// unavailable to the reader.
TEST_F(KeyboardFocusTest, AFocusedPositionSliderSeeksWithTheArrows) {
    tabs().setSelectedIndex(1);
    auto* navigation = dynamic_cast<ui::NavigationController*>(tabs().viewControllerAt(1));
    auto* list = dynamic_cast<On_DemandListViewController*>(navigation->viewControllers()[0]);
    ASSERT_TRUE(
        runUntilAdvancing([&] { return list->numberOfRowsInSection(*list->tableView(), 0) > 0; }));
    // Chosen from the keyboard: Tab reaches the list on its first row, Return opens it.
    ui::TableView* table = list->tableView();
    ASSERT_TRUE(tabTo(table));
    EXPECT_EQ(table->keyboardRow(), 0);
    EXPECT_EQ(accessible(table)->role(), QAccessible::List);
    EXPECT_EQ(accessible(table)->text(QAccessible::Value).toStdString(), "Morning Show");
    EXPECT_FALSE(ui_test::saveScreenshot(*delegate->window(), "focus-on-the-list").empty());
    press(Qt::Key_Down);  // one row only: the cursor stays on it
    EXPECT_EQ(table->keyboardRow(), 0);
    press(Qt::Key_Return);
    auto* player = dynamic_cast<OnDemandPlayer*>(navigation->topViewController());
    ASSERT_NE(player, nullptr);
    ui::Slider* position = player->progressSlider();
    EXPECT_TRUE(accessible(position)->state().disabled);
    EXPECT_EQ(nameOf(position), "Position");
    ASSERT_TRUE(runUntilAdvancing([&] { return position->isEnabled(); }));
    EXPECT_FALSE(accessible(position)->state().disabled);
    EXPECT_EQ(accessible(player->lbltime())->role(), QAccessible::StaticText);
    EXPECT_EQ(nameOf(player->lbltime()), *player->lbltime()->text());

    ASSERT_TRUE(tabTo(position));
    const float before = position->value();
    press(Qt::Key_Right);
    EXPECT_NEAR(position->value(), before + 5, 0.01);
    EXPECT_NEAR(accessible(position)->valueInterface()->currentValue().toDouble(), before + 5,
                0.01);
    long rangeStart = -1;
    ASSERT_TRUE(runUntil([&] {
        for (const auto& request : server->requests()) {
            const std::string range = request.header("range");
            if (request.path == "/programmes/morning.mp3" && range.rfind("bytes=", 0) == 0)
                rangeStart = std::strtol(range.c_str() + 6, nullptr, 10);
        }
        return rangeStart >= 0;
    }));
    EXPECT_NEAR(double(rangeStart), (before + 5) / 100 * 120 * kBytesPerSecond,
                2.0 * kBytesPerSecond);
    // Escape still goes back while the slider has the focus.
    press(Qt::Key_Escape);
    ASSERT_TRUE(runUntilAdvancing([&] { return navigation->topViewController() != player; }));
}

}  // namespace
