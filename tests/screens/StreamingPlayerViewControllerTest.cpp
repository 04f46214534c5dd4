// The basic player against the loopback station: the loading state (a spinning image, the
// bare "Time Played:", a press that stops), Return with a streamer already made, a live stream
// that cannot be sought, and a programme whose time shows in seconds and whose slider seeks.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "ScreensTestSupport.h"
#include "platform/NotificationCenter.h"
#include "platform/ui/Layer.h"
#include "screens/ScreenSupport.h"
#include "screens/StreamingPlayerViewController.h"
#include "streaming/AudioStreamer.h"

namespace {

using screentest::imageName;

// Whether `text` is "Time Played: P/D seconds" with one decimal each and D within a second of
// `length`.
bool settledSeconds(const std::string& text, double length) {
    double played = 0;
    double duration = 0;
    if (std::sscanf(text.c_str(), "Time Played: %lf/%lf seconds", &played, &duration) != 2)
        return false;
    char expected[96];
    std::snprintf(expected, sizeof expected, "Time Played: %.1f/%.1f seconds", played, duration);
    return text == expected && std::abs(duration - length) < 1;
}

class BasicPlayerTest : public screentest::ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        // A programme whose server sends its headers and then nothing until released: the
        // streamer waits for data for as long as a test needs.
        server->serve("/stalled.mp3",
                      testsupport::Response::bytes(screentest::programmeBytes(320000))
                          .pauseAfter(0, "stalled"));
        screen = std::make_unique<StreamingPlayerViewController>();
        screen->view();
        destroyScreens = [this] { screen.reset(); };
    }

    void press() { screen->button()->sendAction(); }
    void type(const std::string& path) {
        screen->downloadSourceField()->setText(server->url(path));
    }
    bool spinning() const { return screen->button()->layer().hasAnimation("rotationAnimation"); }
    float rotation() const { return screen->button()->layer().presentationRotation(); }
    std::string label() const {
        const auto& text = screen->positionLabel()->text();
        return text ? *text : "<none>";
    }
    size_t requestsFor(const std::string& path) const {
        size_t count = 0;
        for (const auto& request : server->requests()) count += request.path == path;
        return count;
    }

    std::unique_ptr<StreamingPlayerViewController> screen;
};

// While the streamer waits for data the loading image spins and the label reads "Time Played:"
// (no bit rate yet). Pressing then stops that streamer instead of making a second one; once it
// is idle the screen lets it go and shows the play image again.
TEST_F(BasicPlayerTest, PressWhileLoadingStopsTheOneStreamer) {
    EXPECT_EQ(imageName(screen->button()), screens::kPlayButtonImage);
    type("/stalled.mp3");
    press();
    EXPECT_EQ(imageName(screen->button()), screens::kLoadingButtonImage);
    EXPECT_TRUE(spinning());
    ASSERT_TRUE(server->waitForPause("stalled"));
    ASSERT_TRUE(runUntil([&] { return screen->streamer()->state() == AS_STATE_WAITING_FOR_DATA; }));
    screen->positionLabel()->setText("stale");
    advance(StreamingPlayerViewController::kProgressInterval);
    EXPECT_EQ(label(), "Time Played:");

    AudioStreamer* first = screen->streamer();
    press();
    ASSERT_TRUE(runUntil([&] { return screen->streamer() == nullptr; }));
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(imageName(screen->button()), screens::kPlayButtonImage);
    EXPECT_FALSE(spinning());
    EXPECT_EQ(requestsFor("/stalled.mp3"), 1u);
}

// The loading image turns once every 2 s, linearly, and goes on turning until the stream
// plays, when the stop image replaces it and the spin ends.
TEST_F(BasicPlayerTest, LoadingImageTurnsOncePerTwoSeconds) {
    type("/stalled.mp3");
    // Every waiting state sets the loading image again, which starts a new turn; so the clock
    // runs only once the last of them has been announced: starting the thread (during the
    // press), then waiting for data (from the streaming thread), then nothing while stalled.
    int announced = 0;
    auto& centre = platform::NotificationCenter::defaultCenter();
    const auto token = centre.addObserver(ASStatusChangedNotification, nullptr,
                                          [&](const platform::Notification&) { ++announced; });
    press();
    ASSERT_TRUE(runUntil([&] { return announced == 2; }));
    centre.removeObserver(token);
    ASSERT_EQ(screen->streamer()->state(), AS_STATE_WAITING_FOR_DATA);
    advance(0.5);
    EXPECT_NEAR(rotation(), M_PI / 2, 0.1);
    advance(0.5);
    EXPECT_NEAR(rotation(), M_PI, 0.1);
    advance(1.5);  // 2.5 s: half a turn into the second turn
    EXPECT_TRUE(spinning());
    EXPECT_NEAR(rotation(), M_PI / 2, 0.1);

    server->release("stalled");
    ASSERT_TRUE(runUntil([&] { return screen->streamer() && screen->streamer()->isPlaying(); }));
    EXPECT_EQ(imageName(screen->button()), screens::kStopButtonImage);
    EXPECT_FALSE(spinning());
    EXPECT_FLOAT_EQ(rotation(), 0.0f);
}

