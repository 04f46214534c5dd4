// The bytes of a file pushed in pieces of any size, from one byte to 64 KB, give exactly what
// the whole file pushed at once gives.

#include <gtest/gtest.h>

#include <random>

#include "tests/audioparser/ParserHarness.h"

using namespace audio;
using namespace parsertest;

namespace {

void expectSameOutput(const Recorded& whole, const Recorded& chunked) {
    EXPECT_EQ(chunked.notified, whole.notified);
    EXPECT_EQ(chunked.dataOffset, whole.dataOffset);
    EXPECT_EQ(chunked.byteCount, whole.byteCount);
    EXPECT_EQ(chunked.cookie, whole.cookie);
    EXPECT_EQ(chunked.pcm, whole.pcm);
    EXPECT_FALSE(chunked.pcmCallbackNotWholeFrames);
    EXPECT_FALSE(chunked.descriptionOutOfRange);
    ASSERT_EQ(chunked.packets.size(), whole.packets.size());
    for (size_t i = 0; i < whole.packets.size(); ++i) {
        ASSERT_EQ(chunked.packets[i].bytes, whole.packets[i].bytes) << "packet " << i;
    }
}

// Mostly small pieces, so that headers and packets straddle pushes, with large ones between.
std::function<size_t()> randomChunks(uint32_t seed) {
    auto engine = std::make_shared<std::mt19937>(seed);
    return [engine] {
        const uint32_t kind = (*engine)() % 10;
        const uint32_t limit = kind < 5 ? 16 : kind < 8 ? 4096 : 65536;
        return size_t((*engine)() % limit + 1);
    };
}

class ChunkingTest : public ::testing::TestWithParam<const char*> {};

TEST_P(ChunkingTest, RandomChunksGiveTheSamePacketsAsOnePush) {
    const std::string name = GetParam();
    const std::vector<uint8_t> file = readFixture(name);
    OSStatus status = -1;
    const Recorded whole = parseAll(file, hintFor(name), &status);
    ASSERT_EQ(status, noErr);
    ASSERT_FALSE(whole.packets.empty() && whole.pcm.empty());
    for (uint32_t seed : {1u, 2u, 3u}) {
        ParserHarness parser(hintFor(name));
        ASSERT_EQ(parser.pushChunked(file, 0, file.size(), randomChunks(seed)), noErr);
        SCOPED_TRACE("seed " + std::to_string(seed));
        expectSameOutput(whole, parser.recorded());
    }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, ChunkingTest,
                         ::testing::Values("cbr128.mp3", "vbr.mp3", "id3-picture.mp3",
                                           "mono8k-mpeg25.mp3", "junk-before.mp3", "adts-lc.aac",
                                           "pcm24.wav", "pcm16-unknown-size.wav", "sowt.aifc",
                                           "aac.caf", "alac.caf", "aac.m4a", "alac.m4a"));

// One byte per push: every header and packet is put together in the stream's byte queue.
TEST(ChunkingTest, OneBytePushes) {
    for (const char* name : {"mono8k-mpeg25.mp3", "adts-lc-mono22k.aac", "aac.m4a", "aac.caf"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> file = readFixture(name);
        const Recorded whole = parseAll(file, hintFor(name));
        ParserHarness parser(hintFor(name));
        ASSERT_EQ(parser.pushChunked(file, 0, file.size(), [] { return size_t(1); }), noErr);
        expectSameOutput(whole, parser.recorded());
    }
}

}  // namespace
