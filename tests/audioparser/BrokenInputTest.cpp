// Broken and hostile input: junk, corruption and truncation are survived; garbage and
// streams that cannot be played end in a status; sizes claimed by headers are never
// allocated or trusted beyond the bytes that come.

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "tests/audioparser/ParserHarness.h"

using namespace audio;
using namespace parsertest;

namespace {

std::vector<uint8_t> randomBytes(size_t count, uint32_t seed) {
    std::mt19937 engine(seed);
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes) b = uint8_t(engine());
    return bytes;
}

void appendBE32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}
void appendLE32(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(uint8_t(v >> shift));
}
void appendText(std::vector<uint8_t>& out, const char* text) {
    out.insert(out.end(), text, text + std::strlen(text));
}

std::vector<std::vector<uint8_t>> packetBytes(const Recorded& r) {
    std::vector<std::vector<uint8_t>> out;
    for (const Packet& p : r.packets) out.push_back(p.bytes);
    return out;
}

// Junk ahead of the first frame is passed over, and no frame is made up from it.
TEST(BrokenInputTest, JunkBeforeTheFirstFrame) {
    for (auto [broken, clean, junk] : {std::tuple{"junk-before.mp3", "cbr128-noxing.mp3", 3000},
                                       std::tuple{"junk-before.aac", "adts-lc.aac", 3000}}) {
        SCOPED_TRACE(broken);
        OSStatus status = -1;
        const Recorded r = parseAll(readFixture(broken), hintFor(broken), &status);
        EXPECT_EQ(status, noErr);
        EXPECT_EQ(packetBytes(r), packetBytes(parseAll(readFixture(clean), hintFor(clean))));
        EXPECT_EQ(r.dataOffset, junk);
    }
}

// A corrupt run in the middle costs the frames it covers and nothing else.
TEST(BrokenInputTest, CorruptFrameInTheMiddle) {
    OSStatus status = -1;
    const auto got =
        packetBytes(parseAll(readFixture("corrupt-middle.mp3"), kAudioFileMP3Type, &status));
    const auto clean = packetBytes(parseAll(readFixture("cbr128-noxing.mp3"), kAudioFileMP3Type));
    ASSERT_EQ(status, noErr);
    size_t prefix = 0;
    while (prefix < got.size() && got[prefix] == clean[prefix]) ++prefix;
    size_t suffix = 0;
    while (suffix < got.size() - prefix &&
           got[got.size() - 1 - suffix] == clean[clean.size() - 1 - suffix]) {
        ++suffix;
    }
    // 2000 bytes of garbage span at most 6 frames of 418 bytes.
    EXPECT_GE(prefix + suffix, clean.size() - 6);
    EXPECT_LE(got.size(), clean.size());
    EXPECT_LE(got.size() - prefix - suffix, 1u) << "frames made up from the garbage";
    EXPECT_GT(prefix, clean.size() / 3);
    EXPECT_GT(suffix, clean.size() / 3);
}

// A file cut short gives every whole packet before the cut.
TEST(BrokenInputTest, TruncatedFiles) {
    for (auto [name, original] :
         {std::pair{"truncated.mp3", "cbr128.mp3"}, std::pair{"truncated.m4a", "aac.m4a"}}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> file = readFixture(name);
        std::vector<ProbePacket> whole;
        for (const ProbePacket& p : probePackets(original)) {
            if (p.position + p.size <= file.size()) whole.push_back(p);
        }
        OSStatus status = -1;
        const Recorded r = parseAll(file, hintFor(name), &status);
        EXPECT_EQ(status, noErr);
        ASSERT_EQ(r.packets.size(), whole.size());
        EXPECT_EQ(r.packets.back().bytes.size(), whole.back().size);
    }
}

// Random bytes and text are rejected with a status, whatever the hint, however they come.
TEST(BrokenInputTest, GarbageIsRejected) {
    std::vector<uint8_t> html;
    while (html.size() < 100000)
        appendText(html, "<html><body><p>404 Not Found</p></body></html>\n");
    for (const auto& bytes : {randomBytes(300000, 7), html}) {
        for (AudioFileTypeID hint : {kAudioFileMP3Type, kAudioFileAAC_ADTSType, kAudioFileWAVEType,
                                     kAudioFileM4AType, kAudioFileCAFType}) {
            ParserHarness parser(hint);
            const OSStatus status =
                parser.pushChunked(bytes, 0, bytes.size(), [] { return size_t(2048); });
            EXPECT_EQ(status, kAudioFileStreamError_UnsupportedFileType) << fourCCText(hint);
            EXPECT_TRUE(parser.recorded().notified.empty());
            // The failure sticks.
            EXPECT_EQ(parser.push(bytes.data(), 10), kAudioFileStreamError_UnsupportedFileType);
        }
    }
}

