// Seeks: exact offsets where the stream tells them, estimates (flagged) where it does not,
// and packets resuming at the right place when the reader pushes bytes from the new offset
// with the discontinuity flag, as the streaming engine does after a seek.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "tests/audioparser/ParserHarness.h"

using namespace audio;
using namespace parsertest;

namespace {

std::function<size_t()> fixedChunks(size_t size) {
    return [size] { return size; };
}

// Index of the reference packet equal to `packet`, searching from `from`, or -1.
int64_t findPacket(const std::vector<Packet>& reference, const Packet& packet, size_t from = 0) {
    for (size_t i = from; i < reference.size(); ++i) {
        if (reference[i].bytes == packet.bytes) return int64_t(i);
    }
    return -1;
}

struct ExactCase {
    const char* name;
    int64_t packet;
};

class ExactSeekTest : public ::testing::TestWithParam<ExactCase> {};

// After the whole stream went by, any packet's offset is exact, and pushing from it resumes
// with exactly that packet (for PCM: that frame).
TEST_P(ExactSeekTest, ResumesAtThePacket) {
    const ExactCase c = GetParam();
    const std::vector<uint8_t> file = readFixture(c.name);
    ParserHarness parser(hintFor(c.name));
    ASSERT_EQ(parser.pushChunked(file, 0, file.size(), fixedChunks(2048)), noErr);
    const Recorded reference = parser.recorded();
    const int64_t dataOffset = *reference.dataOffset;

    int64_t offset = -1;
    bool estimated = true;
    ASSERT_EQ(parser.seek(c.packet, offset, estimated), noErr);
    EXPECT_FALSE(estimated);
    const bool pcm = reference.format.mFormatID == kAudioFormatLinearPCM;
    if (pcm) {
        EXPECT_EQ(offset, c.packet * int64_t(reference.format.mBytesPerFrame));
    } else {
        EXPECT_EQ(uint64_t(dataOffset + offset), probePackets(c.name)[size_t(c.packet)].position);
    }

    parser.recorded().packets.clear();
    parser.recorded().pcm.clear();
    // An odd chunk size, so that frames straddle pushes after the seek too.
    ASSERT_EQ(parser.pushChunked(file, size_t(dataOffset + offset), file.size(), fixedChunks(1999),
                                 kAudioFileStreamParseFlag_Discontinuity),
              noErr);
    const Recorded& resumed = parser.recorded();
    if (pcm) {
        const size_t at = size_t(offset);
        ASSERT_EQ(resumed.pcm.size(), reference.pcm.size() - at);
        EXPECT_TRUE(std::equal(resumed.pcm.begin(), resumed.pcm.end(),
                               reference.pcm.begin() + int64_t(at)));
        EXPECT_FALSE(resumed.pcmCallbackNotWholeFrames);
        return;
    }
    ASSERT_EQ(resumed.packets.size(), reference.packets.size() - size_t(c.packet));
    for (size_t i = 0; i < resumed.packets.size(); ++i) {
        ASSERT_EQ(resumed.packets[i].bytes, reference.packets[size_t(c.packet) + i].bytes) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ExactSeekTest,
                         ::testing::Values(ExactCase{"cbr128.mp3", 500}, ExactCase{"vbr.mp3", 777},
                                           ExactCase{"adts-lc.aac", 300}, ExactCase{"aac.m4a", 431},
                                           ExactCase{"alac.m4a", 50}, ExactCase{"aac.caf", 600},
                                           ExactCase{"alac.caf", 1}, ExactCase{"pcm16.wav", 100000},
                                           ExactCase{"pcm24.wav", 54321},
                                           ExactCase{"sowt.aifc", 77777},
                                           ExactCase{"pcm16.caf", 12345}),
                         [](const auto& info) { return std::to_string(info.index); });

struct EstimateCase {
    const char* name;
    size_t bytesSeenFirst;  // how much of the stream went by before the seek
    int64_t packet;
};

class EstimatedSeekTest : public ::testing::TestWithParam<EstimateCase> {};

// Packets not seen yet: the offset is an estimate and says so; pushing from it resumes at a
// frame within 2 % of the duration of the one asked for.
TEST_P(EstimatedSeekTest, ResumesNearThePacket) {
    const EstimateCase c = GetParam();
    const std::vector<uint8_t> file = readFixture(c.name);
    const Recorded reference = parseAll(file, kAudioFileMP3Type);
    ParserHarness parser;
    ASSERT_EQ(parser.pushChunked(file, 0, c.bytesSeenFirst, fixedChunks(2048)), noErr);
    int64_t offset = -1;
    bool estimated = false;
    ASSERT_EQ(parser.seek(c.packet, offset, estimated), noErr);
    EXPECT_TRUE(estimated);
    parser.recorded().packets.clear();
    const size_t from = size_t(*reference.dataOffset + offset);
    ASSERT_EQ(parser.pushChunked(file, from, file.size(), fixedChunks(2048),
                                 kAudioFileStreamParseFlag_Discontinuity),
              noErr);
    const Recorded& resumed = parser.recorded();
    ASSERT_FALSE(resumed.packets.empty());
    const int64_t landed = findPacket(reference.packets, resumed.packets.front());
    ASSERT_GE(landed, 0) << "the first packet after the seek is not a frame of the stream";
    EXPECT_LE(std::abs(landed - c.packet), int64_t(reference.packets.size() / 50));
    // From there on, the stream plays on frame by frame.
    ASSERT_EQ(resumed.packets.size(), reference.packets.size() - size_t(landed));
}

INSTANTIATE_TEST_SUITE_P(Mp3, EstimatedSeekTest,
                         ::testing::Values(EstimateCase{"vbr.mp3", 10000, 800},     // Xing table
                                           EstimateCase{"cbr128.mp3", 10000, 600},  // bit rate
                                           EstimateCase{"cbr128-noxing.mp3", 100000, 700}),
                         [](const auto& info) { return std::to_string(info.index); });

// A reader may ignore an estimate and push from an offset of its own (the engine's
// proportional offset): frames are found again there. (VBR without a table is estimated from
// the average frame so far, which can be far off; such a reader never relies on it.)
TEST(SeekTest, ResyncAtAnyOffsetAfterAnEstimate) {
    const std::vector<uint8_t> file = readFixture("vbr.mp3");
    const Recorded reference = parseAll(file, kAudioFileMP3Type);
    for (size_t from : {size_t(123457), size_t(400001), file.size() - 5000}) {
        ParserHarness parser;
        ASSERT_EQ(parser.pushChunked(file, 0, 4096, fixedChunks(4096)), noErr);
        int64_t offset = 0;
        bool estimated = false;
        ASSERT_EQ(parser.seek(1000, offset, estimated), noErr);
        parser.recorded().packets.clear();
        ASSERT_EQ(parser.pushChunked(file, from, file.size(), fixedChunks(2048),
                                     kAudioFileStreamParseFlag_Discontinuity),
                  noErr);
        const auto& packets = parser.recorded().packets;
        ASSERT_FALSE(packets.empty());
        const int64_t landed = findPacket(reference.packets, packets.front());
        ASSERT_GE(landed, 0);
        EXPECT_EQ(packets.size(), reference.packets.size() - size_t(landed));
    }
}

// Past the end: indexed formats give the end of the data, exactly; a negative packet and a
// stream whose format is not known yet give a status.
TEST(SeekTest, BoundsAndEarlySeeks) {
    for (const char* name : {"aac.m4a", "pcm16.wav", "aac.caf"}) {
        ParserHarness parser(hintFor(name));
        const std::vector<uint8_t> file = readFixture(name);
        ASSERT_EQ(parser.push(file.data(), 65536), noErr);
        int64_t offset = 0;
        bool estimated = true;
        ASSERT_EQ(parser.seek(int64_t(1) << 40, offset, estimated), noErr) << name;
        EXPECT_FALSE(estimated);
        EXPECT_EQ(uint64_t(offset), *parser.recorded().byteCount) << name;
        EXPECT_EQ(parser.seek(-1, offset, estimated), kAudioFileStreamError_InvalidPacketOffset);
    }
    ParserHarness early;
    const std::vector<uint8_t> file = readFixture("cbr128.mp3");
    ASSERT_EQ(early.push(file.data(), 20), noErr);
    int64_t offset = 0;
    bool estimated = false;
    EXPECT_EQ(early.seek(10, offset, estimated), kAudioFileStreamError_DataUnavailable);
}

// An exact seek back and a second pass keep the frame index right: a later seek to a frame
// seen only in the second pass is still exact.
TEST(SeekTest, IndexGrowsAcrossSeeks) {
    const std::vector<uint8_t> file = readFixture("cbr128-noxing.mp3");
    const std::vector<ProbePacket> probe = probePackets("cbr128-noxing.mp3");
    ParserHarness parser;
    ASSERT_EQ(parser.pushChunked(file, 0, file.size() / 2, fixedChunks(2048)), noErr);
    int64_t offset = 0;
    bool estimated = false;
    ASSERT_EQ(parser.seek(10, offset, estimated), noErr);
    ASSERT_FALSE(estimated);
    ASSERT_EQ(parser.pushChunked(file, size_t(offset), file.size(), fixedChunks(2048),
                                 kAudioFileStreamParseFlag_Discontinuity),
              noErr);
    ASSERT_EQ(parser.seek(int64_t(probe.size()) - 3, offset, estimated), noErr);
    EXPECT_FALSE(estimated);
    EXPECT_EQ(uint64_t(offset), probe[probe.size() - 3].position);
}

// A reader that can never reposition says so: the frames seen are not indexed (a live stream
// would grow the index for hours), what was indexed is dropped, and a seek is only estimated.
// Set before any byte, the choice reaches the parser picked later; the default indexes.
TEST(SeekTest, NoIndexForAReaderThatCannotReposition) {
    const std::vector<uint8_t> file = readFixture("cbr128-noxing.mp3");
    for (const bool setEarly : {true, false}) {
        SCOPED_TRACE(setEarly);
        ParserHarness parser;
        const uint32_t no = 0;
        uint32_t value = 1;
        uint32_t size = sizeof value;
        bool writable = false;
        EXPECT_EQ(AudioFileStreamGetPropertyInfo(
                      parser.stream(), kAudioFileStreamProperty_SeekIndexWanted, &size, &writable),
                  noErr);
        EXPECT_TRUE(writable);
        if (setEarly) {
            ASSERT_EQ(
                AudioFileStreamSetProperty(
                    parser.stream(), kAudioFileStreamProperty_SeekIndexWanted, sizeof no, &no),
                noErr);
        }
        ASSERT_EQ(parser.pushChunked(file, 0, file.size() / 2, fixedChunks(2048)), noErr);
        int64_t offset = 0;
        bool estimated = false;
        ASSERT_EQ(parser.seek(10, offset, estimated), noErr);
        EXPECT_EQ(estimated, setEarly);
        if (!setEarly) {
            ASSERT_EQ(
                AudioFileStreamSetProperty(
                    parser.stream(), kAudioFileStreamProperty_SeekIndexWanted, sizeof no, &no),
                noErr);
            ASSERT_EQ(parser.seek(10, offset, estimated), noErr);
            EXPECT_TRUE(estimated);
        }
        ASSERT_EQ(AudioFileStreamGetProperty(
                      parser.stream(), kAudioFileStreamProperty_SeekIndexWanted, &size, &value),
                  noErr);
        EXPECT_EQ(value, 0u);
        EXPECT_EQ(AudioFileStreamSetProperty(parser.stream(),
                                             kAudioFileStreamProperty_SeekIndexWanted, 2, &no),
                  kAudioFileStreamError_BadPropertySize);
        EXPECT_EQ(AudioFileStreamSetProperty(parser.stream(), kAudioFileStreamProperty_BitRate,
                                             sizeof no, &no),
                  kAudioFileStreamError_UnsupportedProperty);
    }
}

// An MP4 whose index follows its data asks a reader that can reposition for the index first
// and then for the data: each byte of the data is read once, and the packets are the file's.
TEST(SeekTest, IndexAfterTheDataIsFetchedFirst) {
    const std::vector<uint8_t> file = readFixture("aac-moov-at-end.m4a");
    const std::vector<ProbePacket> probe = probePackets("aac-moov-at-end.m4a");
    ASSERT_FALSE(probe.empty());
    ParserHarness parser(kAudioFileM4AType);
    size_t position = 0;
    uint32_t flags = 0;
    uint64_t pushed = 0;
    std::vector<int64_t> jumps;
    while (position < file.size()) {
        const size_t n = std::min<size_t>(2048, file.size() - position);
        ASSERT_EQ(parser.push(file.data() + position, n, flags), noErr) << position;
        flags = 0;
        position += n;
        pushed += n;
        const auto& notified = parser.recorded().notified;
        const size_t requests = size_t(std::count(notified.begin(), notified.end(),
                                                  kAudioFileStreamProperty_RequestedByteOffset));
        if (requests > jumps.size()) {
            int64_t offset = 0;
            uint32_t size = sizeof offset;
            ASSERT_EQ(
                AudioFileStreamGetProperty(
                    parser.stream(), kAudioFileStreamProperty_RequestedByteOffset, &size, &offset),
                noErr);
            jumps.push_back(offset);
            position = size_t(offset);
            flags = kAudioFileStreamParseFlag_Discontinuity;
        }
    }
    const uint64_t dataStart = probe.front().position;
    const uint64_t dataEnd = probe.back().position + probe.back().size;
    ASSERT_EQ(jumps.size(), 2u);
    EXPECT_GE(uint64_t(jumps[0]), dataEnd);
    EXPECT_EQ(uint64_t(jumps[1]), dataStart);
    // The data once, and no more than a read's worth before the first jump; this reader then
    // reads on to the end of the file, the index a second time.
    const uint64_t indexBytes = file.size() - uint64_t(jumps[0]);
    EXPECT_LE(pushed, file.size() + indexBytes + 2048);
    const auto& packets = parser.recorded().packets;
    ASSERT_EQ(packets.size(), probe.size());
    for (size_t i = 0; i < probe.size(); ++i) {
        ASSERT_EQ(packets[i].bytes.size(), probe[i].size) << i;
        ASSERT_TRUE(std::equal(packets[i].bytes.begin(), packets[i].bytes.end(),
                               file.begin() + int64_t(probe[i].position)))
            << i;
    }
}

// Bytes of unknown origin cannot be placed in an MP4 sample table.
TEST(SeekTest, UnplaceableDiscontinuityInMp4) {
    const std::vector<uint8_t> file = readFixture("aac.m4a");
    ParserHarness parser(kAudioFileM4AType);
    ASSERT_EQ(parser.push(file.data(), 100000), noErr);
    ASSERT_FALSE(parser.recorded().packets.empty());
    EXPECT_EQ(parser.push(file.data() + 200000, 4096, kAudioFileStreamParseFlag_Discontinuity),
              kAudioFileStreamError_DiscontinuityCantRecover);
}

}  // namespace
