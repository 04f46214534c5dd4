// The application shell: launch, the splash fade on virtual time and on Qt's real loop,
// "ShowControls" on touches, and the compiled-in endpoints.

#include <gtest/gtest.h>

#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>

#include "ScreenshotTool.h"
#include "UiTestSupport.h"
#include "app/Application.h"
#include "app/Endpoints.h"
#include "app/OstraRadioAppDelegate.h"
#include "app/myTabeBare.h"
#include "platform/NotificationCenter.h"
#include "platform/audio/queue/AudioQueue.h"
#include "platform/ui/TabBarController.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace {

// A plain page: the shell's behaviour does not depend on what its tabs show, and plain pages
// keep these tests off the network.
class PlainTab : public ui::ViewController {
public:
    explicit PlainTab(std::string title) {
        setTitle(title);
        tabBarItem() = {std::move(title), ""};
    }
};

// The delegate with a window and a two-tab myTabeBare, on virtual time.
class AppShellTest : public ui_test::VirtualTimeTest {
protected:
    void launch() {
        delegate_ = std::make_unique<OstraRadioAppDelegate>();
        auto tabs = std::make_unique<myTabeBare>();
        std::vector<std::unique_ptr<ui::ViewController>> pages;
        pages.push_back(std::make_unique<PlainTab>("Live Radio"));
        pages.push_back(std::make_unique<PlainTab>("On Demand"));
        tabs->setViewControllers(std::move(pages));
        delegate_->setWindow(std::make_unique<ui::Window>());
        delegate_->setTabBarController(std::move(tabs));
        delegate_->applicationDidFinishLaunching();
        delegate_->window()->makeKeyAndVisible();
    }
    void TearDown() override {
        delegate_.reset();
        VirtualTimeTest::TearDown();
    }
    ui::View* tabBarView() { return delegate_->tabBarController()->view(); }
    // Fade ticks until the splash has left the window, at most `limit`.
    int ticksUntilSplashRemoved(int limit) {
        int ticks = 0;
        while (v && v->superview() && ticks < limit) {
            advance(OstraRadioAppDelegate::kFadeInterval);
            ++ticks;
        }
        return ticks;
    }

    std::unique_ptr<OstraRadioAppDelegate> delegate_;
};

// Launch puts songURL on the live stream, the tab bar in the window and the splash above it,
// opaque, with the fade running; the delegate is the one screens reach.
TEST_F(AppShellTest, LaunchShowsTheSplashOverTheTabBar) {
    launch();
    EXPECT_EQ(OstraRadioAppDelegate::sharedDelegate(), delegate_.get());
    EXPECT_EQ(delegate_->songURL(), endpoints::kLiveStreamURL);
    const std::vector<ui::View*> layers = delegate_->window()->subviews();
    ASSERT_EQ(layers.size(), 2u);
    EXPECT_EQ(layers[0], tabBarView());
    EXPECT_EQ(layers[1], v.data());
    EXPECT_EQ(v->frame(), ui::Rect(0, 0, 320, 480));
    EXPECT_FLOAT_EQ(v->alpha(), 1.0f);
    EXPECT_TRUE(delegate_->isFading());
    EXPECT_TRUE(delegate_->tabBarController()->selectedViewController()->isAppearing());
}

// From full opacity the fade takes about 125 ticks of 0.01 s; then the splash is out of the
// window, the timer is invalidated, and `v` still names the removed view.
TEST_F(AppShellTest, SplashFadesInAbout125Ticks) {
    launch();
    advance(0.6);
    EXPECT_NEAR(v->alpha(), 1.0f - 60 * 0.008f, 0.01f);
    const int ticks = 60 + ticksUntilSplashRemoved(1000);
    EXPECT_GE(ticks, 124);
    EXPECT_LE(ticks, 126);
    ASSERT_TRUE(v);
    EXPECT_EQ(v->superview(), nullptr);
    EXPECT_LE(v->alpha(), 0.0f);
    EXPECT_FALSE(delegate_->isFading());
    EXPECT_EQ(delegate_->window()->subviews(), (std::vector<ui::View*>{tabBarView()}));
}

// The fade ticks every hundredth of a second, not sooner: just short of the first tick the
// splash is still opaque, at it the first step is taken.
TEST_F(AppShellTest, SplashTicksEveryHundredthOfASecond) {
    launch();
    advance(0.0099);
    EXPECT_FLOAT_EQ(v->alpha(), 1.0f);
    advance(0.0001);
    EXPECT_NEAR(v->alpha(), 1.0f - 0.008f, 0.0001f);
    advance(0.0099);
    EXPECT_NEAR(v->alpha(), 1.0f - 0.008f, 0.0001f);
    advance(0.0001);
    EXPECT_NEAR(v->alpha(), 1.0f - 2 * 0.008f, 0.0001f);
}

// A splash that is already transparent when the fade starts is taken away on the first tick
// and its timer stops, rather than waking a hundred times a second for ever.
TEST_F(AppShellTest, TransparentSplashIsRemovedAndItsTimerStopped) {
    launch();
    v->setAlpha(0.0f);
    advance(OstraRadioAppDelegate::kFadeInterval);
    EXPECT_EQ(v->superview(), nullptr);
    EXPECT_FALSE(delegate_->isFading());
    advance(10);
    EXPECT_TRUE(queue().pendingCount() == 0);
}

