// Inputs the fuzz target found, replayed whole: their numbers are range-checked before any
// arithmetic, so a crafted header gives no absurd bit rate and no seek a negative offset. Each
// file starts with the fuzz target's five control bytes (the hint, then its random seed).

#include <gtest/gtest.h>

#include "ParserHarness.h"

using namespace audio;
using namespace parsertest;

namespace {

constexpr AudioFileTypeID kFuzzHints[] = {
    kAudioFileMP3Type, kAudioFileWAVEType,  kAudioFileAIFCType, kAudioFileAIFFType,
    kAudioFileM4AType, kAudioFileMPEG4Type, kAudioFileCAFType,  kAudioFileAAC_ADTSType};

// Pushes the stream part of a seed in one piece; the harness stays open for seeks.
void pushSeed(ParserHarness& parser, const std::vector<uint8_t>& seed) {
    ASSERT_GT(seed.size(), 5u);
    parser.push(seed.data() + 5, seed.size() - 5);
}

std::vector<uint8_t> seed(const std::string& name) {
    return readFileBytes(std::string(OSTRA_FUZZ_SEEDS_DIR) + "/" + name);
}

}  // namespace

// An Info header that claims one frame and four gigabytes: the counts cannot both be true of
// a layer III stream, so they are not used, and the bit rate stays the frame's own.
TEST(FuzzFindings, XingCountsOutOfRangeAreIgnored) {
    const auto bytes = seed("xing-bitrate-overflow");
    ParserHarness parser(kFuzzHints[bytes[0] % 8]);
    pushSeed(parser, bytes);
    uint32_t bitRate = 0;
    uint32_t size = sizeof bitRate;
    if (AudioFileStreamGetProperty(parser.stream(), kAudioFileStreamProperty_BitRate, &size,
                                   &bitRate) == noErr) {
        EXPECT_GE(bitRate, 8000u);
        EXPECT_LE(bitRate, 320000u);
    }
    const Recorded& r = parser.recorded();
    if (r.byteCount) {
        EXPECT_LT(*r.byteCount, uint64_t(UINT32_MAX));
    }
}

// A CAF file with an empty packet table and a data chunk of about 2^48 bytes: a seek never
// succeeds with a negative offset.
TEST(FuzzFindings, CafSeekNeverGivesANegativeOffset) {
    const auto bytes = seed("caf-empty-packet-table-negative-seek");
    ParserHarness parser(kFuzzHints[bytes[0] % 8]);
    pushSeed(parser, bytes);
    for (int64_t packet : {int64_t(-2), int64_t(0), int64_t(1), int64_t(1000), int64_t(99997)}) {
        int64_t offset = 0;
        bool estimated = false;
        if (parser.seek(packet, offset, estimated) == noErr) {
            EXPECT_GE(offset, 0) << "packet " << packet;
        }
    }
}
