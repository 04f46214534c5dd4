// Every fixture, pushed whole: the packets are ffprobe's packets, byte for byte, and the data
// offset, byte count and stream description are right.

#include <gtest/gtest.h>

#include <numeric>

#include "tests/audioparser/ParserHarness.h"

using namespace audio;
using namespace parsertest;

namespace {

struct FixtureCase {
    const char* name;
    uint32_t formatID;
    double sampleRate;
    uint32_t channels;
    uint32_t framesPerPacket;
    // Bytes of each ffprobe packet that are container framing, not packet (ADTS headers).
    uint32_t framingBytes = 0;
    bool byteCountKnown = true;
};

void PrintTo(const FixtureCase& c, std::ostream* os) { *os << c.name; }

class FixturePacketsTest : public ::testing::TestWithParam<FixtureCase> {};

TEST_P(FixturePacketsTest, PacketsMatchFfprobe) {
    const FixtureCase& c = GetParam();
    const std::vector<uint8_t> file = readFixture(c.name);
    const std::vector<ProbePacket> probe = probePackets(c.name);
    ASSERT_FALSE(probe.empty());
    OSStatus status = -1;
    const Recorded r = parseAll(file, hintFor(c.name), &status);
    ASSERT_EQ(status, noErr) << fourCCText(uint32_t(status));
    EXPECT_FALSE(r.packetsBeforeFormat);
    EXPECT_FALSE(r.descriptionOutOfRange);

    EXPECT_EQ(r.format.mFormatID, c.formatID);
    EXPECT_EQ(r.format.mSampleRate, c.sampleRate);
    EXPECT_EQ(r.format.mChannelsPerFrame, c.channels);
    EXPECT_EQ(r.format.mFramesPerPacket, c.framesPerPacket);
    ASSERT_FALSE(r.formats.empty());
    EXPECT_EQ(r.formats.back().mASBD.mFormatID, c.formatID);

    ASSERT_TRUE(r.dataOffset.has_value());
    EXPECT_EQ(uint64_t(*r.dataOffset), probe.front().position);
    const uint64_t audioEnd = probe.back().position + probe.back().size;
    if (c.byteCountKnown) {
        ASSERT_TRUE(r.byteCount.has_value());
        EXPECT_EQ(*r.byteCount, audioEnd - probe.front().position);
    } else {
        EXPECT_FALSE(r.byteCount.has_value());
    }

    // The reader sizes its buffers by the upper bound: no packet may exceed it, and PCM
    // buffers of that size must hold whole frames.
    ASSERT_GT(r.packetSizeUpperBound, 0u);
    for (const Packet& packet : r.packets) ASSERT_LE(packet.bytes.size(), r.packetSizeUpperBound);

    if (c.formatID == kAudioFormatLinearPCM) {
        EXPECT_EQ(r.packetSizeUpperBound % r.format.mBytesPerFrame, 0u);
        EXPECT_FALSE(r.pcmCallbackNotWholeFrames);
        EXPECT_TRUE(r.packets.empty());
        const uint64_t total =
            std::accumulate(probe.begin(), probe.end(), uint64_t(0),
                            [](uint64_t sum, const ProbePacket& p) { return sum + p.size; });
        ASSERT_EQ(r.pcm.size(), total);
        EXPECT_TRUE(std::equal(r.pcm.begin(), r.pcm.end(), file.begin() + int64_t(*r.dataOffset)));
        return;
    }
    ASSERT_EQ(r.packets.size(), probe.size());
    for (size_t i = 0; i < probe.size(); ++i) {
        const ProbePacket& p = probe[i];
        const std::vector<uint8_t>& mine = r.packets[i].bytes;
        ASSERT_EQ(mine.size() + c.framingBytes, p.size) << "packet " << i;
        const auto from = file.begin() + int64_t(p.position + c.framingBytes);
        ASSERT_TRUE(std::equal(mine.begin(), mine.end(), from)) << "packet " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Mp3, FixturePacketsTest,
    ::testing::Values(
        FixtureCase{"cbr128.mp3", kAudioFormatMPEGLayer3, 44100, 2, 1152},
        FixtureCase{"cbr128-noxing.mp3", kAudioFormatMPEGLayer3, 44100, 2, 1152, 0, false},
        FixtureCase{"cbr128-id3v1.mp3", kAudioFormatMPEGLayer3, 44100, 2, 1152},
        FixtureCase{"vbr.mp3", kAudioFormatMPEGLayer3, 44100, 2, 1152},
        FixtureCase{"vbr-noxing.mp3", kAudioFormatMPEGLayer3, 44100, 2, 1152, 0, false},
        FixtureCase{"id3-picture.mp3", kAudioFormatMPEGLayer3, 44100, 2, 1152},
        FixtureCase{"mono22k-mpeg2.mp3", kAudioFormatMPEGLayer3, 22050, 1, 576},
        FixtureCase{"mono8k-mpeg25.mp3", kAudioFormatMPEGLayer3, 8000, 1, 576},
        FixtureCase{"long-10min-128k.mp3", kAudioFormatMPEGLayer3, 44100, 2, 1152}),
    [](const auto& info) { return std::to_string(info.index); });

INSTANTIATE_TEST_SUITE_P(Adts, FixturePacketsTest,
                         ::testing::Values(FixtureCase{"adts-lc.aac", kAudioFormatMPEG4AAC, 44100,
                                                       2, 1024, 7, false},
                                           FixtureCase{"adts-lc-mono22k.aac", kAudioFormatMPEG4AAC,
                                                       22050, 1, 1024, 7, false}),
                         [](const auto& info) { return std::to_string(info.index); });

INSTANTIATE_TEST_SUITE_P(
    Pcm, FixturePacketsTest,
    ::testing::Values(
        FixtureCase{"pcm8.wav", kAudioFormatLinearPCM, 44100, 2, 1},
        FixtureCase{"pcm16.wav", kAudioFormatLinearPCM, 44100, 2, 1},
        FixtureCase{"pcm24.wav", kAudioFormatLinearPCM, 44100, 2, 1},
        FixtureCase{"pcm32.wav", kAudioFormatLinearPCM, 44100, 2, 1},
        FixtureCase{"float32.wav", kAudioFormatLinearPCM, 44100, 2, 1},
        FixtureCase{"pcm16-unknown-size.wav", kAudioFormatLinearPCM, 44100, 2, 1, 0, false},
        FixtureCase{"pcm16.aiff", kAudioFormatLinearPCM, 44100, 2, 1},
        FixtureCase{"sowt.aifc", kAudioFormatLinearPCM, 44100, 2, 1},
        FixtureCase{"float32.aifc", kAudioFormatLinearPCM, 44100, 2, 1},
        FixtureCase{"pcm16.caf", kAudioFormatLinearPCM, 44100, 2, 1},
        FixtureCase{"pcm16-unknown-size.caf", kAudioFormatLinearPCM, 44100, 2, 1, 0, false}),
    [](const auto& info) { return std::to_string(info.index); });

INSTANTIATE_TEST_SUITE_P(
    Indexed, FixturePacketsTest,
    ::testing::Values(FixtureCase{"aac.m4a", kAudioFormatMPEG4AAC, 44100, 2, 1024},
                      // The data first: kept aside until the index after it has come.
                      FixtureCase{"aac-moov-at-end.m4a", kAudioFormatMPEG4AAC, 44100, 2, 1024},
                      FixtureCase{"alac.m4a", kAudioFormatAppleLossless, 44100, 2, 4096},
                      FixtureCase{"aac.caf", kAudioFormatMPEG4AAC, 44100, 2, 1024},
                      FixtureCase{"alac.caf", kAudioFormatAppleLossless, 44100, 2, 4096}),
    [](const auto& info) { return std::to_string(info.index); });

// The hint comes from the address and is often wrong (a live stream's "/" gives MP3): the
// bytes decide, and a wrong hint changes nothing.
TEST(FormatRecognitionTest, WrongHintsChangeNothing) {
    for (const char* name :
         {"cbr128.mp3", "adts-lc.aac", "pcm16.wav", "sowt.aifc", "aac.caf", "aac.m4a"}) {
        const std::vector<uint8_t> file = readFixture(name);
        const Recorded right = parseAll(file, hintFor(name));
        for (AudioFileTypeID wrong : {kAudioFileMP3Type, kAudioFileAAC_ADTSType, kAudioFileWAVEType,
                                      kAudioFileCAFType, kAudioFileM4AType}) {
            const Recorded r = parseAll(file, wrong);
            EXPECT_EQ(r.notified, right.notified) << name << " as " << fourCCText(wrong);
            EXPECT_EQ(r.packets.size(), right.packets.size())
                << name << " as " << fourCCText(wrong);
            EXPECT_EQ(r.pcm.size(), right.pcm.size()) << name << " as " << fourCCText(wrong);
        }
    }
}

}  // namespace