// Each touch that reaches the tab bar controller posts "ShowControls" once, with no object;
// a tap on a tab item switches tabs and posts nothing.
TEST_F(AppShellTest, ShowControlsOncePerTouch) {
    launch();
    ticksUntilSplashRemoved(1000);
    int posts = 0;
    const void* object = &posts;
    auto& centre = platform::NotificationCenter::defaultCenter();
    const auto token =
        centre.addObserver("ShowControls", nullptr, [&](const platform::Notification& n) {
            ++posts;
            object = n.object;
        });
    ui::Window& window = *delegate_->window();
    ui_test::tap(window, {160, 200});
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(object, nullptr);
    ui_test::press(window, {40, 40});
    EXPECT_EQ(posts, 2);
    ui_test::tap(window, {240, 455});
    EXPECT_EQ(posts, 2);
    EXPECT_EQ(delegate_->tabBarController()->selectedIndex(), 1u);
    ui_test::tap(window, {160, 300});
    EXPECT_EQ(posts, 3);
    centre.removeObserver(token);
}

// The live stream address is plain HTTP on port 8170 with the path "/"; the others are web
// addresses with their fixed paths.
TEST(Endpoints, CompiledInAddressesHaveTheirFixedParts) {
    const std::string live = endpoints::kLiveStreamURL;
    EXPECT_EQ(live.rfind("http://", 0), 0u);
    EXPECT_NE(live.find(":8170/"), std::string::npos);
    EXPECT_EQ(live.back(), '/');
    EXPECT_NE(std::string(endpoints::kFeedURL).find("/dev/feed/"), std::string::npos);
    EXPECT_NE(std::string(endpoints::kAdURL).find("/adXML.plist"), std::string::npos);
    EXPECT_EQ(std::string(endpoints::kPodcastURL).rfind("http", 0), 0u);
}

// Runs Qt's event loop until `done` holds or 10 s pass.
bool runQtUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > 10000) return false;
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 10);
    }
    return true;
}

// The application itself, with its main interface, on Qt's offscreen platform and its real
// event loop: the window shows the tab bar under the splash, and the tab bar alone once the
// fade is over. Screenshots of both moments go to the screenshots folder.
TEST(Application, StartsAndFadesTheSplashOnTheQtLoop) {
    ui_test::ensureQtApplication();
    int argc = 1;
    char name[] = "OstraRadio";
    char* argv[] = {name, nullptr};
    Application app(argc, argv);
    QElapsedTimer sinceLaunch;
    sinceLaunch.start();
    app.launch();
    OstraRadioAppDelegate& delegate = app.delegate();
    ui::Window& window = *delegate.window();
    ui::View* tabs = delegate.tabBarController()->view();
    ASSERT_TRUE(window.isVisible());
    EXPECT_TRUE(tabs->isVisible());
    ASSERT_TRUE(v);
    EXPECT_TRUE(v->isVisible());

    ASSERT_TRUE(runQtUntil([] { return v && v->alpha() < 0.55f; }));
    EXPECT_EQ(window.subviews().back(), v.data());
    EXPECT_FALSE(ui_test::saveScreenshot(window, "shell-during-splash").empty());

    ASSERT_TRUE(runQtUntil([&] { return !delegate.isFading(); }));
    // For the record only: the real-time length of the fade on this machine.
    std::printf("splash fade on the Qt loop: %.2f s\n",
                static_cast<double>(sinceLaunch.elapsed()) / 1000.0);
    EXPECT_EQ(v->superview(), nullptr);
    EXPECT_EQ(window.subviews(), (std::vector<ui::View*>{tabs}));
    EXPECT_TRUE(tabs->isVisible());
    EXPECT_TRUE(delegate.tabBarController()->tabBar().isVisible());
    EXPECT_FALSE(ui_test::saveScreenshot(window, "shell-after-splash").empty());
}

// The app remembers its volume and where its window was in the XDG config folder: a second
// run starts with both. (The settings folder is a temporary one here.)
TEST(Application, RemembersTheVolumeAndTheWindowBetweenRuns) {
    ui_test::ensureQtApplication();
    const std::filesystem::path config =
        std::filesystem::temp_directory_path() / ("ostra-settings-" + std::to_string(::getpid()));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope,
                       QString::fromStdString(config.string()));
    int argc = 1;
    char name[] = "OstraRadio";
    char* argv[] = {name, nullptr};
    {
        Application app(argc, argv, true);
        app.launch();
        audio::AudioQueueSetOutputVolume(0.25f);  // as the volume control does
        app.delegate().window()->move(40, 50);
    }
    EXPECT_TRUE(std::filesystem::exists(config / "ostra-radio" / "OstraRadio.conf"));
    audio::AudioQueueSetOutputVolume(1.0f);
    {
        Application app(argc, argv, true);
        EXPECT_FLOAT_EQ(audio::AudioQueueGetOutputVolume(), 0.25f);
        app.launch();
        EXPECT_EQ(app.delegate().window()->pos(), QPoint(40, 50));
    }
    // Without asking, a run leaves the settings as they are.
    audio::AudioQueueSetOutputVolume(0.75f);
    { Application app(argc, argv); }
    audio::AudioQueueSetOutputVolume(1.0f);
    {
        Application app(argc, argv, true);
        EXPECT_FLOAT_EQ(audio::AudioQueueGetOutputVolume(), 0.25f);
    }
    audio::AudioQueueSetOutputVolume(1.0f);
    std::filesystem::remove_all(config);
}

}  // namespace
