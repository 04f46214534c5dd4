// Every generated fixture, through the file-stream parser and the output queue into a capture
// sink, against ffmpeg's decode of the same file: bit for bit for PCM, ALAC and FLAC, and for the
// lossy formats bit for bit once lined up (ffmpeg drops encoder delay and padding that the
// queue plays). Damaged fixtures must play what can be played without upsetting the queue.

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>

#include "AudioMaterial.h"
#include "ParsedStream.h"
#include "QueueTestClient.h"

namespace queuetest {
namespace {

using namespace audio;

struct RoundTrip {
    ParsedStream parsed;
    Played played;
    std::optional<std::vector<float>> reference;
};

RoundTrip roundTrip(const std::string& name) {
    RoundTrip result;
    const auto path = testsupport::fixturePath(name);
    result.parsed = parseWithFileStream(readFileBytes(path), hintForPath(path));
    if (result.parsed.format.mFormatID == 0) return result;
    result.played = playThroughQueue(result.parsed.format, fillLikeTheEngine(result.parsed),
                                     result.parsed.bufferSize, result.parsed.cookie);
    result.reference = ffmpegDecode("-i " + path);
    return result;
}

// "pcm16-unknown-size.wav" → "pcm16_unknown_size_wav".
std::string testName(const ::testing::TestParamInfo<const char*>& info) {
    std::string name = info.param;
    for (char& c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
    }
    return name;
}

class Fixture : public ::testing::TestWithParam<const char*> {
protected:
    void SetUp() override {
        if (!haveFfmpeg()) GTEST_SKIP() << "no ffmpeg";
        if (!std::filesystem::exists(testsupport::fixturePath(GetParam()))) {
            GTEST_SKIP() << "fixture missing; build the 'fixtures' target";
        }
    }
};

class ExactFixture : public Fixture {};
class LossyFixture : public Fixture {};
class DamagedFixture : public Fixture {};
class PaddedFixture : public Fixture {};

// PCM, ALAC and FLAC: the same samples, from the first to the last.
TEST_P(ExactFixture, MatchesFfmpegBitForBit) {
    const auto trip = roundTrip(GetParam());
    ASSERT_EQ(trip.parsed.status, noErr);
    ASSERT_EQ(trip.played.status, noErr);
    ASSERT_TRUE(trip.reference);
    ASSERT_EQ(trip.played.samples.size(), trip.reference->size());
    EXPECT_TRUE(trip.played.samples == *trip.reference);
}

// MP3, AAC, Vorbis and Opus: once lined up, every sample ffmpeg plays is played, unchanged.
TEST_P(LossyFixture, MatchesFfmpegOnceAligned) {
    const auto trip = roundTrip(GetParam());
    ASSERT_EQ(trip.parsed.status, noErr);
    ASSERT_EQ(trip.played.status, noErr);
    ASSERT_TRUE(trip.reference);
    const int channels = trip.played.format.channels;
    ASSERT_GT(channels, 0);
    const auto alignment = align(trip.played.samples, *trip.reference, channels, 5000);
    EXPECT_EQ(alignment.maxError, 0) << "offset " << alignment.offset;
    EXPECT_EQ(alignment.framesCompared, trip.reference->size() / size_t(channels));
}

// Vorbis and Opus pad their last packet; the last page's granule position says where the sound
// ends, and playback ends there, as ffmpeg's does: not one sample more or less.
TEST_P(PaddedFixture, EndsWhereTheLastGranuleSays) {
    const auto trip = roundTrip(GetParam());
    ASSERT_EQ(trip.played.status, noErr);
    ASSERT_TRUE(trip.reference);
    const int channels = trip.played.format.channels;
    ASSERT_GT(channels, 0);
    const auto alignment = align(trip.played.samples, *trip.reference, channels, 5000);
    EXPECT_EQ(alignment.maxError, 0);
    EXPECT_EQ(trip.played.samples.size(), trip.reference->size());
}

// Junk, corruption and truncation: the queue plays what the parser hands it, and no more than
// ffmpeg finds in the file (plus the priming ffmpeg drops).
TEST_P(DamagedFixture, PlaysWhatCanBePlayed) {
    const auto trip = roundTrip(GetParam());
    // A file whose index comes after its data yields no format and no packets: the engine
    // then never makes a queue.
    if (trip.parsed.format.mFormatID == 0) {
        EXPECT_TRUE(trip.parsed.bytes.empty());
        return;
    }
    ASSERT_EQ(trip.played.status, noErr) << "queue refused the parser's format";
    if (!trip.reference || trip.reference->empty()) return;
    const int channels = std::max(1, trip.played.format.channels);
    const size_t ours = trip.played.samples.size() / size_t(channels);
    const size_t theirs = trip.reference->size() / size_t(channels);
    EXPECT_LE(ours, theirs + 5000);
}

INSTANTIATE_TEST_SUITE_P(Generated, ExactFixture,
                         ::testing::Values("pcm8.wav", "pcm16.wav", "pcm24.wav", "pcm32.wav",
                                           "float32.wav", "pcm16-unknown-size.wav", "pcm16.aiff",
                                           "sowt.aifc", "float32.aifc", "pcm16.caf",
                                           "pcm16-unknown-size.caf", "alac.caf", "alac.m4a",
                                           "flac.flac", "flac24-mono.flac", "flac-in-ogg.oga"),
                         testName);

INSTANTIATE_TEST_SUITE_P(Generated, LossyFixture,
                         ::testing::Values("cbr128.mp3", "cbr128-noxing.mp3", "cbr128-id3v1.mp3",
                                           "vbr.mp3", "vbr-noxing.mp3", "id3-picture.mp3",
                                           "mono22k-mpeg2.mp3", "mono8k-mpeg25.mp3", "adts-lc.aac",
                                           "adts-lc-mono22k.aac", "aac.caf", "aac.m4a",
                                           "aac-moov-at-end.m4a", "vorbis.ogg",
                                           "vorbis-mono22k.ogg", "opus.opus", "hls-ts.ts"),
                         testName);

INSTANTIATE_TEST_SUITE_P(Generated, PaddedFixture,
                         ::testing::Values("vorbis.ogg", "vorbis-mono22k.ogg", "opus.opus"),
                         testName);

INSTANTIATE_TEST_SUITE_P(Generated, DamagedFixture,
                         ::testing::Values("junk-before.mp3", "corrupt-middle.mp3", "truncated.mp3",
                                           "junk-before.aac", "truncated.m4a",
                                           "alac-pakt-at-end.caf", "corrupt-middle.ogg"),
                         testName);

}  // namespace
}  // namespace queuetest
