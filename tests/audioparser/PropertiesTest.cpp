// What a reader sees of the properties: the order of notifications, the sizes and statuses
// of reads, and the calls a reader makes from inside the callbacks.

#include <gtest/gtest.h>

#include "tests/audioparser/ParserHarness.h"

using namespace audio;
using namespace parsertest;

namespace {

using Ids = std::vector<uint32_t>;

// The listener hears the description first and 'redy' last, only what the stream has.
TEST(PropertiesTest, NotificationOrder) {
    const uint32_t dfmt = kAudioFileStreamProperty_DataFormat,
                   flst = kAudioFileStreamProperty_FormatList,
                   mgic = kAudioFileStreamProperty_MagicCookieData,
                   doff = kAudioFileStreamProperty_DataOffset,
                   bcnt = kAudioFileStreamProperty_AudioDataByteCount,
                   pcnt = kAudioFileStreamProperty_AudioDataPacketCount,
                   redy = kAudioFileStreamProperty_ReadyToProducePackets;
    EXPECT_EQ(parseAll(readFixture("cbr128.mp3"), kAudioFileMP3Type).notified,
              (Ids{dfmt, flst, doff, bcnt, pcnt, redy}));
    // A live stream tells no length.
    EXPECT_EQ(parseAll(readFixture("cbr128-noxing.mp3"), kAudioFileMP3Type).notified,
              (Ids{dfmt, flst, doff, redy}));
    EXPECT_EQ(parseAll(readFixture("adts-lc.aac"), kAudioFileMP3Type).notified,
              (Ids{dfmt, flst, mgic, doff, redy}));
    EXPECT_EQ(parseAll(readFixture("aac.m4a"), kAudioFileM4AType).notified,
              (Ids{dfmt, flst, mgic, doff, bcnt, pcnt, redy}));
    EXPECT_EQ(parseAll(readFixture("pcm16-unknown-size.wav"), kAudioFileWAVEType).notified,
              (Ids{dfmt, flst, doff, redy}));
}

// 'redy' comes in the same push as the first packets, so that a reader that raises its own
// discontinuity flag on 'redy' (as the streaming engine does) sees it cleared by them at once.
// Such a reader, pushing 2048 bytes at a time, gets exactly what a plain reader gets.
struct EngineLikeReader {
    AudioFileStreamID stream = nullptr;
    bool discontinuous = false;
    std::vector<std::vector<uint8_t>> packets;
    std::vector<uint8_t> pcm;

