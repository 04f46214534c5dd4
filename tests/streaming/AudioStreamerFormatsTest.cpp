// Ogg Vorbis, Opus, FLAC in Ogg and native FLAC through the whole engine: each plays to its
// end with ffmpeg's decode of the file, seeks land within a packet of the target, and a chained
// stream without a length plays on across its links' changes of format.

#include <algorithm>
#include <chrono>

#include "tests/streaming/StreamerTestSupport.h"

using namespace streamertest;
using Access = AudioStreamerTestAccess;
using testsupport::Response;

namespace {

struct FormatCase {
    const char* fixture;
    // The capture runs at 44.1 kHz: a 48 kHz stream is resampled, by us and by ffmpeg for the
    // reference, whose converters differ in the last bits.
    float tolerance;
    // Frames of the longest packet, the precision a seek may land with.
    long packetFrames;
    // After a jump an Opus decoder's output converges on a continuous decode's over a few
    // hundred milliseconds, though it lands on the right packet: where the audio resumes is
    // told with a tolerance that a packet too early or late would still exceed many times.
    float seekTolerance = 0;
};

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.fixture; }

std::string fixtureName(const ::testing::TestParamInfo<FormatCase>& info) {
    std::string name = info.param.fixture;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

const FormatCase kFormats[] = {
    {"vorbis.ogg", 1e-4f, 1024},       {"vorbis-mono22k.ogg", 2e-3f, 2048},
    {"opus.opus", 2e-3f, 1103, 0.05f}, {"flac-in-ogg.oga", 1e-4f, 4608},
    {"flac.flac", 1e-4f, 4608},        {"flac24-mono.flac", 2e-3f, 4608},
};

class FormatsTest : public StreamerTest, public ::testing::WithParamInterface<FormatCase> {
protected:
    void SetUp() override {
        StreamerTest::SetUp();
        file = fixturePath(GetParam().fixture);
        path = std::string("/") + GetParam().fixture;
        server->serve(path, Response::file(file));
    }

    std::string file;
    std::string path;
};

}  // namespace

TEST_P(FormatsTest, PlaysToItsEndAsFfmpegDecodesIt) {
    useCapture(0);
    auto streamer = makeStreamer(path);
    const auto started = std::chrono::steady_clock::now();
    streamer->start();
    // A short file may be played out before a poll sees PLAYING.
    ASSERT_TRUE(runUntil([&] { return streamer->isPlaying() || streamer->isIdle(); }));
    const double toPlaying =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ASSERT_TRUE(waitForIdle(*streamer, 60));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    EXPECT_EQ(Access::stopReason(*streamer), AS_STOP_REASON_EOF);
    EXPECT_EQ(alerts->count(), 0u);

    const Pcm capture = captured(*lastSink());
    const Pcm reference = referenceDecode(file, capture.sampleRate, capture.channels);
    EXPECT_TRUE(sameAudio(capture, reference, GetParam().tolerance, GetParam().packetFrames));
    const double seconds = double(reference.frames()) / reference.sampleRate;
    EXPECT_NEAR(streamer->duration(), seconds, seconds * 0.05);
    std::printf("%s: start to PLAYING %.1f ms, duration %.3f s of %.3f s\n", GetParam().fixture,
                toPlaying * 1000, streamer->duration(), seconds);
}

