// Random sequences of start, pause, seek and stop against a file and a live stream, with an
// observer that stops the streamer from inside its notification when (and only when) it is
// idle. Nothing may deadlock, and no thread or file descriptor may be left behind.
//
// OSTRA_SOAK_SEQUENCES sets the number of sequences (a short run by default, for CI).

#include <cstdlib>
#include <random>

#include "tests/streaming/StreamerTestSupport.h"

using namespace streamertest;
using testsupport::Response;

namespace {

int sequenceCount() {
    const char* text = std::getenv("OSTRA_SOAK_SEQUENCES");
    const int count = text ? std::atoi(text) : 0;
    return count > 0 ? count : 25;
}

class SoakTest : public StreamerTest {
protected:
    void runSequence(std::mt19937& random, bool useLive) {
        auto streamer = AudioStreamer::create(server->url(useLive ? "/live" : "/song.mp3"));
        AudioStreamer* raw = streamer.get();
        bool stopFromObserver = random() % 2 == 0;
        const auto token = platform::NotificationCenter::defaultCenter().addObserver(
            ASStatusChangedNotification, raw,
            [raw, &stopFromObserver](const platform::Notification&) {
                // Allowed only on an idle streamer: returns at once.
                if (stopFromObserver && raw->isIdle()) raw->stop();
            });

        const int operations = 2 + int(random() % 8);
        for (int i = 0; i < operations; ++i) {
            switch (random() % 6) {
                case 0:
                case 1: streamer->start(); break;
                case 2: streamer->pause(); break;
                case 3: streamer->seekToTime(double(random() % 25000) / 1000.0); break;
                case 4: streamer->stop(); break;
                case 5:
                    (void)streamer->progress();
                    (void)streamer->duration();
                    break;
            }
            // Let the threads run a little, delivering notifications meanwhile.
            runUntil([] { return false; }, double(random() % 60) / 1000.0);
        }
        streamer->stop();
        EXPECT_TRUE(streamer->isIdle());
        platform::NotificationCenter::defaultCenter().removeObserver(token);
        mainQueue->drain();
    }
};

}  // namespace

TEST_F(SoakTest, RandomSequencesEndCleanly) {
    const std::string song = readFile(fixturePath("cbr128.mp3"));
    server->serve("/song.mp3", Response::bytes(song));
    server->serve(
        "/live",
        Response::live(testsupport::repeating(readFile(fixturePath("cbr128-noxing.mp3"))), 64000));
    useCapture(8);
    std::mt19937 random(20240611);

    // One sequence first, so that whatever is opened once per process is already open.
    runSequence(random, false);
    ASSERT_TRUE(AudioStreamer::waitForStreamingThreads(10));
    ASSERT_TRUE(server->waitForConnectionsClosed());
    const int fdsBefore = openFileDescriptors();

    const int count = sequenceCount();
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) runSequence(random, random() % 3 == 0);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    EXPECT_TRUE(AudioStreamer::waitForStreamingThreads(10));
    EXPECT_EQ(AudioStreamer::liveStreamingThreads(), 0);
    EXPECT_TRUE(server->waitForConnectionsClosed());
    // Not more than before (a connection of the first sequence may have closed since).
    EXPECT_LE(openFileDescriptors(), fdsBefore);
    std::printf("%d sequences in %.1f s, %zu requests\n", count, seconds,
                server->requests().size());
}