// Return makes the streamer for the typed URL without starting it; Return again with another
// URL keeps that streamer and its URL, and the button then plays the first URL.
TEST_F(BasicPlayerTest, ReturnKeepsAnExistingStreamer) {
    serveProgramme("/first.mp3", screentest::programmeBytes(320000));
    type("/first.mp3");
    EXPECT_TRUE(screen->downloadSourceField()->simulateReturn());
    ASSERT_NE(screen->streamer(), nullptr);
    AudioStreamer* made = screen->streamer();
    EXPECT_TRUE(made->isIdle());

    type("/second.mp3");
    EXPECT_TRUE(screen->downloadSourceField()->simulateReturn());
    EXPECT_EQ(screen->streamer(), made);
    EXPECT_EQ(made->urlString(), server->url("/first.mp3"));
    EXPECT_TRUE(server->requests().empty());

    press();
    ASSERT_TRUE(runUntil([&] { return screen->streamer() && screen->streamer()->isPlaying(); }));
    EXPECT_EQ(requestsFor("/first.mp3"), 1u);
    EXPECT_EQ(requestsFor("/second.mp3"), 0u);
}

// The basic player's progress timer ticks every tenth of a second: caught just after a tick,
// the label stays as it is until just short of the next one, and is written at it.
TEST_F(BasicPlayerTest, ProgressTicksEveryTenthOfASecond) {
    serveProgramme("/p40.mp3", screentest::programmeBytes(40 * 16000));
    type("/p40.mp3");
    press();
    ASSERT_TRUE(runUntilAdvancing([&] { return settledSeconds(label(), 40); }, 0.1)) << label();
    screen->positionLabel()->setText("stale");
    ASSERT_TRUE(runUntilAdvancing([&] { return label() != "stale"; }, 0.002));
    screen->positionLabel()->setText("stale");
    advance(0.095);
    EXPECT_EQ(label(), "stale");
    advance(0.01);
    EXPECT_NE(label(), "stale");
}

// A live stream has no duration: the slider stays disabled and moving it requests nothing.
TEST_F(BasicPlayerTest, LiveStreamCannotBeSought) {
    serveLive("/live");
    type("/live");
    press();
    ASSERT_TRUE(runUntil([&] { return screen->streamer() && screen->streamer()->isPlaying(); }));
    ASSERT_TRUE(runUntilAdvancing([&] { return screen->streamer()->bitRate() > 0; }));
    advance(StreamingPlayerViewController::kProgressInterval);
    EXPECT_FALSE(screen->progressSlider()->isEnabled());
    screen->progressSlider()->setValue(50);
    screen->sliderMoved(*screen->progressSlider());
    advance(StreamingPlayerViewController::kProgressInterval);
    EXPECT_EQ(requestsFor("/live"), 1u);
    EXPECT_TRUE(screen->streamer()->isPlaying());
}

// A programme shows its time in tenths of seconds, the slider follows it, and moving the
// slider to 50 reopens the download near the middle of the file.
TEST_F(BasicPlayerTest, ProgrammeTimeInSecondsAndTheSliderSeeks) {
    const std::string bytes = screentest::programmeBytes(40 * 16000);
    serveProgramme("/p40.mp3", bytes);
    type("/p40.mp3");
    press();
    // Until the streamer has counted enough packets its length is a rough first guess.
    EXPECT_TRUE(runUntilAdvancing([&] { return settledSeconds(label(), 40); }, 0.1)) << label();
    EXPECT_TRUE(screen->progressSlider()->isEnabled());

    screen->progressSlider()->setValue(50);
    screen->sliderMoved(*screen->progressSlider());
    long start = -1;
    ASSERT_TRUE(runUntil([&] {
        for (const auto& request : server->requests()) {
            const std::string range = request.header("range");
            if (request.path == "/p40.mp3" && range.rfind("bytes=", 0) == 0) {
                start = std::strtol(range.c_str() + 6, nullptr, 10);
            }
        }
        return start >= 0;
    }));
    EXPECT_NEAR(static_cast<double>(start), bytes.size() / 2.0, bytes.size() * 0.02);
    ASSERT_TRUE(runUntil([&] { return screen->streamer()->isPlaying(); }));
    advance(StreamingPlayerViewController::kProgressInterval);
    EXPECT_GE(screen->progressSlider()->value(), 49.0f);
}

}  // namespace