    static void onProperty(void* self, AudioFileStreamID, AudioFileStreamPropertyID id, uint32_t*) {
        if (id == kAudioFileStreamProperty_ReadyToProducePackets) {
            static_cast<EngineLikeReader*>(self)->discontinuous = true;
        }
    }
    static void onPackets(void* self, uint32_t bytes, uint32_t count, const void* data,
                          AudioStreamPacketDescription* descriptions) {
        auto* reader = static_cast<EngineLikeReader*>(self);
        reader->discontinuous = false;
        const auto* base = static_cast<const uint8_t*>(data);
        if (!descriptions) {
            reader->pcm.insert(reader->pcm.end(), base, base + bytes);
            return;
        }
        for (uint32_t i = 0; i < count; ++i) {
            const auto& d = descriptions[i];
            reader->packets.emplace_back(base + d.mStartOffset,
                                         base + d.mStartOffset + d.mDataByteSize);
        }
    }
};

TEST(PropertiesTest, ReaderThatRaisesDiscontinuityOnReadyLosesNothing) {
    for (const char* name : {"cbr128.mp3", "adts-lc.aac", "pcm24.wav", "aac.m4a", "alac.caf"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> file = readFixture(name);
        const Recorded plain = parseAll(file, hintFor(name));
        EngineLikeReader reader;
        ASSERT_EQ(AudioFileStreamOpen(&reader, EngineLikeReader::onProperty,
                                      EngineLikeReader::onPackets, hintFor(name), &reader.stream),
                  noErr);
        for (size_t at = 0; at < file.size(); at += 2048) {
            const uint32_t flags =
                reader.discontinuous ? kAudioFileStreamParseFlag_Discontinuity : 0;
            ASSERT_EQ(AudioFileStreamParseBytes(reader.stream,
                                                uint32_t(std::min<size_t>(2048, file.size() - at)),
                                                file.data() + at, flags),
                      noErr);
        }
        AudioFileStreamClose(reader.stream);
        EXPECT_EQ(reader.pcm, plain.pcm);
        ASSERT_EQ(reader.packets.size(), plain.packets.size());
        for (size_t i = 0; i < plain.packets.size(); ++i)
            ASSERT_EQ(reader.packets[i], plain.packets[i].bytes);
    }
}

// The sizes the engine reads with, and the statuses of reads that cannot be answered.
TEST(PropertiesTest, ReadsAndTheirStatuses) {
    ParserHarness parser;
    AudioFileStreamID s = parser.stream();
    uint32_t size = 40;
    AudioStreamBasicDescription format{};
    EXPECT_EQ(AudioFileStreamGetProperty(s, kAudioFileStreamProperty_DataFormat, &size, &format),
              kAudioFileStreamError_ValueUnknown);
    const std::vector<uint8_t> file = readFixture("cbr128-noxing.mp3");
    ASSERT_EQ(parser.push(file.data(), uint32_t(file.size())), noErr);

    bool writable = true;
    for (auto [id, expected] : {std::pair{kAudioFileStreamProperty_DataOffset, 8u},
                                std::pair{kAudioFileStreamProperty_DataFormat, 40u},
                                std::pair{kAudioFileStreamProperty_FormatList, 44u},
                                std::pair{kAudioFileStreamProperty_PacketSizeUpperBound, 4u},
                                std::pair{kAudioFileStreamProperty_MaximumPacketSize, 4u},
                                std::pair{kAudioFileStreamProperty_ReadyToProducePackets, 4u}}) {
        EXPECT_EQ(AudioFileStreamGetPropertyInfo(s, id, &size, &writable), noErr) << fourCCText(id);
        EXPECT_EQ(size, expected) << fourCCText(id);
        EXPECT_FALSE(writable);
    }
    uint32_t bound = 0;
    size = 4;
    ASSERT_EQ(
        AudioFileStreamGetProperty(s, kAudioFileStreamProperty_PacketSizeUpperBound, &size, &bound),
        noErr);
    EXPECT_EQ(bound, 1441u);
    size = 39;
    EXPECT_EQ(AudioFileStreamGetProperty(s, kAudioFileStreamProperty_DataFormat, &size, &format),
              kAudioFileStreamError_BadPropertySize);
    EXPECT_EQ(AudioFileStreamGetPropertyInfo(s, kAudioFileStreamProperty_AudioDataByteCount, &size,
                                             &writable),
              kAudioFileStreamError_ValueUnknown);
    EXPECT_EQ(AudioFileStreamGetPropertyInfo(s, kAudioFileStreamProperty_MagicCookieData, &size,
                                             &writable),
              kAudioFileStreamError_ValueUnknown);
    EXPECT_EQ(AudioFileStreamGetPropertyInfo(s, fourCC("zzzz"), &size, &writable),
              kAudioFileStreamError_UnsupportedProperty);
    // A format list reader may take fewer items than there are, never part of one.
    AudioFormatListItem items[2];
    size = sizeof items;
    ASSERT_EQ(AudioFileStreamGetProperty(s, kAudioFileStreamProperty_FormatList, &size, items),
              noErr);
    EXPECT_EQ(size, 44u);
    size = 43;
    EXPECT_EQ(AudioFileStreamGetProperty(s, kAudioFileStreamProperty_FormatList, &size, items),
              kAudioFileStreamError_BadPropertySize);
}

// A reader may close the stream from inside a packet callback; the close takes effect when
// the parse call returns, and no callback follows it.
// An AAC packet holds at most 768 bytes a channel, so the buffers sized from the bound fill
// with a few seconds of audio at any bit rate, not with the ADTS length field's 8 KB.
TEST(PropertiesTest, AdtsPacketBoundFollowsTheChannels) {
    EXPECT_EQ(parseAll(readFixture("adts-lc.aac"), kAudioFileAAC_ADTSType).packetSizeUpperBound,
              2 * 768u + 9);
    EXPECT_EQ(
        parseAll(readFixture("adts-lc-mono22k.aac"), kAudioFileAAC_ADTSType).packetSizeUpperBound,
        768u + 9);
}

TEST(PropertiesTest, CloseFromInsideACallback) {
    const std::vector<uint8_t> file = readFixture("cbr128.mp3");
    ParserHarness parser;
    parser.closeInPacketCallback();
    EXPECT_EQ(parser.push(file.data(), uint32_t(file.size())), noErr);
    EXPECT_TRUE(parser.closed());
    EXPECT_EQ(parser.recorded().packets.size(), 767u);  // one batch, then no more callbacks
}

// Parsing or seeking from inside a callback is refused rather than corrupting the parse.
TEST(PropertiesTest, NoReentrantParse) {
    struct Reentrant {
        AudioFileStreamID stream = nullptr;
        OSStatus parseStatus = noErr;
        OSStatus seekStatus = noErr;
        static void onPackets(void* self, uint32_t, uint32_t, const void* data,
                              AudioStreamPacketDescription*) {
            auto* r = static_cast<Reentrant*>(self);
            r->parseStatus = AudioFileStreamParseBytes(r->stream, 4, data, 0);
            int64_t offset = 0;
            uint32_t flags = 0;
            r->seekStatus = AudioFileStreamSeek(r->stream, 0, &offset, &flags);
        }
    } reader;
    ASSERT_EQ(AudioFileStreamOpen(&reader, nullptr, Reentrant::onPackets, kAudioFileMP3Type,
                                  &reader.stream),
              noErr);
    const std::vector<uint8_t> file = readFixture("mono8k-mpeg25.mp3");
    EXPECT_EQ(AudioFileStreamParseBytes(reader.stream, uint32_t(file.size()), file.data(), 0),
              noErr);
    EXPECT_EQ(reader.parseStatus, kAudioFileStreamError_IllegalOperation);
    EXPECT_EQ(reader.seekStatus, kAudioFileStreamError_IllegalOperation);
    EXPECT_EQ(AudioFileStreamClose(reader.stream), noErr);
}

}  // namespace
