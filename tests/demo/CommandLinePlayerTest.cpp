// ostra-play against the demo station, as the README tells a user to run it: the live stream
// for a few seconds, and every programme of the feed with a seek that goes through the
// station's Range support, each ending with status 0.

#include <gtest/gtest.h>

#include "DemoTestSupport.h"
#include "tests/support/TestHttpServer.h"

using namespace demotest;

namespace {

// The part of a URL after its host and port.
std::string pathOf(const std::string& url) {
    const size_t host = url.find("//");
    return url.substr(url.find('/', host == std::string::npos ? 0 : host + 2));
}

}  // namespace

TEST(CommandLinePlayer, PlaysTheLiveStreamForAFewSeconds) {
    StationChild station;
    ASSERT_TRUE(station.waitReady()) << station.log();
    const ProgramRun run =
        runProgram(OSTRA_PLAY_BINARY, {"--silent", "--stop-after", "3", station.liveURL()}, 30s);
    EXPECT_EQ(run.exitStatus, std::optional<int>(0)) << run.output;
    EXPECT_NE(run.output.find("state PLAYING"), std::string::npos) << run.output;
    EXPECT_NE(run.output.find("ended normally"), std::string::npos) << run.output;
    EXPECT_NE(station.log().find("live from"), std::string::npos) << station.log();
}

// Every programme (MP3 at three rates, ADTS AAC, M4A) plays to its end after a seek a minute
// in, decoded as fast as it arrives; the station answers each seek with a 206.
TEST(CommandLinePlayer, PlaysEveryProgrammeAfterASeek) {
    StationChild station;
    ASSERT_TRUE(station.waitReady()) << station.log();
    const std::vector<std::string> urls = enclosureURLs(fetch(station.webURL("/dev/feed/")));
    ASSERT_EQ(urls.size(), 6u);
    for (const std::string& url : urls) {
        SCOPED_TRACE(url);
        const ProgramRun run =
            runProgram(OSTRA_PLAY_BINARY, {"--speed", "0", "--seek", "60", "--quiet", url}, 90s);
        EXPECT_EQ(run.exitStatus, std::optional<int>(0)) << run.output;
        EXPECT_NE(run.output.find("state PLAYING"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("seek to PLAYING"), std::string::npos) << run.output;
        EXPECT_NE(run.output.find("ended normally"), std::string::npos) << run.output;
        const std::string ranged = " 206 \"GET " + pathOf(url);
        EXPECT_NE(station.log().find(ranged), std::string::npos) << station.log();
    }
}

// On a machine without a sound device the device sink falls back to silence inside the
// player's own sink, so the WAV copy and the first-sample mark still get the audio.
TEST(CommandLinePlayer, WritesItsWavCopyWithoutASoundDevice) {
    StationChild station;
    ASSERT_TRUE(station.waitReady()) << station.log();
    TemporaryFolder folder;
    const std::string wav = (folder.path() / "live.wav").string();
    const ProgramRun run =
        runProgram(OSTRA_PLAY_BINARY, {"--wav", wav, "--stop-after", "2", station.liveURL()}, 30s,
                   {"SDL_AUDIODRIVER=no-such-driver"});
    EXPECT_EQ(run.exitStatus, std::optional<int>(0)) << run.output;
    EXPECT_NE(run.output.find("first sample:"), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("wrote 0 frames"), std::string::npos) << run.output;
    EXPECT_GT(std::filesystem::file_size(wav), 44u * 1000);
}

// Every failed run prints the error's alert: the loop quits on the idle state as soon as it
// reads it, which can be before the alert queued behind an earlier state change has run.
TEST(CommandLinePlayer, PrintsTheAlertOfEveryError) {
    const std::string refused =
        "http://127.0.0.1:" + std::to_string(testsupport::TestHttpServer::closedPort()) +
        "/live.mp3";
    for (int attempt = 0; attempt < 25; ++attempt) {
        SCOPED_TRACE(attempt);
        const ProgramRun run = runProgram(OSTRA_PLAY_BINARY, {"--silent", refused}, 30s);
        EXPECT_NE(run.exitStatus, std::optional<int>(0)) << run.output;
        EXPECT_NE(run.output.find("[File Error]"), std::string::npos) << run.output;
    }
}