// An ID3 tag is skipped as it streams by, whatever size it claims: one claiming 256 MB is not
// allocated, and the frames after a real 3 MB tag play.
TEST(BrokenInputTest, LargeId3TagsStreamBy) {
    const std::vector<uint8_t> frames = readFixture("cbr128-noxing.mp3");
    std::vector<uint8_t> file = {'I', 'D', '3', 4, 0, 0};
    const uint32_t tagBytes = 3u << 20;
    for (int shift = 21; shift >= 0; shift -= 7)
        file.push_back(uint8_t((tagBytes >> shift) & 0x7F));
    const std::vector<uint8_t> filler = randomBytes(tagBytes, 9);
    file.insert(file.end(), filler.begin(), filler.end());
    file.insert(file.end(), frames.begin(), frames.end());
    ParserHarness parser;
    ASSERT_EQ(parser.pushChunked(file, 0, file.size(), [] { return size_t(2048); }), noErr);
    EXPECT_EQ(packetBytes(parser.recorded()), packetBytes(parseAll(frames, kAudioFileMP3Type)));
    EXPECT_EQ(parser.recorded().dataOffset, int64_t(10 + tagBytes));

    std::vector<uint8_t> huge = {'I', 'D', '3', 4, 0, 0, 0x7F, 0x7F, 0x7F, 0x7F};
    const std::vector<uint8_t> more = randomBytes(1 << 20, 10);
    huge.insert(huge.end(), more.begin(), more.end());
    ParserHarness hugeTag;
    EXPECT_EQ(hugeTag.pushChunked(huge, 0, huge.size(), [] { return size_t(65536); }), noErr);
    EXPECT_TRUE(hugeTag.recorded().notified.empty());
}

std::vector<uint8_t> wavHeader(uint32_t riffSize) {
    std::vector<uint8_t> out;
    appendText(out, "RIFF");
    appendLE32(out, riffSize);
    appendText(out, "WAVEfmt ");
    appendLE32(out, 16);
    const uint8_t fmt[16] = {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0};
    out.insert(out.end(), fmt, fmt + 16);
    return out;
}

// A data chunk claiming 4 GB plays the bytes that come; a chunk of another kind claiming
// 4 GB is skipped as it goes by.
TEST(BrokenInputTest, ChunkSizesAreBoundedByTheBytesThatCome) {
    const std::vector<uint8_t> audio = randomBytes(100003, 11);
    std::vector<uint8_t> file = wavHeader(0xFFFFFFF0);
    appendText(file, "data");
    appendLE32(file, 0xFFFFFFFE);
    file.insert(file.end(), audio.begin(), audio.end());
    OSStatus status = -1;
    Recorded r = parseAll(file, kAudioFileWAVEType, &status);
    EXPECT_EQ(status, noErr);
    EXPECT_EQ(r.byteCount, 0xFFFFFFFEu);
    EXPECT_EQ(r.pcm, std::vector<uint8_t>(audio.begin(), audio.end() - 3));  // whole frames

    std::vector<uint8_t> skipped = wavHeader(0xFFFFFFF0);
    appendText(skipped, "LIST");
    appendLE32(skipped, 0xFFFFFFF0);
    skipped.insert(skipped.end(), audio.begin(), audio.end());
    r = parseAll(skipped, kAudioFileWAVEType, &status);
    EXPECT_EQ(status, noErr);
    EXPECT_TRUE(r.notified.empty());

    // An MP4 index claiming 4 GB is refused at once, not collected.
    std::vector<uint8_t> mp4;
    appendBE32(mp4, 16);
    appendText(mp4, "ftypM4A ");
    appendBE32(mp4, 0);
    appendBE32(mp4, 0xFFFFFFF0);
    appendText(mp4, "moov");
    EXPECT_EQ(parseAll(mp4, kAudioFileM4AType, &status).notified.size(), 0u);
    EXPECT_EQ(status, kAudioFileStreamError_InvalidFile);
}

