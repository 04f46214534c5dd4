// The programme player pushed on the on-demand tab's stack, with its own streamer against
// the loopback station: the minutes display, the 20 s threshold of the slider, seeking by the
// slider, a live stream that cannot be sought, leaving by a tab switch, the marquees, the fade,
// and a new streamer after a failed one.

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

#include "ScreensTestSupport.h"
#include "app/KeyboardShortcuts.h"
#include "app/MainInterface.h"
#include "app/myTabeBare.h"
#include "platform/NotificationCenter.h"
#include "platform/ui/NavigationController.h"
#include "screens/OnDemandPlayer.h"
#include "screens/On_DemandListViewController.h"
#include "screens/ScreenSupport.h"
#include "streaming/AudioStreamer.h"
#include "tests/support/PcmReference.h"

namespace {

using screentest::imageName;

// About 16000 bytes a second at 128 kb/s.
constexpr size_t kBytesPerSecond = 16000;

class PlayerScreenTest : public screentest::ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        server->serve("/dev/feed/", testsupport::Response::bytes(screentest::rssFeed({})));
        MainInterface main = loadMainInterface(addresses());
        tabs = std::move(main.tabBarController);
        destroyScreens = [this] { tabs.reset(); };
        navigation = dynamic_cast<ui::NavigationController*>(tabs->viewControllerAt(1));
        ASSERT_NE(navigation, nullptr);
        // The live tab's view loaded with the interface; its stream starts half a second
        // later on the station, and each programme opened below stops it, as in the app.
        serveLive("/station");
        delegate->setSongURL(server->url("/station"));
        tabs->beginAppearanceTransition(true, false);
        tabs->endAppearanceTransition();
        advance(0.5);
        tabs->setSelectedIndex(1);
    }

    // Opens a player for the programme at `path` as the list does: songURL, "SongChanged",
    // then the push.
    OnDemandPlayer* open(const std::string& path, const std::string& title = "Morning Show",
                         const std::string& artist = "Anna Berg") {
        delegate->setSongURL(server->url(path));
        platform::NotificationCenter::defaultCenter().post("SongChanged", nullptr);
        auto player = std::make_unique<OnDemandPlayer>(addresses());
        player->setSongTitle(title);
        player->setArtist(artist);
        OnDemandPlayer* raw = player.get();
        navigation->pushViewController(std::move(player), false);
        return raw;
    }
    bool waitUntilPlaying(OnDemandPlayer* player) {
        return runUntil([&] { return player->streamer() && player->streamer()->isPlaying(); });
    }
    // Runs the clock on until the progress timer has enabled the slider.
    bool waitUntilSeekable(OnDemandPlayer* player) {
        return runUntilAdvancing([&] { return player->progressSlider()->isEnabled(); });
    }
    std::string label(OnDemandPlayer* player) const {
        const auto& text = player->lbltime()->text();
        return text ? *text : "<none>";
    }
    // The first byte asked for by Range requests for `path`, or -1 when none was made.
    long rangeStart(const std::string& path) const {
        for (const auto& request : server->requests()) {
            const std::string range = request.header("range");
            if (request.path == path && range.rfind("bytes=", 0) == 0) {
                return std::strtol(range.c_str() + 6, nullptr, 10);
            }
        }
        return -1;
    }
    size_t requestsFor(const std::string& path) const {
        size_t count = 0;
        for (const auto& request : server->requests()) count += request.path == path;
        return count;
    }
    std::string describeRequests() const {
        std::string text;
        for (const auto& request : server->requests()) {
            text += request.target + " connection " + std::to_string(request.connection) +
                    " range '" + request.header("range") + "'\n";
        }
        return text;
    }
    void moveSlider(OnDemandPlayer* player, float value) {
        player->progressSlider()->setValue(value);
        player->sliderMoved(*player->progressSlider());
    }

    std::unique_ptr<myTabeBare> tabs;
    ui::NavigationController* navigation = nullptr;
};

