// The live radio screen against a loopback station: the delayed start, the button image through
// a whole play and stop, "SongChanged" from the list tab, the controls' fade on virtual time,
// a second stratStream, and a new streamer after a failed one.

#include <gtest/gtest.h>

#include <memory>
#include <utility>
#include <vector>

#include "ScreensTestSupport.h"
#include "app/MainInterface.h"
#include "app/myTabeBare.h"
#include "platform/NotificationCenter.h"
#include "platform/ui/TabBarController.h"
#include "screens/AudioPlayerViewController.h"
#include "screens/ScreenSupport.h"
#include "streaming/AudioStreamer.h"

namespace {

using screentest::imageName;

class LiveScreenTest : public screentest::ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        serveLive("/live");
        delegate->setSongURL(server->url("/live"));
        screen = std::make_unique<AudioPlayerViewController>(addresses());
        destroyScreens = [this] {
            screen.reset();
            tabs.reset();
        };
    }

    // Loads the view and shows it, as the tab bar does at launch.
    void show() {
        screen->beginAppearanceTransition(true, false);
        screen->endAppearanceTransition();
    }
    bool waitUntilPlaying() {
        return runUntil([&] { return screen->streamer() && screen->streamer()->isPlaying(); });
    }
    bool waitUntilIdle() {
        return runUntil([&] { return screen->streamer() && screen->streamer()->isIdle(); });
    }
    size_t requestsFor(const std::string& path) const {
        size_t count = 0;
        for (const auto& request : server->requests()) count += request.path == path;
        return count;
    }
    float alpha() const { return screen->playButton()->alpha(); }
    bool controlsHidden() const {
        return screen->playButton()->isHidden() && screen->valView()->isHidden();
    }

    std::unique_ptr<AudioPlayerViewController> screen;
    std::unique_ptr<myTabeBare> tabs;  // for the tests that need the whole interface
};

// Nothing streams until half a second after the view loads; then the marquee has the sponsor
// text, the volume control is on top, and the stream plays with the pause image.
TEST_F(LiveScreenTest, StartsByItselfHalfASecondAfterLoad) {
    show();
    advance(0.49);
    EXPECT_EQ(screen->streamer(), nullptr);
    EXPECT_EQ(requestsFor("/live"), 0u);

    advance(0.01);
    ASSERT_NE(screen->streamer(), nullptr);
    EXPECT_EQ(screen->streamer()->urlString(), server->url("/live"));
    EXPECT_EQ(screen->autoScrollLabel1()->text(), std::string(kSponsorText));
    EXPECT_EQ(screen->autoScrollLabel1()->superview(), screen->view());
    EXPECT_EQ(screen->valView()->subviews().size(), 1u);
    ASSERT_TRUE(waitUntilPlaying());
    EXPECT_EQ(imageName(screen->playButton()), screens::kPauseButtonImage);
    EXPECT_EQ(requestsFor("/live"), 1u);
}

