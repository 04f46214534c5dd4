// Pictures of every screen in its main states, written to test-output/screenshots for people
// to look at: the live radio playing with its controls shown and faded, the programme list,
// a player in the middle of a programme, and the basic player loading.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <QScreen>
#include <cmath>
#include <memory>

#include "ScreensTestSupport.h"
#include "ScreenshotTool.h"
#include "app/MainInterface.h"
#include "app/myTabeBare.h"
#include "platform/NotificationCenter.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Screen.h"
#include "platform/ui/Window.h"
#include "screens/AudioPlayerViewController.h"
#include "screens/OnDemandPlayer.h"
#include "screens/On_DemandListViewController.h"
#include "screens/StreamingPlayerViewController.h"
#include "streaming/AudioStreamer.h"

namespace {

class ScreenshotsTest : public screentest::ScreenTest {
protected:
    void launch() { launchMainInterface(server->url("/live")); }
    myTabeBare& tabs() { return *delegate->tabBarController(); }
    void shoot(const char* name) {
        EXPECT_FALSE(ui_test::saveScreenshot(*delegate->window(), name).empty()) << name;
    }
};

TEST_F(ScreenshotsTest, TheApplicationsScreens) {
    serveLive("/live");
    const std::string programme = screentest::programmeBytes(600 * 16000);
    serveProgramme("/programmes/morning.mp3", programme);
    server->serve("/dev/feed/",
                  testsupport::Response::bytes(screentest::rssFeed({
                      {"Morning Show", server->url("/programmes/morning.mp3"), {"Anna Berg"}},
                      {"Harbour Talk with the Fishermen of the Northern Archipelago",
                       server->url("/programmes/harbour.mp3"),
                       {"Olof Lind"}},
                      {"Night Jazz", server->url("/programmes/jazz.mp3"), {"Maja Ek"}},
                      {"Weekly News", server->url("/programmes/news.mp3"), {"Sara Holm"}},
                  })));
    launch();
    auto* live = dynamic_cast<AudioPlayerViewController*>(tabs().viewControllerAt(0));
    ASSERT_NE(live, nullptr);

    // The splash has faded by 1.3 s; the stream started at 0.5 s.
    advance(1.3);
    ASSERT_TRUE(runUntil([&] { return live->streamer() && live->streamer()->isPlaying(); }));
    advance(0.5);
    shoot("live-playing-controls-shown");
    advance(2.5);  // 4.3 s: half way through the fade
    shoot("live-playing-controls-fading");
    advance(4.0);
    ASSERT_TRUE(live->playButton()->isHidden());
    shoot("live-playing-controls-faded");

    // The second showing reads the cached feed, which has the authors too.
    tabs().setSelectedIndex(1);
    advance(0.5);
    tabs().setSelectedIndex(0);
    tabs().setSelectedIndex(1);
    advance(0.5);
    auto* navigation = dynamic_cast<ui::NavigationController*>(tabs().viewControllerAt(1));
    auto* list = dynamic_cast<On_DemandListViewController*>(navigation->topViewController());
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->tableView()->numberOfRows(), 4);
    shoot("ondemand-list");

    list->tableView()->selectRow({0, 0});
    advance(0.5);
    auto* player = dynamic_cast<OnDemandPlayer*>(navigation->topViewController());
    ASSERT_NE(player, nullptr);
    ASSERT_TRUE(runUntilAdvancing([&] { return player->progressSlider()->isEnabled(); }));
    player->progressSlider()->setValue(40);
    player->sliderMoved(*player->progressSlider());
    ASSERT_TRUE(runUntil(
        [&] { return player->streamer()->isPlaying() && player->streamer()->progress() >= 240; }));
    advance(OnDemandPlayer::kProgressInterval);
    platform::NotificationCenter::defaultCenter().post("ShowControls", nullptr);
    advance(0.2);
    shoot("ondemand-player-mid-programme");
}

// Runs Qt's own events (the window system's resize and maximise) for a moment.
void processWindowEvents() {
    for (int i = 0; i < 20; ++i) QApplication::processEvents(QEventLoop::AllEvents, 5);
}