// The marquees: the sponsor text on top, "Artist: ...    Title: ..." below, both in the view.
TEST_F(PlayerScreenTest, MarqueesShowTheSponsorAndTheProgramme) {
    serveProgramme("/p.mp3", screentest::programmeBytes(20 * kBytesPerSecond));
    OnDemandPlayer* player = open("/p.mp3", "Night Jazz", "Maja Ek");
    EXPECT_EQ(player->autoScrollLabel1()->text(), std::string(kSponsorText));
    EXPECT_EQ(player->autoScrollLabel2()->text(),
              std::string("Artist: Maja Ek    Title: Night Jazz"));
    EXPECT_EQ(player->autoScrollLabel2()->superview(), player->view());
    EXPECT_EQ(player->autoScrollLabel2()->textColor(), ui::Color::white());
    EXPECT_TRUE(navigation->isNavigationBarHidden());
    ASSERT_NE(player->streamer(), nullptr);
    EXPECT_EQ(player->streamer()->urlString(), server->url("/p.mp3"));
}

// A 90 s programme at 45 s reads "1/2 minutes" (0.75 and 1.5 minutes rounded), and the
// progress timer puts the slider at the middle.
TEST_F(PlayerScreenTest, TimePlayedInWholeMinutes) {
    serveProgramme("/p90.mp3", screentest::programmeBytes(90 * kBytesPerSecond));
    OnDemandPlayer* player = open("/p90.mp3");
    EXPECT_EQ(label(player), "Time Played:");
    ASSERT_TRUE(waitUntilSeekable(player));
    const double duration = player->streamer()->duration();
    ASSERT_NEAR(duration, 90, 2);

    moveSlider(player, 50);
    EXPECT_EQ(label(player), "Time Played: 1/2 minutes");
    ASSERT_TRUE(runUntil(
        [&] { return player->streamer()->isPlaying() && player->streamer()->progress() >= 45; }));
    player->progressSlider()->setValue(0);
    player->lbltime()->setText("");
    advance(OnDemandPlayer::kProgressInterval);
    EXPECT_EQ(label(player), "Time Played: 1/2 minutes");
    EXPECT_NEAR(player->progressSlider()->value(), 50, 4);
}

// The progress timer of a programme ticks every one and a half seconds: caught just after a
// tick, the label stays as it is until just short of the next one, and is written at it.
TEST_F(PlayerScreenTest, ProgressTicksEveryOneAndAHalfSeconds) {
    serveProgramme("/p90.mp3", screentest::programmeBytes(90 * kBytesPerSecond));
    OnDemandPlayer* player = open("/p90.mp3");
    ASSERT_TRUE(waitUntilSeekable(player));
    player->lbltime()->setText("stale");
    ASSERT_TRUE(runUntilAdvancing([&] { return label(player) != "stale"; }, 0.005));
    player->lbltime()->setText("stale");
    advance(1.48);
    EXPECT_EQ(label(player), "stale");
    advance(0.03);
    EXPECT_NE(label(player), "stale");
}

// The slider is for programmes longer than 20 s: exactly 20 s keeps it disabled and the label
// as it was, and a short programme that plays never enables it.
TEST_F(PlayerScreenTest, SliderOnlyForProgrammesLongerThanTwentySeconds) {
    serveProgramme("/p15.mp3", screentest::programmeBytes(15 * kBytesPerSecond));
    OnDemandPlayer* player = open("/p15.mp3");
    ASSERT_TRUE(waitUntilPlaying(player));
    advance(2 * OnDemandPlayer::kProgressInterval);
    EXPECT_GT(player->streamer()->bitRate(), 0u);
    EXPECT_FALSE(player->progressSlider()->isEnabled());
    EXPECT_EQ(label(player), "Time Played:");

    player->showProgress(10, 20.0);
    EXPECT_FALSE(player->progressSlider()->isEnabled());
    EXPECT_EQ(label(player), "Time Played:");
    player->showProgress(10, 20.001);
    EXPECT_TRUE(player->progressSlider()->isEnabled());
    EXPECT_EQ(label(player), "Time Played: 0/0 minutes");
}