// Back into what was read, then ahead of the download: the audio resumes within a packet of
// the target, and progress counts from the target.
TEST_P(FormatsTest, SeeksLandWithinAPacketOfTheTarget) {
    useCapture(8);
    auto streamer = makeStreamer(path);
    StateHistory history(*mainQueue, streamer);
    streamer->start();
    // The duration waits for the bit-rate estimate, which takes 50 packets.
    ASSERT_TRUE(runUntil([&] { return streamer->progress() > 3.0 && streamer->duration() > 4.0; }));
    const double duration = streamer->duration();
    ASSERT_GT(duration, 4.0);
    for (const double target : {1.0, duration * 0.5}) {
        SCOPED_TRACE(target);
        streamer->seekToTime(target);
        // The seek is carried out on the engine's thread: progress tells when it has been.
        ASSERT_TRUE(runUntil([&] {
            return streamer->isPlaying() && std::abs(streamer->progress() - target) < 0.5;
        })) << history.describe()
            << " error " << streamer->errorCode() << " " << ::testing::PrintToString(logs->lines())
            << " progress " << streamer->progress() << " requests " << [&] {
                   std::string text;
                   for (const auto& request : server->requests())
                       text += request.header("Range") + " ";
                   return text;
               }();
        const uint64_t after = lastSink()->consumedCount();
        ASSERT_TRUE(runUntil([&] { return lastSink()->consumedCount() > after + 22050; }));
        const double progress = streamer->progress();
        streamer->pause();
        auto sink = lastSink();
        const Pcm capture = captured(*sink);
        const Pcm reference = referenceDecode(file, capture.sampleRate, capture.channels);
        const auto resumed =
            resumedAt(capture, reference, std::max(GetParam().tolerance, GetParam().seekTolerance));
        ASSERT_TRUE(resumed);
        const double packet = double(GetParam().packetFrames) / capture.sampleRate;
        std::printf("%s: seek to %.3f s resumed at %.3f s, progress %.3f s\n", GetParam().fixture,
                    target, *resumed, progress);
        EXPECT_TRUE(landedWithinAPacket(target, *resumed, progress, packet));
        streamer->pause();
    }
    streamer->stop();
    ASSERT_TRUE(waitForIdle(*streamer));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
}

INSTANTIATE_TEST_SUITE_P(Generated, FormatsTest, ::testing::ValuesIn(kFormats), fixtureName);

namespace {

class ChainTest : public StreamerTest {};

}  // namespace

// A station's Ogg stream begins a new logical stream at every track, with new headers and
// perhaps another codec, rate and channel count: served without a length, as a live station
// does, it plays across its three changes, every link as ffmpeg decodes it on its own.
TEST_F(ChainTest, LiveChainedStreamPlaysAcrossThreeTrackChanges) {
    const std::string chained = readFile(fixturePath("chained.ogg"));
    server->serve("/live", Response::bytes(chained).closeDelimited());
    useCapture(4);
    auto streamer = makeStreamer("/live");
    StateHistory history(*mainQueue, streamer);
    streamer->start();
    ASSERT_TRUE(waitForIdle(*streamer, 60));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR) << history.describe();
    EXPECT_EQ(Access::stopReason(*streamer), AS_STOP_REASON_EOF);
    // Nothing but playing between the start and the end: the changes never interrupt it.
    const auto states = history.states();
    const auto playing = std::find(states.begin(), states.end(), AS_STATE_PLAYING);
    const auto stopping = std::find(states.begin(), states.end(), AS_STATE_STOPPING);
    ASSERT_LT(playing, stopping) << history.describe();
    EXPECT_TRUE(std::all_of(playing, stopping, [](AudioStreamerState state) {
        return state == AS_STATE_PLAYING;
    })) << history.describe();

    const Pcm capture = captured(*lastSink());
    long searchFrom = 0;
    for (int link = 1; link <= 4; ++link) {
        SCOPED_TRACE(link);
        const Pcm reference = referenceDecode(fixturePath("chain-" + std::to_string(link) + ".ogg"),
                                              capture.sampleRate, capture.channels);
        // A second into the link, so that the converters' start has passed. Only the first link
        // is at the capture's rate; the others are resampled.
        const size_t window = 4096;
        const long inLink = long(reference.sampleRate);
        std::optional<long> d;
        for (long start = searchFrom; start < long(capture.frames()) && !d; start += 2048) {
            d = findOffset(capture, reference, size_t(start), window, inLink - start - 2048,
                           inLink - start, link == 1 ? 1e-4f : 2e-3f);
        }
        ASSERT_TRUE(d) << "link " << link << " not found after frame " << searchFrom;
        const long linkStart = -*d;  // capture frame of the link's first reference frame
        std::printf("link %d begins at %.3f s of the capture\n", link,
                    double(linkStart) / capture.sampleRate);
        EXPECT_GE(linkStart, searchFrom - 4096);
        searchFrom = linkStart + long(reference.frames()) - 8192;
    }
    EXPECT_GE(capture.frames(), size_t(searchFrom));
}