// The window scales the whole layout to its size, aspect kept and centred: its first size fits
// the screen (at most 85% of its height), a 480 x 720 window is the layout at 1.5, and a
// maximised window on the 1920 x 1080 monitor holds it at 2.25 in the middle. Run once more
// with QT_SCALE_FACTOR=2 (the "-dpr2" pictures), where the same logical sizes have twice the
// device pixels.
TEST_F(ScreenshotsTest, TheWindowScalesToItsSize) {
    serveLive("/live");
    server->serve("/dev/feed/", testsupport::Response::bytes(screentest::rssFeed({})));
    launch();
    advance(1.3);
    auto* live = dynamic_cast<AudioPlayerViewController*>(tabs().viewControllerAt(0));
    ASSERT_TRUE(runUntil([&] { return live->streamer() && live->streamer()->isPlaying(); }));
    advance(0.5);
    ui::Window& window = *delegate->window();
    processWindowEvents();
    const QScreen* screen = window.screen();
    const qreal dpr = window.devicePixelRatioF();
    const std::string suffix = dpr > 1.01 ? "-dpr" + std::to_string(int(std::lround(dpr))) : "";
    const QRect room = screen->availableGeometry();

    EXPECT_LE(window.height(), int(room.height() * ui::Window::kMostOfScreenHeight) + 1);
    EXPECT_EQ(window.size(), ui::Window::preferredSize(screen));
    EXPECT_NEAR(double(window.width()) / window.height(), 320.0 / 480.0, 0.01);
    shoot(("window-first-size" + suffix).c_str());

    window.resize(480, 720);
    processWindowEvents();
    EXPECT_FLOAT_EQ(ui::Screen::scale(), 1.5f);
    EXPECT_EQ(tabs().view()->geometry(), QRect(0, 0, 480, 720));
    shoot(("window-480x720" + suffix).c_str());

    window.showMaximized();
    processWindowEvents();
    // The screen less the window's frame.
    ASSERT_EQ(window.frameGeometry().size(), room.size());
    const QSize inside = window.size();
    const float scale = std::min(inside.width() / 320.0f, inside.height() / 480.0f);
    EXPECT_FLOAT_EQ(ui::Screen::scale(), scale);
    const QRect layout = tabs().view()->geometry();
    EXPECT_EQ(layout.size(), QSize(int(std::lround(320 * scale)), int(std::lround(480 * scale))));
    EXPECT_NEAR(layout.center().x(), inside.width() / 2, 1);
    EXPECT_NEAR(layout.center().y(), inside.height() / 2, 1);
    // Inner views follow: the play button keeps its place and size in points.
    const QRect button = live->playButton()->geometry();
    EXPECT_EQ(button.size(), QSize(int(std::lround(120 * scale)), int(std::lround(120 * scale))));
    shoot(("window-maximised-" + std::to_string(room.width()) + "x" +
           std::to_string(room.height()) + suffix)
              .c_str());
    // A click lands where the button is drawn.
    const QPoint centre = live->playButton()->mapTo(&window, live->playButton()->rect().center());
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(centre),
                      window.mapToGlobal(QPointF(centre)), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    EXPECT_EQ(window.childAt(centre), live->playButton());

    window.showNormal();
    processWindowEvents();
}

TEST_F(ScreenshotsTest, TheBasicPlayer) {
    server->serve(
        "/stalled.mp3",
        testsupport::Response::bytes(screentest::programmeBytes(320000)).pauseAfter(0, "stalled"));
    serveProgramme("/p.mp3", screentest::programmeBytes(60 * 16000));
    // The screen goes before the window: it stops its streamer, then gives back its view.
    ui::Window window;
    auto screen = std::make_unique<StreamingPlayerViewController>();
    window.addSubview(screen->view());
    window.makeKeyAndVisible();

    screen->downloadSourceField()->setText(server->url("/stalled.mp3"));
    screen->button()->sendAction();
    advance(0.3);  // a little way into the turn
    EXPECT_FALSE(ui_test::saveScreenshot(window, "basicplayer-loading").empty());
    screen->button()->sendAction();
    ASSERT_TRUE(runUntil([&] { return screen->streamer() == nullptr; }));

    screen->downloadSourceField()->setText(server->url("/p.mp3"));
    screen->button()->sendAction();
    ASSERT_TRUE(runUntilAdvancing(
        [&] {
            return screen->streamer() && screen->streamer()->isPlaying() &&
                   screen->streamer()->progress() > 1 && screen->progressSlider()->value() > 1;
        },
        0.1));
    EXPECT_FALSE(ui_test::saveScreenshot(window, "basicplayer-playing").empty());
}

}  // namespace
