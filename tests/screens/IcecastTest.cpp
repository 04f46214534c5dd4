// The live screen against a real Icecast server (Debian's icecast2, started here on loopback
// and run as an unprivileged user), fed by ffmpeg as its source client: the title set through
// the server's admin interface while the app listens reaches the screen.

#include <gtest/gtest.h>

#include "ScreensTestSupport.h"
#include "screens/AudioPlayerViewController.h"
#include "streaming/AudioStreamer.h"
#include "tests/support/IcecastServer.h"

namespace {

using testsupport::installed;
using Icecast = testsupport::IcecastServer;

class IcecastTest : public screentest::ScreenTest {
protected:
    void TearDown() override {
        screen.reset();
        ScreenTest::TearDown();
    }
    std::string nowPlaying() const { return screen->nowPlayingLabel()->text().value_or(""); }

    std::unique_ptr<AudioPlayerViewController> screen;
};

TEST_F(IcecastTest, ATitleSetWhileListeningReachesTheLiveScreen) {
    if (!installed("icecast2") || !installed("ffmpeg"))
        GTEST_SKIP() << "icecast2 or ffmpeg missing";
    Icecast icecast;
    ASSERT_TRUE(icecast.start(screentest::fixturePath("cbr128-noxing.mp3"))) << icecast.log();
    ASSERT_TRUE(icecast.setTitle("Harbour Song"));

    delegate->setSongURL(icecast.url());
    screen = std::make_unique<AudioPlayerViewController>(addresses());
    screen->beginAppearanceTransition(true, false);
    screen->endAppearanceTransition();
    advance(0.5);
    ASSERT_TRUE(runUntil([&] { return screen->streamer() && screen->streamer()->isPlaying(); }, 20))
        << icecast.log();
    EXPECT_EQ(screen->streamer()->stationName(), "Ostra Icecast Test");
    ASSERT_TRUE(runUntil([&] { return nowPlaying() == "Ostra Icecast Test: Harbour Song"; }, 10))
        << nowPlaying();

    // A new title while the app listens: Icecast sends it at the next metadata boundary.
    ASSERT_TRUE(icecast.setTitle("Evening News"));
    EXPECT_TRUE(runUntil([&] { return nowPlaying() == "Ostra Icecast Test: Evening News"; }, 10))
        << nowPlaying();
    EXPECT_EQ(screen->streamer()->errorCode(), AS_NO_ERROR);
    EXPECT_EQ(alerts->count(), 0u);
}

}  // namespace