// Every state change sets the image: the play image while connecting and buffering, the pause
// image while playing. Pressing pause stops at once with the play image, and pressing play
// starts the same streamer again.
TEST_F(LiveScreenTest, ButtonImageFollowsTheStreamThroughPlayAndStop) {
    show();
    advance(0.5);
    // Registered after the screen's own observer, so it sees the image the screen just set;
    // every state from waiting for data on is announced through the main queue.
    std::vector<std::pair<AudioStreamerState, std::string>> seen;
    auto& centre = platform::NotificationCenter::defaultCenter();
    const auto token = centre.addObserver(
        ASStatusChangedNotification, nullptr, [&](const platform::Notification& n) {
            const auto* streamer = static_cast<const AudioStreamer*>(n.object);
            seen.emplace_back(streamer->state(), imageName(screen->playButton()));
        });
    ASSERT_TRUE(waitUntilPlaying());
    queue().drain();
    EXPECT_EQ(imageName(screen->playButton()), screens::kPauseButtonImage);
    AudioStreamer* streamer = screen->streamer();

    screen->playButton()->sendAction();
    EXPECT_EQ(imageName(screen->playButton()), screens::kPlayButtonImage);
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(imageName(screen->playButton()), screens::kPlayButtonImage);

    screen->playButton()->sendAction();
    EXPECT_EQ(imageName(screen->playButton()), screens::kPauseButtonImage);
    EXPECT_EQ(screen->streamer(), streamer);
    ASSERT_TRUE(waitUntilPlaying());
    queue().drain();
    EXPECT_EQ(imageName(screen->playButton()), screens::kPauseButtonImage);
    centre.removeObserver(token);

    // The state is read again when this observer runs, and another thread may have moved it
    // on since the screen's observer ran; only these states cannot have come from a state that
    // shows the pause image.
    ASSERT_FALSE(seen.empty());
    bool sawWaiting = false;
    for (const auto& [state, image] : seen) {
        switch (state) {
            case AS_STATE_WAITING_FOR_DATA:
            case AS_STATE_WAITING_FOR_QUEUE_TO_START:
            case AS_STATE_STOPPING:
            case AS_STATE_STOPPED:
            case AS_STATE_IDLE:
                sawWaiting = true;
                EXPECT_EQ(image, screens::kPlayButtonImage) << "state " << state;
                break;
            default: break;
        }
    }
    EXPECT_TRUE(sawWaiting);
}

// "SongChanged" while the list tab shows stops the live stream; the streamer stays for the
// play button, which shows the play image once the stream has stopped.
TEST_F(LiveScreenTest, SongChangedWhileTheListShowsStopsTheStream) {
    screen.reset();
    server->serve("/dev/feed/", testsupport::Response::bytes(screentest::rssFeed({})));
    MainInterface main = loadMainInterface(addresses());
    tabs = std::move(main.tabBarController);
    auto* live = dynamic_cast<AudioPlayerViewController*>(tabs->viewControllerAt(0));
    ASSERT_NE(live, nullptr);
    tabs->beginAppearanceTransition(true, false);
    tabs->endAppearanceTransition();
    advance(0.5);
    ASSERT_TRUE(runUntil([&] { return live->streamer() && live->streamer()->isPlaying(); }));

    tabs->setSelectedIndex(1);
    EXPECT_FALSE(live->isAppearing());
    platform::NotificationCenter::defaultCenter().post("SongChanged", nullptr);
    ASSERT_NE(live->streamer(), nullptr);
    EXPECT_TRUE(runUntil([&] { return live->streamer()->isIdle(); }));
    ASSERT_TRUE(AudioStreamer::waitForStreamingThreads(5));
    queue().drain();
    EXPECT_EQ(imageName(live->playButton()), screens::kPlayButtonImage);
    EXPECT_TRUE(server->waitForConnectionsClosed());
}

// From a fresh start the controls stay opaque for 2.9 s, fade by 0.02 a tick, and are hidden
// at 8.0 s with the timer stopped and the count back to 0.
TEST_F(LiveScreenTest, ControlsHoldThenFadeOutAtEightSeconds) {
    show();
    advance(2.85);
    EXPECT_FLOAT_EQ(alpha(), 1.0f);
    advance(0.1);  // 2.95 s: still the hold
    EXPECT_FLOAT_EQ(alpha(), 1.0f);
    advance(0.1);  // 3.05 s: the first step of the fade
    EXPECT_NEAR(alpha(), 0.98f, 1e-5);
    EXPECT_FLOAT_EQ(screen->valView()->alpha(), alpha());
    advance(4.9);  // 7.95 s
    EXPECT_FALSE(controlsHidden());
    EXPECT_GT(alpha(), 0.0f);
    advance(0.1);  // 8.05 s
    EXPECT_TRUE(controlsHidden());
    EXPECT_LE(alpha(), 0.0f);
    EXPECT_FALSE(screen->controls().isTimerRunning());
    EXPECT_EQ(screen->controls().count(), 0);
}