// Moving the slider to 50 on a 600 s programme shows "5/10 minutes" at once and seeks to
// 300 s: the download reopens at the middle of the file and playback goes on from there.
TEST_F(PlayerScreenTest, SliderMoveSeeksIntoTheProgramme) {
    const std::string whole = screentest::readFile(screentest::fixturePath("long-10min-128k.mp3"));
    serveProgramme("/p600.mp3", whole);
    OnDemandPlayer* player = open("/p600.mp3");
    ASSERT_TRUE(waitUntilSeekable(player));
    const double duration = player->streamer()->duration();
    ASSERT_NEAR(duration, 600, 5);

    moveSlider(player, 50);
    EXPECT_EQ(label(player), "Time Played: 5/10 minutes");
    EXPECT_NEAR(player->newSeekTime(), 300, 5);
    ASSERT_TRUE(runUntil([&] { return rangeStart("/p600.mp3") > 0; }));
    EXPECT_NEAR(static_cast<double>(rangeStart("/p600.mp3")), whole.size() / 2.0,
                whole.size() * 0.01);
    ASSERT_TRUE(runUntil(
        [&] { return player->streamer()->isPlaying() && player->streamer()->progress() >= 300; }));
    EXPECT_LT(player->streamer()->progress(), 305);
}

// A stream of unknown length (duration 0) cannot be sought: the label shows 0/0 and nothing
// is requested again; the progress timer keeps the slider disabled.
TEST_F(PlayerScreenTest, NoSeekWithoutADuration) {
    serveLive("/live");
    OnDemandPlayer* player = open("/live");
    ASSERT_TRUE(waitUntilPlaying(player));
    ASSERT_TRUE(runUntilAdvancing([&] { return player->streamer()->bitRate() > 0; }));
    advance(OnDemandPlayer::kProgressInterval);
    EXPECT_FALSE(player->progressSlider()->isEnabled());

    moveSlider(player, 50);
    EXPECT_EQ(label(player), "Time Played: 0/0 minutes");
    EXPECT_EQ(player->newSeekTime(), 0);
    advance(OnDemandPlayer::kProgressInterval);
    EXPECT_EQ(requestsFor("/live"), 1u) << describeRequests();
    EXPECT_TRUE(player->streamer()->isPlaying());
}

// Switching to the live tab while the player shows stops its audio at once and takes it off
// the stack, so the on-demand tab shows the list again, with its bar.
TEST_F(PlayerScreenTest, TabSwitchStopsTheAudioAndReturnsToTheList) {
    serveProgramme("/p.mp3", screentest::programmeBytes(60 * kBytesPerSecond));
    OnDemandPlayer* player = open("/p.mp3");
    ASSERT_TRUE(waitUntilPlaying(player));

    tabs->setSelectedIndex(0);
    EXPECT_EQ(player->streamer(), nullptr);
    EXPECT_EQ(navigation->depth(), 1u);
    EXPECT_NE(dynamic_cast<On_DemandListViewController*>(navigation->topViewController()), nullptr);
    EXPECT_TRUE(server->waitForConnectionsClosed());
    queue().drain();  // the popped player is released here

    tabs->setSelectedIndex(1);
    EXPECT_FALSE(navigation->isNavigationBarHidden());
    EXPECT_TRUE(navigation->topViewController()->isAppearing());
}

// The player's controls fade as the live screen's do, and "ShowControls" brings them back.
TEST_F(PlayerScreenTest, ControlsFadeAndComeBack) {
    serveProgramme("/p.mp3", screentest::programmeBytes(20 * kBytesPerSecond));
    OnDemandPlayer* player = open("/p.mp3");
    advance(7.95);
    EXPECT_FALSE(player->playButton()->isHidden());
    advance(0.1);
    EXPECT_TRUE(player->playButton()->isHidden());
    EXPECT_TRUE(player->valView()->isHidden());
    platform::NotificationCenter::defaultCenter().post("ShowControls", nullptr);
    EXPECT_FALSE(player->playButton()->isHidden());
    EXPECT_FLOAT_EQ(player->valView()->alpha(), 1.0f);
}

