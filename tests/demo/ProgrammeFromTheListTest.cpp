// The whole application's screens against the demo station, on virtual time: the live stream
// plays from launch, the On Demand tab lists the station's programmes, choosing one stops the
// live stream and plays the programme, and moving the slider seeks through the station's
// Range support, with the progress going on from the target.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "DemoTestSupport.h"
#include "UiTestSupport.h"
#include "app/MainInterface.h"
#include "app/OstraRadioAppDelegate.h"
#include "app/myTabeBare.h"
#include "feeds/CatalogueRefresh.h"
#include "platform/AlertPresenter.h"
#include "platform/Files.h"
#include "platform/audio/sink/CaptureAudioSink.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Slider.h"
#include "platform/ui/TableView.h"
#include "screens/AudioPlayerViewController.h"
#include "screens/OnDemandPlayer.h"
#include "screens/On_DemandListViewController.h"
#include "streaming/AudioStreamer.h"

using namespace demotest;

namespace {

class ProgrammeFromTheListTest : public ui_test::VirtualTimeTest {
protected:
    void SetUp() override {
        VirtualTimeTest::SetUp();
        ASSERT_TRUE(station.waitReady()) << station.log();
        alerts = std::make_shared<platform::RecordingAlertPresenter>();
        platform::AlertPresenter::setCurrent(alerts);
        // A device-like sink: real time, no samples kept.
        audio::CaptureOptions options;
        options.speed = 1.0;
        options.keepSamples = false;
        captureFactory = std::make_unique<audio::CaptureAudioSinkFactory>(options);
        scopedFactory = std::make_unique<audio::ScopedAudioSinkFactory>(captureFactory->factory());
        // A fresh install: no feed cached yet.
        platform::setDocumentsDirectoryOverride(documents.path());
        CatalogueRefresh::resetContinueNetForTesting();
        delegate = std::make_unique<OstraRadioAppDelegate>();
    }

    void TearDown() override {
        delegate.reset();
        EXPECT_TRUE(AudioStreamer::waitForStreamingThreads(10)) << "a streaming thread is left";
        EXPECT_TRUE(CatalogueRefresh::shared().shutdown());
        queue().drain();
        scopedFactory.reset();
        captureFactory.reset();
        platform::AlertPresenter::setCurrent(nullptr);
        platform::setDocumentsDirectoryOverride(std::nullopt);
        VirtualTimeTest::TearDown();
    }

    // The application as main() launches it, with the station's addresses.
    void launch() {
        MainInterface main =
            loadMainInterface({station.webURL("/adXML.plist"), station.webURL("/dev/feed/"),
                               station.webURL("/podcast/"), delegate->currentSong()});
        delegate->setWindow(std::move(main.window));
        delegate->setTabBarController(std::move(main.tabBarController));
        delegate->applicationDidFinishLaunching();
        // Read by the live screen half a second on.
        delegate->setSongURL(station.liveURL());
    }

    bool runUntilAdvancing(const std::function<bool()>& done, double seconds = 30) {
        return queue().runUntilAdvancing(
            done, 0.05, std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
    }

    bool stationLogHas(const std::string& text) const {
        return station.log().find(text) != std::string::npos;
    }

    StationChild station;
    TemporaryFolder documents;
    std::shared_ptr<platform::RecordingAlertPresenter> alerts;
    std::unique_ptr<audio::CaptureAudioSinkFactory> captureFactory;
    std::unique_ptr<audio::ScopedAudioSinkFactory> scopedFactory;
    std::unique_ptr<OstraRadioAppDelegate> delegate;
};

}  // namespace

TEST_F(ProgrammeFromTheListTest, ChosenProgrammePlaysAndSeeksThroughRange) {
    launch();
    myTabeBare* tabs = delegate->tabBarController();
    auto* live = dynamic_cast<AudioPlayerViewController*>(tabs->viewControllerAt(0));
    auto* navigation = dynamic_cast<ui::NavigationController*>(tabs->viewControllerAt(1));
    ASSERT_NE(live, nullptr);
    ASSERT_NE(navigation, nullptr);
    auto* list = dynamic_cast<On_DemandListViewController*>(navigation->topViewController());
    ASSERT_NE(list, nullptr);

    // The live stream plays from launch, with the station's sponsor text.
    ASSERT_TRUE(
        runUntilAdvancing([&] { return live->streamer() && live->streamer()->isPlaying(); }));
    ASSERT_TRUE(live->autoScrollLabel1()->text().has_value());
    EXPECT_NE(*live->autoScrollLabel1()->text(), "Network error");

    // The list loads the station's six programmes as its tab appears.
    tabs->setSelectedIndex(1);
    ASSERT_TRUE(runUntilAdvancing([&] { return list->urls().size() == 6; }));
    int row = -1;
    for (size_t i = 0; i < list->urls().size(); ++i) {
        if (list->urls()[i].ends_with("/programmes/slow-lights.mp3")) row = static_cast<int>(i);
    }
    ASSERT_GE(row, 0);
    EXPECT_EQ(list->titleForRow(row), "Slow Lights");

    // Choosing it stops the live stream and plays the programme in a pushed player.
    list->tableView()->selectRow({0, row});
    ASSERT_NE(live->streamer(), nullptr);
    EXPECT_FALSE(live->streamer()->isPlaying() || live->streamer()->isWaiting());
    ASSERT_TRUE(runUntilAdvancing([&] { return !navigation->isTransitioning(); }));
    auto* player = dynamic_cast<OnDemandPlayer*>(navigation->topViewController());
    ASSERT_NE(player, nullptr);
    ASSERT_TRUE(runUntilAdvancing([&] {
        return player->streamer() && player->streamer()->isPlaying() &&
               player->progressSlider()->isEnabled();
    }));
    EXPECT_NEAR(player->streamer()->duration(), 600, 10);
    EXPECT_FALSE(stationLogHas("206 \"GET /programmes/slow-lights.mp3")) << station.log();

    // Halfway along the slider: the download reopens with a Range at the station, and the
    // time played goes on from five minutes.
    player->progressSlider()->setValue(50);
    player->sliderMoved(*player->progressSlider());
    ASSERT_TRUE(runUntilAdvancing([&] {
        return stationLogHas("206 \"GET /programmes/slow-lights.mp3");
    })) << station.log();
    ASSERT_TRUE(runUntilAdvancing(
        [&] { return player->streamer()->isPlaying() && player->streamer()->progress() >= 295; }));
    const double resumedAt = player->streamer()->progress();
    EXPECT_LT(resumedAt, 305);
    ASSERT_TRUE(runUntilAdvancing([&] { return player->streamer()->progress() >= resumedAt + 1; }));
    ASSERT_TRUE(runUntilAdvancing([&] {
        const auto& text = player->lbltime()->text();
        return text && *text == "Time Played: 5/10 minutes";
    }));
    EXPECT_EQ(alerts->count(), 0u);
}