// "ShowControls" during the fade makes the controls opaque again and the fade resumes on the
// next tick without a new hold; repeated posts leave one timer, ticking once per 0.1 s.
TEST_F(LiveScreenTest, ShowControlsDuringTheFadeResumesItWithoutANewHold) {
    show();
    advance(5.05);
    EXPECT_LT(alpha(), 0.7f);
    auto& centre = platform::NotificationCenter::defaultCenter();
    for (int i = 0; i < 3; ++i) centre.post("ShowControls", nullptr);
    EXPECT_FLOAT_EQ(alpha(), 1.0f);
    EXPECT_FALSE(controlsHidden());
    const int countBefore = screen->controls().count();

    advance(0.1);
    EXPECT_NEAR(alpha(), 0.98f, 1e-5);
    EXPECT_EQ(screen->controls().count(), countBefore + 1);
    advance(1.0);
    EXPECT_EQ(screen->controls().count(), countBefore + 11);
    // 51 steps from full opacity: hidden 5.1 s after the post.
    advance(3.95);
    EXPECT_FALSE(controlsHidden());
    advance(0.1);
    EXPECT_TRUE(controlsHidden());
}

// Once hidden, "ShowControls" brings the controls back at full opacity with a fresh hold,
// since the finished fade set the count back to 0.
TEST_F(LiveScreenTest, ShowControlsAfterTheFadeShowsThemForAnotherEightSeconds) {
    show();
    advance(8.05);
    ASSERT_TRUE(controlsHidden());
    platform::NotificationCenter::defaultCenter().post("ShowControls", nullptr);
    EXPECT_FALSE(controlsHidden());
    EXPECT_FLOAT_EQ(alpha(), 1.0f);
    advance(2.95);
    EXPECT_FLOAT_EQ(alpha(), 1.0f);
    advance(5.0);
    EXPECT_FALSE(controlsHidden());
    advance(0.1);
    EXPECT_TRUE(controlsHidden());
}

// A second stratStream while a streamer exists refreshes the marquee text and nothing else:
// the same streamer plays on and the stream is not requested again.
TEST_F(LiveScreenTest, SecondStratStreamOnlyRefreshesTheMarquee) {
    show();
    advance(0.5);
    ASSERT_TRUE(waitUntilPlaying());
    AudioStreamer* first = screen->streamer();
    const size_t subviews = screen->view()->subviews().size();

    server->serve("/adXML.plist", testsupport::Response::bytes(screentest::adList("New sponsor")));
    screen->stratStream();
    EXPECT_EQ(screen->autoScrollLabel1()->text(), std::string("New sponsor"));
    EXPECT_EQ(screen->streamer(), first);
    EXPECT_TRUE(first->isPlaying());
    EXPECT_EQ(screen->view()->subviews().size(), subviews);
    EXPECT_EQ(requestsFor("/live"), 1u);
}

// A stream that failed leaves an idle streamer with a recorded error, which could never play
// again. Pressing play replaces it with a new streamer on the same URL, which plays.
TEST_F(LiveScreenTest, PlayAfterAFailureStartsANewStreamer) {
    int answered = 0;
    static const std::string frames =
        screentest::readFile(screentest::fixturePath("cbr128-noxing.mp3"));
    server->serve("/live", [&answered](const testsupport::RecordedRequest&) {
        if (answered++ == 0) return testsupport::Response::notFound();
        return testsupport::Response::live(testsupport::repeating(frames));
    });
    show();
    advance(0.5);
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_NE(screen->streamer()->errorCode(), AS_NO_ERROR);
    EXPECT_EQ(alerts->count(), 1u);
    EXPECT_EQ(imageName(screen->playButton()), screens::kPlayButtonImage);

    screen->playButton()->sendAction();
    EXPECT_EQ(imageName(screen->playButton()), screens::kPauseButtonImage);
    ASSERT_NE(screen->streamer(), nullptr);
    EXPECT_EQ(screen->streamer()->errorCode(), AS_NO_ERROR);
    EXPECT_EQ(screen->streamer()->urlString(), server->url("/live"));
    ASSERT_TRUE(waitUntilPlaying());
    EXPECT_EQ(requestsFor("/live"), 2u);
    EXPECT_EQ(imageName(screen->playButton()), screens::kPauseButtonImage);
}