// ADTS headers whose length leaves no room for a payload are junk, not frames: the scanner
// moves on instead of looping on them.
TEST(BrokenInputTest, TinyAdtsLengthsAreJunk) {
    std::vector<uint8_t> bytes;
    for (uint32_t length : {0u, 1u, 6u, 7u}) {
        for (int i = 0; i < 5000; ++i) {
            const uint8_t header[7] = {0xFF,
                                       0xF1,
                                       0x50,
                                       uint8_t(0x80 | (length >> 11)),
                                       uint8_t(length >> 3),
                                       uint8_t((length & 7) << 5 | 0x1F),
                                       0xFC};
            bytes.insert(bytes.end(), header, header + 7);
        }
    }
    OSStatus status = -1;
    const Recorded r = parseAll(bytes, kAudioFileAAC_ADTSType, &status);
    EXPECT_EQ(status, kAudioFileStreamError_UnsupportedFileType);
    EXPECT_TRUE(r.packets.empty());
}

// A CAF whose packet table comes after the data cannot be streamed, and says so.
TEST(BrokenInputTest, PacketTableAfterTheDataIsNotOptimized) {
    OSStatus status = -1;
    const Recorded r = parseAll(readFixture("alac-pakt-at-end.caf"), kAudioFileCAFType, &status);
    EXPECT_EQ(status, kAudioFileStreamError_NotOptimized);
    EXPECT_TRUE(r.packets.empty());
}

// A packet table that counts more packets than it has bytes for is refused.
TEST(BrokenInputTest, CafPacketTableCountsAreChecked) {
    std::vector<uint8_t> file = readFixture("aac.caf");
    const auto pakt = std::search(file.begin(), file.end(), "pakt", "pakt" + 4) - file.begin();
    ASSERT_LT(size_t(pakt), file.size());
    for (int i = 0; i < 8; ++i) file[size_t(pakt) + 12 + i] = 0x7F;  // numberPackets
    OSStatus status = -1;
    parseAll(file, kAudioFileCAFType, &status);
    EXPECT_EQ(status, kAudioFileStreamError_InvalidFile);
}

// Tags between frames and at the end are passed over: an ID3v2 tag in the middle (as where
// two files were joined) and an APE tag after the last frame cost no frame, and the frames
// copied into them are not taken for audio.
TEST(BrokenInputTest, TagsBetweenAndAfterFrames) {
    const std::vector<uint8_t> clean = readFixture("cbr128-noxing.mp3");
    const std::vector<ProbePacket> probe = probePackets("cbr128-noxing.mp3");
    const size_t middle = size_t(probe[probe.size() / 2].position);
    const auto framesInTags = clean.begin() + int64_t(probe[5].position);  // four whole frames
    std::vector<uint8_t> file(clean.begin(), clean.begin() + int64_t(middle));
    const uint8_t id3[10] = {'I', 'D', '3', 3, 0, 0, 0, 0, 0x10, 0x00};  // 2048 bytes follow
    file.insert(file.end(), id3, id3 + 10);
    file.insert(file.end(), framesInTags, framesInTags + 2048);
    file.insert(file.end(), clean.begin() + int64_t(middle), clean.end());
    auto apeHeader = [](std::vector<uint8_t>& out, uint32_t flags) {
        appendText(out, "APETAGEX");
        appendLE32(out, 2000);
        appendLE32(out, 2048 + 32);  // items and footer
        appendLE32(out, 1);
        appendLE32(out, flags);
        out.insert(out.end(), 8, 0);
    };
    apeHeader(file, 0xA0000000);  // the header
    file.insert(file.end(), framesInTags, framesInTags + 2048);
    apeHeader(file, 0x80000000);  // the footer
    for (size_t chunk : {size_t(1) << 30, size_t(333)}) {
        ParserHarness parser;
        ASSERT_EQ(parser.pushChunked(file, 0, file.size(), [chunk] { return chunk; }), noErr);
        EXPECT_EQ(packetBytes(parser.recorded()), packetBytes(parseAll(clean, kAudioFileMP3Type)));
    }
}

}  // namespace