// A programme that failed to load leaves a streamer that can never play again; pressing play
// replaces it with a new one on the same URL, which plays and is polled for its progress.
TEST_F(PlayerScreenTest, PlayAfterAFailureStartsANewStreamer) {
    int answered = 0;
    const std::string bytes = screentest::programmeBytes(60 * kBytesPerSecond);
    server->serve("/p.mp3", [&answered, bytes](const testsupport::RecordedRequest&) {
        if (answered++ == 0) return testsupport::Response::notFound();
        return testsupport::Response::bytes(bytes);
    });
    OnDemandPlayer* player = open("/p.mp3");
    ASSERT_TRUE(runUntil([&] { return player->streamer()->isIdle(); }));
    ASSERT_NE(player->streamer()->errorCode(), AS_NO_ERROR);
    queue().drain();
    EXPECT_EQ(imageName(player->playButton()), screens::kPlayButtonImage);
    // Nothing had played, so nothing is resumed: the failure's alert, once.
    EXPECT_FALSE(player->isResuming());
    EXPECT_EQ(alerts->count(), 1u);

    player->playButton()->sendAction();
    EXPECT_EQ(imageName(player->playButton()), screens::kPauseButtonImage);
    EXPECT_EQ(player->streamer()->errorCode(), AS_NO_ERROR);
    EXPECT_EQ(player->streamer()->urlString(), server->url("/p.mp3"));
    ASSERT_TRUE(waitUntilPlaying(player));
    EXPECT_TRUE(waitUntilSeekable(player));
}

