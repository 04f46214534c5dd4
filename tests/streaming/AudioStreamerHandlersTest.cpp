// The packet and property handlers' rules at their edges: buffers filled to the byte, a packet
// that cannot fit any buffer, the bit-rate sample, the order of the parser's properties, and
// events of a stream that has been replaced.

#include <numeric>

#include "platform/http/ReadStream.h"
#include "tests/streaming/StreamerTestSupport.h"

using namespace streamertest;
using Access = AudioStreamerTestAccess;
using testsupport::Response;

namespace {

constexpr uint32_t kFrames = 1152;

class HandlersTest : public StreamerTest {
protected:
    // A parser that has read the whole fixture, for the handlers to read its properties from.
    audio::AudioFileStreamID parsed(const std::string& fixture) {
        audio::AudioFileStreamID stream = nullptr;
        EXPECT_EQ(audio::AudioFileStreamOpen(
                      nullptr, nullptr, nullptr,
                      audio::AudioFileTypeHintForExtension(fixture.substr(fixture.rfind('.') + 1)),
                      &stream),
                  0);
        const std::string bytes = readFile(fixturePath(fixture));
        EXPECT_EQ(audio::AudioFileStreamParseBytes(stream, uint32_t(bytes.size()), bytes.data(), 0),
                  0);
        parsers.push_back(stream);
        return stream;
    }
    void TearDown() override {
        for (auto stream : parsers) audio::AudioFileStreamClose(stream);
        StreamerTest::TearDown();
    }
    std::vector<audio::AudioFileStreamID> parsers;
};

// One packet as large as a whole buffer (it sizes the buffers), then real frames and a frame
// padded to exactly the space the buffer has left. Every packet reaches the queue: none is
// dropped for filling a buffer to its last byte.
TEST_F(HandlersTest, PacketsThatFillABufferExactlyAreAllPlayed) {
    const std::vector<std::string> frames = fixturePackets("cbr128-noxing.mp3");
    constexpr size_t kBuffer = 4000;
    std::vector<std::string> packets;
    packets.push_back(frames[0] + std::string(kBuffer - frames[0].size(), '\0'));
    size_t filled = 0;
    for (size_t i = 1; i <= 8; ++i) {
        packets.push_back(frames[i]);
        filled += frames[i].size();
    }
    packets.push_back(frames[9] + std::string(kBuffer - filled - frames[9].size(), '\0'));
    for (size_t i = 10; i <= 40; ++i) packets.push_back(frames[i]);
    server->serve("/exact.caf", Response::bytes(mp3Caf(packets)));
    useCapture(0);
    auto streamer = makeStreamer("/exact.caf");
    streamer->start();
    ASSERT_TRUE(waitForIdle(*streamer));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    auto sink = lastSink();
    ASSERT_TRUE(sink);
    EXPECT_EQ(captured(*sink).frames() - sink->discardedCount(), packets.size() * kFrames);
}

// An ADTS frame longer than the bound its stream's channels allow cannot go into any buffer:
// the run fails with "buffer too small" and queues nothing more.
TEST_F(HandlersTest, PacketLargerThanTheBufferFails) {
    const std::vector<std::string> frames = fixturePackets("adts-lc-mono22k.aac");
    std::string stream;
    for (size_t i = 0; i < 20; ++i) stream += frames[i];
    std::string oversized = frames[20] + std::string(1000 - frames[20].size(), '\0');
    // The 13-bit frame length spans bytes 3 to 5 of the header.
    oversized[3] = char((uint8_t(oversized[3]) & 0xFC) | (1000 >> 11));
    oversized[4] = char((1000 >> 3) & 0xFF);
    oversized[5] = char((uint8_t(oversized[5]) & 0x1F) | ((1000 & 7) << 5));
    stream += oversized;
    for (size_t i = 21; i < 60; ++i) stream += frames[i];
    server->serve("/oversized.aac", Response::bytes(stream));
    useCapture(0);
    auto streamer = makeStreamer("/oversized.aac");
    streamer->start();
    ASSERT_TRUE(waitForIdle(*streamer));
    mainQueue->drain();
    EXPECT_EQ(streamer->errorCode(), AS_AUDIO_BUFFER_TOO_SMALL);
    EXPECT_EQ(alerts->count(), 1u);
    EXPECT_EQ(logs->lines().size(), 1u) << ::testing::PrintToString(logs->lines());
}

// The bit-rate sample is the first 5,000 described packets: counting stops there, and the
// byte total is exactly theirs.
TEST_F(HandlersTest, BitRateCountingStopsAtFiveThousandPackets) {
    const auto packets = packetList("long-10min-128k.mp3");
    ASSERT_GT(packets.size(), 6000u);
    server->serve("/long.mp3", Response::file(fixturePath("long-10min-128k.mp3")));
    useCapture(0);
    auto streamer = makeStreamer("/long.mp3");
    streamer->start();
    ASSERT_TRUE(waitForIdle(*streamer, 120));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    const uint64_t firstBytes =
        std::accumulate(packets.begin(), packets.begin() + 5000, uint64_t(0),
                        [](uint64_t sum, const auto& packet) { return sum + packet.second; });
    EXPECT_EQ(Access::countedPackets(*streamer), std::pair(uint64_t(5000), firstBytes));
}

// The length is the data offset plus the byte count whichever of the two the parser tells
// first.
TEST_F(HandlersTest, DataOffsetAndByteCountInEitherOrder) {
    audio::AudioFileStreamID wav = parsed("pcm16.wav");
    int64_t offset = 0;
    uint64_t count = 0;
    uint32_t size = sizeof offset;
    ASSERT_EQ(audio::AudioFileStreamGetProperty(wav, audio::kAudioFileStreamProperty_DataOffset,
                                                &size, &offset),
              0);
    size = sizeof count;
    ASSERT_EQ(audio::AudioFileStreamGetProperty(
                  wav, audio::kAudioFileStreamProperty_AudioDataByteCount, &size, &count),
              0);
    ASSERT_GT(offset, 0);
    for (const bool offsetFirst : {true, false}) {
        SCOPED_TRACE(offsetFirst);
        streamers.push_back(AudioStreamer::create(server->url("/song.wav")));
        AudioStreamer& streamer = *streamers.back();
        const audio::AudioFileStreamPropertyID
            doff = audio::kAudioFileStreamProperty_DataOffset,
            bcnt = audio::kAudioFileStreamProperty_AudioDataByteCount;
        Access::handleFileStreamProperty(streamer, wav, offsetFirst ? doff : bcnt);
        Access::handleFileStreamProperty(streamer, wav, offsetFirst ? bcnt : doff);
        EXPECT_EQ(Access::dataOffset(streamer), offset);
        EXPECT_EQ(Access::fileLength(streamer), offset + int64_t(count));
    }
}

// Only the first stream description counts, and a format list without a high-efficiency AAC
// entry leaves the description as it is.
TEST_F(HandlersTest, SecondDescriptionAndPlainFormatListChangeNothing) {
    streamers.push_back(AudioStreamer::create(server->url("/song.mp3")));
    AudioStreamer& streamer = *streamers.back();
    Access::handleFileStreamProperty(streamer, parsed("cbr128.mp3"),
                                     audio::kAudioFileStreamProperty_DataFormat);
    Access::handleFileStreamProperty(streamer, parsed("mono22k-mpeg2.mp3"),
                                     audio::kAudioFileStreamProperty_DataFormat);
    EXPECT_EQ(Access::asbd(streamer).mSampleRate, 44100.0);
    EXPECT_EQ(Access::asbd(streamer).mChannelsPerFrame, 2u);

    streamers.push_back(AudioStreamer::create(server->url("/song.aac")));
    AudioStreamer& aac = *streamers.back();
    audio::AudioFileStreamID adts = parsed("adts-lc.aac");
    Access::handleFileStreamProperty(aac, adts, audio::kAudioFileStreamProperty_DataFormat);
    const audio::AudioStreamBasicDescription before = Access::asbd(aac);
    Access::handleFileStreamProperty(aac, adts, audio::kAudioFileStreamProperty_FormatList);
    EXPECT_EQ(Access::asbd(aac).mFormatID, audio::kAudioFormatMPEG4AAC);
    EXPECT_EQ(Access::asbd(aac).mSampleRate, before.mSampleRate);
    EXPECT_EQ(Access::asbd(aac).mFramesPerPacket, before.mFramesPerPacket);
}

// An event from a read stream that is no longer the streamer's (one replaced by a seek, say)
// is ignored: its error does not end the run.
TEST_F(HandlersTest, EventOfAReplacedStreamIsIgnored) {
    server->serve("/song.mp3", Response::file(fixturePath("cbr128.mp3")));
    useCapture(1);
    auto streamer = makeStreamer("/song.mp3");
    streamer->start();
    ASSERT_TRUE(waitForState(*streamer, AS_STATE_PLAYING));
    auto replaced = platform::http::ReadStream::create(server->url("/song.mp3"), {});
    ASSERT_TRUE(replaced);
    Access::handleReadStreamEvent(*streamer, replaced.get(),
                                  platform::http::kReadStreamEventErrorOccurred);
    Access::handleReadStreamEvent(*streamer, replaced.get(),
                                  platform::http::kReadStreamEventEndEncountered);
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    EXPECT_TRUE(streamer->isPlaying());
    streamer->stop();
    EXPECT_TRUE(waitForIdle(*streamer));
    EXPECT_EQ(streamer->errorCode(), AS_NO_ERROR);
    EXPECT_EQ(alerts->count(), 0u);
}

}  // namespace