// The download control opens the podcast page outside the app.
TEST_F(LiveScreenTest, DownloadOpensThePodcastPage) {
    show();
    screen->downloadButton()->sendAction();
    EXPECT_EQ(opened, std::vector<std::string>{server->url("/podcast/")});
}

}  // namespace

namespace {

// What is on air and what the player does, in words: a station that interleaves its titles
// shows its name and each new title under the heading; the status line goes from connecting
// through playing to stopped. A station without metadata shows no now-playing line.
TEST_F(LiveScreenTest, SaysWhatIsOnAirAndWhatItIsDoing) {
    static const std::string frames =
        screentest::readFile(screentest::fixturePath("cbr128-noxing.mp3"));
    // About a quarter second of audio between blocks; the title changes after five seconds.
    server->serve("/icy", testsupport::Response::live(
                              testsupport::withIcyMetadata(testsupport::repeating(frames), 4000,
                                                           [](uint64_t block) {
                                                               return block < 20 ? "Harbour Song"
                                                                                 : "Evening News";
                                                           }))
                              .icy()
                              .header("icy-metaint", "4000"));
    delegate->setSongURL(server->url("/icy"));
    show();
    EXPECT_EQ(*screen->statusLabel()->text(), "Stopped");
    EXPECT_FALSE(screen->nowPlayingLabel()->text().has_value());
    std::vector<std::string> statuses;
    const auto token = platform::NotificationCenter::defaultCenter().addObserver(
        // The words for each state as it is announced (the screen's own observer may run
        // after this one, so its label is read at the ends only).
        ASStatusChangedNotification, nullptr, [&](const platform::Notification& n) {
            const std::string status =
                screens::statusText(static_cast<const AudioStreamer*>(n.object));
            if (statuses.empty() || statuses.back() != status) statuses.push_back(status);
        });
    advance(0.5);
    ASSERT_TRUE(waitUntilPlaying());
    EXPECT_EQ(*screen->statusLabel()->text(), "Playing");
    ASSERT_TRUE(runUntil([&] {
        return screen->nowPlayingLabel()->text() == std::string("Ostra Test Radio: Harbour Song");
    }));
    ASSERT_TRUE(runUntil(
        [&] {
            return screen->nowPlayingLabel()->text() ==
                   std::string("Ostra Test Radio: Evening News");
        },
        20));
    screen->startTheAction(*screen->playButton());
    ASSERT_TRUE(waitUntilIdle());
    queue().drain();
    EXPECT_EQ(*screen->statusLabel()->text(), "Stopped");
    platform::NotificationCenter::defaultCenter().removeObserver(token);
    // Buffering shows only when the audio is slow to come: on loopback the queue is usually
    // running by the time its announcement is handled.
    const std::vector<std::string> withBuffering = {"Connecting\u2026", "Buffering\u2026",
                                                    "Playing", "Stopped"};
    const std::vector<std::string> withoutBuffering = {"Connecting\u2026", "Playing", "Stopped"};
    EXPECT_TRUE(statuses == withBuffering || statuses == withoutBuffering)
        << ::testing::PrintToString(statuses);
}

}  // namespace