// The keys of a desktop player, sent as real key events through Qt: Ctrl+1 and Ctrl+2 choose
// the tabs, Space stops and plays the shown programme with its button, Right seeks 10 s on
// with the slider's own operation, Escape goes back to the list, Ctrl+Q quits, and every key
// brings the faded controls back.
TEST_F(PlayerScreenTest, KeyboardDrivesTheScreens) {
    int quits = 0;
    KeyboardShortcuts keys(*tabs->view(), *tabs, [&] { ++quits; });
    int showControls = 0;
    const auto token = platform::NotificationCenter::defaultCenter().addObserver(
        "ShowControls", nullptr, [&](const platform::Notification&) { ++showControls; });
    auto press = [&](int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QWidget* target = QApplication::focusWidget();
        if (!target || !tabs->view()->isAncestorOf(target)) target = tabs->view();
        QKeyEvent down(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(target, &down);
        QKeyEvent up(QEvent::KeyRelease, key, modifiers);
        QApplication::sendEvent(target, &up);
        runUntil([] { return true; });  // what the key posted
    };

    press(Qt::Key_1, Qt::ControlModifier);
    EXPECT_EQ(tabs->selectedIndex(), 0u);
    press(Qt::Key_2, Qt::ControlModifier);
    EXPECT_EQ(tabs->selectedIndex(), 1u);
    EXPECT_EQ(showControls, 2);

    // A click on the tab bar chooses the tab and brings the controls back too.
    ui::TabBar& bar = tabs->tabBar();
    const ui::Rect item = bar.itemFrame(0);
    const double pixelsPerPoint = bar.width() / double(bar.frame().width());
    const QPoint onFirstItem(int((item.x() + item.width() / 2) * pixelsPerPoint),
                             int((item.y() + item.height() / 2) * pixelsPerPoint));
    QMouseEvent click(QEvent::MouseButtonPress, QPointF(onFirstItem),
                      bar.mapToGlobal(QPointF(onFirstItem)), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QApplication::sendEvent(&bar, &click);
    EXPECT_EQ(tabs->selectedIndex(), 0u);
    EXPECT_EQ(showControls, 3);
    press(Qt::Key_2, Qt::ControlModifier);

    serveProgramme("/p90.mp3", screentest::programmeBytes(90 * kBytesPerSecond));
    OnDemandPlayer* player = open("/p90.mp3");
    ASSERT_TRUE(waitUntilSeekable(player));
    press(Qt::Key_Right);
    const long expected =
        long(std::min(90.0, player->streamer()->progress() + 10) * kBytesPerSecond);
    ASSERT_TRUE(runUntil([&] { return rangeStart("/p90.mp3") >= 0; })) << describeRequests();
    EXPECT_NEAR(double(rangeStart("/p90.mp3")), double(expected), 2.0 * kBytesPerSecond);

    // Space then does what a click does; while the seek reloads, the button shows play.
    ASSERT_TRUE(runUntil([&] {
        return player->streamer() && player->streamer()->isPlaying() &&
               player->playButton()->currentImageIs(screens::kPauseButtonImage);
    }));
    press(Qt::Key_Space);
    ASSERT_TRUE(runUntil([&] { return !player->streamer() || player->streamer()->isIdle(); }));
    const size_t requestsWhenStopped = requestsFor("/p90.mp3");
    press(Qt::Key_Space);
    ASSERT_TRUE(waitUntilPlaying(player));
    EXPECT_GT(requestsFor("/p90.mp3"), requestsWhenStopped);

    press(Qt::Key_Escape);
    ASSERT_TRUE(runUntil([&] { return navigation->topViewController() != player; }));
    EXPECT_EQ(navigation->viewControllers().size(), 1u);

    press(Qt::Key_Q, Qt::ControlModifier);
    EXPECT_EQ(quits, 1);
    platform::NotificationCenter::defaultCenter().removeObserver(token);
}

}  // namespace

namespace {

// A programme whose download the server resets half-way, then answers as told.
class ProgrammeResumeTest : public PlayerScreenTest {
protected:
    void SetUp() override {
        PlayerScreenTest::SetUp();
        fixture = screentest::fixturePath("cbr128.mp3");
        whole = screentest::readFile(fixture);
    }
    // The first request is reset after half the file; later ones get `later`.
    void serveResetHalfWay(std::function<testsupport::Response()> later) {
        auto answered = std::make_shared<std::atomic<int>>(0);
        const std::string bytes = whole;
        server->serve("/p.mp3", [answered, bytes, later](const testsupport::RecordedRequest&) {
            if ((*answered)++ == 0)
                return testsupport::Response::bytes(bytes).resetAfter(bytes.size() / 2);
            return later();
        });
    }
    std::string status(OnDemandPlayer* player) const {
        return player->statusLabel()->text().value_or("");
    }

    std::string fixture;
    std::string whole;
};

// Reset half-way, the programme resumes a second later where the listener was: one request
// for the header, then a ranged one from that position; the time shown holds meanwhile, no
// alert comes, and what plays after continues the audio from where it broke off.
TEST_F(ProgrammeResumeTest, AResetHalfWayResumesWhereItWas) {
    const std::string bytes = whole;
    serveResetHalfWay([bytes] { return testsupport::Response::bytes(bytes); });
    useCapture(8);
    OnDemandPlayer* player = open("/p.mp3");
    ASSERT_TRUE(runUntil([&] { return player->isResuming(); }));
    const double position = player->streamer()->progress();
    const double duration = player->streamer()->duration();
    const double bitRate = player->streamer()->calculatedBitRate();
    std::printf("lost at %.3f s of %.3f s\n", position, duration);
    EXPECT_GT(position, 2.0);
    EXPECT_LT(position, duration * 0.55);
    EXPECT_EQ(status(player), "Reconnecting in 1 s\u2026");
    EXPECT_EQ(requestsFor("/p.mp3"), 1u);
    EXPECT_EQ(alerts->count(), 0u);

    advance(1.0);
    ASSERT_TRUE(runUntil([&] { return requestsFor("/p.mp3") >= 3; })) << describeRequests();
    ASSERT_TRUE(runUntil([&] { return player->streamer()->isIdle(); }));
    EXPECT_EQ(player->streamer()->errorCode(), AS_NO_ERROR);
    EXPECT_EQ(requestsFor("/p.mp3"), 3u) << describeRequests();
    EXPECT_FALSE(player->isResuming());
    EXPECT_EQ(alerts->count(), 0u);
    // The ranged request starts at the position, by the bit rate of the run that was lost.
    const double expectedStart = double(whole.size()) * position / duration;
    EXPECT_NEAR(double(rangeStart("/p.mp3")), expectedStart, bitRate / 8 * 0.2)
        << describeRequests();
    EXPECT_GE(player->streamer()->progress(), position - 0.2);

    // The first sink played from the start up to the position; the second takes over there.
    const auto sinks = captureSinks();
    ASSERT_GE(sinks.size(), 2u);
    const auto pcmOf = [](const audio::CaptureAudioSink& sink) {
        testsupport::Pcm pcm;
        pcm.samples = sink.samples();
        pcm.channels = sink.format().channels;
        pcm.sampleRate = sink.format().sampleRate;
        return pcm;
    };
    const testsupport::Pcm before = pcmOf(*sinks.front());
    const testsupport::Pcm after = pcmOf(*sinks.back());
    const testsupport::Pcm reference =
        testsupport::referenceDecode(fixture, before.sampleRate, before.channels);
    const long rate = before.sampleRate;
    const auto dBefore =
        testsupport::findOffset(before, reference, size_t(rate), 4096, -rate, rate);
    const auto dAfter =
        testsupport::findOffset(after, reference, size_t(rate), 4096, 0, long(reference.frames()));
    ASSERT_TRUE(dBefore && dAfter);
    // What the first sink played: what it consumed, less what the stop threw away.
    const long played = long(sinks.front()->consumedCount() - sinks.front()->discardedCount());
    const double brokeOff = double(played + *dBefore) / rate;
    const double tookOver = double(*dAfter) / rate;
    std::printf("broke off at %.3f s, went on at %.3f s\n", brokeOff, tookOver);
    EXPECT_NEAR(brokeOff, position, 0.05);
    EXPECT_NEAR(tookOver, brokeOff, position * 0.0025 + 4 * 1152.0 / 44100);
}

// The play image during the wait resumes at once; when every attempt fails the screen gives
// up after the fifth, with one alert and the error in its status line; stop ends the waiting.
TEST_F(ProgrammeResumeTest, PlayTriesAtOnceAndTheFifthFailureAlerts) {
    serveResetHalfWay([] { return testsupport::Response::notFound(); });
    useCapture(0);
    OnDemandPlayer* player = open("/p.mp3");
    ASSERT_TRUE(runUntil([&] { return player->isResuming(); }));

    player->playButton()->sendAction();
    ASSERT_TRUE(runUntil([&] { return requestsFor("/p.mp3") == 2; }));
    ASSERT_TRUE(runUntil([&] { return player->resumeSchedule().isWaiting(); }))
        << status(player) << " state " << player->streamer()->state() << " resuming "
        << player->isResuming() << " alerts " << alerts->count();
    EXPECT_NEAR(player->resumeSchedule().secondsLeft(), 2.0, 1e-6);
    for (double delay : {2.0, 4.0, 8.0, 16.0}) {
        SCOPED_TRACE("delay " + std::to_string(delay));
        ASSERT_TRUE(player->resumeSchedule().isWaiting());
        EXPECT_EQ(alerts->count(), 0u);
        const size_t before = requestsFor("/p.mp3");
        advance(delay);
        ASSERT_TRUE(runUntil([&] { return requestsFor("/p.mp3") == before + 1; }));
        ASSERT_TRUE(runUntil(
            [&] { return player->resumeSchedule().isWaiting() || !player->isResuming(); }));
    }
    EXPECT_FALSE(player->isResuming());
    EXPECT_EQ(alerts->count(), 1u);
    EXPECT_EQ(status(player), AudioStreamer::stringForErrorCode(player->streamer()->errorCode()));
    advance(60);
    queue().drain();
    EXPECT_EQ(requestsFor("/p.mp3"), 6u);

    // Played again, lost again: stop during the wait ends it.
    const std::string bytes = whole;
    serveResetHalfWay([bytes] { return testsupport::Response::bytes(bytes); });
    player->playButton()->sendAction();
    ASSERT_TRUE(runUntil([&] { return player->isResuming(); }));
    player->stopListening();
    EXPECT_FALSE(player->isResuming());
    const size_t stoppedAt = requestsFor("/p.mp3");
    advance(60);
    queue().drain();
    EXPECT_EQ(requestsFor("/p.mp3"), stoppedAt);
    EXPECT_EQ(alerts->count(), 1u);
}

}  // namespace