namespace {

class ReconnectTest : public LiveScreenTest {
protected:
    // A live stream that the server resets after a few seconds of audio; then the station is
    // down (every request gets a 404 page) until the test brings it back.
    void dropAfterPlaying() {
        static const std::string frames =
            screentest::readFile(screentest::fixturePath("cbr128-noxing.mp3"));
        server->serve(
            "/drop",
            testsupport::Response::live(testsupport::repeating(frames)).icy().resetAfter(48000));
        delegate->setSongURL(server->url("/drop"));
        show();
        advance(0.5);
        ASSERT_TRUE(waitUntilPlaying());
        server->serve("/drop", testsupport::Response::notFound());
        ASSERT_TRUE(runUntil([&] { return screen->isWaitingToReconnect(); }));
    }
    void bringTheStationBack() {
        static const std::string frames =
            screentest::readFile(screentest::fixturePath("cbr128-noxing.mp3"));
        server->serve("/drop", testsupport::Response::live(testsupport::repeating(frames)).icy());
    }
    std::string status() const { return screen->statusLabel()->text().value_or(""); }
};

// After a drop the screen tries again after 1, 2, 4, 8 and 16 s, then every 30 s, saying so
// in its status line; each attempt is one request, none comes early; the outage gives one
// alert (the drop's), the attempts none; once the station answers again the stream is back
// within two seconds of the attempt, and the next drop starts the schedule from 1 s again.
TEST_F(ReconnectTest, RetriesOnTheScheduleUntilTheStationAnswers) {
    dropAfterPlaying();
    EXPECT_EQ(alerts->count(), 1u);
    for (double delay : {1.0, 2.0, 4.0, 8.0, 16.0, 30.0, 30.0}) {
        SCOPED_TRACE("delay " + std::to_string(delay));
        ASSERT_TRUE(screen->isWaitingToReconnect());
        EXPECT_NEAR(screen->secondsUntilReconnect(), delay, 1e-6);
        EXPECT_EQ(status(), "Reconnecting in " + std::to_string(int(delay)) + " s\u2026");
        EXPECT_TRUE(screen->playButton()->currentImageIs(screens::kPlayButtonImage));
        const size_t before = requestsFor("/drop");
        if (delay >= 2) {
            advance(1);
            EXPECT_EQ(status(), "Reconnecting in " + std::to_string(int(delay) - 1) + " s\u2026");
            advance(delay - 1 - 0.01);
        } else {
            advance(delay - 0.01);
        }
        queue().drain();
        EXPECT_EQ(requestsFor("/drop"), before) << "an attempt came early";
        advance(0.01);
        ASSERT_TRUE(runUntil([&] { return requestsFor("/drop") == before + 1; }));
        ASSERT_TRUE(runUntil([&] { return screen->isWaitingToReconnect(); }));
    }
    EXPECT_EQ(alerts->count(), 1u) << "an attempt alerted";

    bringTheStationBack();
    advance(30);
    ASSERT_TRUE(runUntil([&] { return screen->streamer()->isPlaying(); }, 2.0));
    EXPECT_EQ(status(), "Playing");
    EXPECT_EQ(screen->reconnectAttempts(), 0);
    EXPECT_EQ(alerts->count(), 1u);
}

// Stopping during the wait (the media controls' stop, or choosing a programme) ends the
// attempts; the play image during the wait tries at once.
TEST_F(ReconnectTest, StopEndsTheWaitAndPlayTriesAtOnce) {
    dropAfterPlaying();
    const size_t before = requestsFor("/drop");
    screen->startTheAction(*screen->playButton());
    ASSERT_TRUE(runUntil([&] { return requestsFor("/drop") == before + 1; }));
    ASSERT_TRUE(runUntil([&] { return screen->isWaitingToReconnect(); }));
    EXPECT_NEAR(screen->secondsUntilReconnect(), 2.0, 1e-6);

    screen->stopListening();
    EXPECT_FALSE(screen->isWaitingToReconnect());
    advance(120);
    queue().drain();
    EXPECT_EQ(requestsFor("/drop"), before + 1);
    EXPECT_EQ(status(), AudioStreamer::stringForErrorCode(screen->streamer()->errorCode()));

    // A new session: play starts it again, and "SongChanged" during its wait ends it too.
    screen->startTheAction(*screen->playButton());
    ASSERT_TRUE(runUntil([&] { return screen->isWaitingToReconnect(); }));
    platform::NotificationCenter::defaultCenter().post("SongChanged", nullptr);
    EXPECT_FALSE(screen->isWaitingToReconnect());
    const size_t after = requestsFor("/drop");
    advance(120);
    queue().drain();
    EXPECT_EQ(requestsFor("/drop"), after);
}

}  // namespace
