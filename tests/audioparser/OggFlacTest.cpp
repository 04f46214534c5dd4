// Ogg (Vorbis, Opus, FLAC), native FLAC and MPEG-TS through the file-stream parser: the packets are
// ffprobe's, in pushes of any size; damaged pages are passed over; a chained stream's links
// each bring their configuration in-band; seeks land on the packet that holds the target.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <sstream>

#include "platform/audio/InBandConfig.h"
#include "tests/audioparser/ParserHarness.h"

using namespace audio;
using namespace parsertest;

namespace {

struct Case {
    const char* name;
    uint32_t formatID;
    double sampleRate;
    uint32_t channels;
    // Native FLAC keeps its frames as they are in the file: their bytes can be compared there.
    bool contiguous = false;
    // Vorbis and Opus end inside their last packet: the decoder is told how much of the last
    // page to play, and then that the limit is lifted.
    bool padded = false;
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class OggFlacFixtureTest : public ::testing::TestWithParam<Case> {};

// Pushes in chunks of `chunk` bytes.
Recorded parseInChunks(const std::vector<uint8_t>& file, AudioFileTypeID hint, size_t chunk,
                       OSStatus* status) {
    ParserHarness parser(hint);
    *status = parser.pushChunked(file, 0, file.size(), [chunk] { return chunk; });
    return parser.recorded();
}

TEST_P(OggFlacFixtureTest, PacketsMatchFfprobeInPushesOfAnySize) {
    const Case& c = GetParam();
    const std::vector<uint8_t> file = readFixture(c.name);
    const std::vector<ProbePacket> probe = probePackets(c.name);
    ASSERT_FALSE(probe.empty());
    for (const size_t chunk : {size_t(1), size_t(7), size_t(4096), file.size()}) {
        SCOPED_TRACE(chunk);
        OSStatus status = -1;
        const Recorded r = parseInChunks(file, hintFor(c.name), chunk, &status);
        ASSERT_EQ(status, noErr) << fourCCText(uint32_t(status));
        EXPECT_FALSE(r.packetsBeforeFormat);
        EXPECT_FALSE(r.descriptionOutOfRange);
        EXPECT_EQ(r.format.mFormatID, c.formatID);
        EXPECT_EQ(r.format.mSampleRate, c.sampleRate);
        EXPECT_EQ(r.format.mChannelsPerFrame, c.channels);
        EXPECT_GT(r.format.mFramesPerPacket, 0u);
        EXPECT_FALSE(r.cookie.empty());
        ASSERT_TRUE(r.dataOffset.has_value());
        EXPECT_EQ(uint64_t(*r.dataOffset), probe.front().position);
        ASSERT_EQ(r.packets.size(), probe.size());
        for (size_t i = 0; i < probe.size(); ++i) {
            ASSERT_EQ(r.packets[i].bytes.size(), probe[i].size) << "packet " << i;
            ASSERT_LE(r.packets[i].bytes.size(), r.packetSizeUpperBound) << "packet " << i;
            if (!c.contiguous) continue;
            ASSERT_TRUE(std::equal(r.packets[i].bytes.begin(), r.packets[i].bytes.end(),
                                   file.begin() + int64_t(probe[i].position)))
                << "packet " << i;
        }
        if (!c.padded) {
            EXPECT_TRUE(r.keepMarks.empty());
            continue;
        }
        ASSERT_EQ(r.keepMarks.size(), 2u);
        EXPECT_LT(r.keepMarks[0].first, r.packets.size());
        EXPECT_GT(r.keepMarks[0].second, 0u);
        EXPECT_LT(r.keepMarks[0].second, kKeepEverything);
        EXPECT_EQ(r.keepMarks[1], std::make_pair(r.packets.size(), kKeepEverything));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Generated, OggFlacFixtureTest,
    ::testing::Values(Case{"vorbis.ogg", kAudioFormatVorbis, 44100, 2, false, true},
                      Case{"vorbis-mono22k.ogg", kAudioFormatVorbis, 22050, 1, false, true},
                      Case{"opus.opus", kAudioFormatOpus, 48000, 2, false, true},
                      Case{"flac-in-ogg.oga", kAudioFormatFLAC, 44100, 2},
                      Case{"flac.flac", kAudioFormatFLAC, 44100, 2, true},
                      Case{"flac24-mono.flac", kAudioFormatFLAC, 48000, 1, true}),
    [](const auto& info) { return std::to_string(info.index); });

// Sizes of the packets, to find one list inside another.
std::vector<size_t> sizesOf(const std::vector<Packet>& packets) {
    std::vector<size_t> sizes;
    for (const Packet& packet : packets) sizes.push_back(packet.bytes.size());
    return sizes;
}

std::vector<size_t> sizesOf(const std::vector<ProbePacket>& probe) {
    std::vector<size_t> sizes;
    for (const ProbePacket& packet : probe) sizes.push_back(packet.size);
    return sizes;
}

// Every packet that comes out is one of the file's, in order: none is made of damaged bytes.
bool isSubsequence(const std::vector<size_t>& part, const std::vector<size_t>& whole) {
    size_t at = 0;
    for (const size_t size : part) {
        while (at < whole.size() && whole[at] != size) ++at;
        if (at == whole.size()) return false;
        ++at;
    }
    return true;
}

TEST(OggDamageTest, PagesThatFailTheirCrcArePassedOver) {
    std::vector<uint8_t> file = readFixture("vorbis.ogg");
    const std::vector<ProbePacket> probe = probePackets("vorbis.ogg");
    // One byte changed inside a page in the middle: that page's packets go, the rest stay.
    const uint64_t page = probe[probe.size() / 2].position;
    file[size_t(page) + 200] ^= 0x55;
    OSStatus status = -1;
    const Recorded r = parseAll(file, kAudioFileOggType, &status);
    ASSERT_EQ(status, noErr);
    const auto onPage = size_t(std::count_if(
        probe.begin(), probe.end(), [&](const ProbePacket& p) { return p.position == page; }));
    EXPECT_GE(r.packets.size(), probe.size() - onPage - 2);
    EXPECT_LT(r.packets.size(), probe.size());
    EXPECT_TRUE(isSubsequence(sizesOf(r.packets), sizesOf(probe)));
}

TEST(OggDamageTest, JunkAndOverwrittenBytesAreResynchronisedAfter) {
    const std::vector<uint8_t> original = readFixture("vorbis.ogg");
    const std::vector<ProbePacket> probe = probePackets("vorbis.ogg");
    // 2000 random bytes over the middle (the fixture), and junk between two pages.
    OSStatus status = -1;
    const Recorded corrupt =
        parseAll(readFixture("corrupt-middle.ogg"), kAudioFileOggType, &status);
    ASSERT_EQ(status, noErr);
    EXPECT_GT(corrupt.packets.size(), probe.size() * 9 / 10);
    EXPECT_TRUE(isSubsequence(sizesOf(corrupt.packets), sizesOf(probe)));

    std::vector<uint8_t> junked(original.begin(), original.begin() + int64_t(probe[200].position));
    std::mt19937 random(7);
    for (int i = 0; i < 5000; ++i) junked.push_back(uint8_t(random()));
    junked.insert(junked.end(), "OggS", "OggS" + 4);  // a false capture pattern
    junked.insert(junked.end(), original.begin() + int64_t(probe[200].position), original.end());
    const Recorded r = parseAll(junked, kAudioFileOggType, &status);
    ASSERT_EQ(status, noErr);
    EXPECT_EQ(sizesOf(r.packets), sizesOf(probe));
}

// The first bytes of a packet tell a chained link's configuration from audio.
uint32_t configKind(const std::vector<uint8_t>& packet) {
    if (packet.size() > 7 && packet[0] == 1 && std::memcmp(packet.data() + 1, "vorbis", 6) == 0)
        return kAudioFormatVorbis;
    if (packet.size() > 8 && std::memcmp(packet.data(), "OpusHead", 8) == 0)
        return kAudioFormatOpus;
    if (packet.size() > 4 && std::memcmp(packet.data(), "fLaC", 4) == 0) return kAudioFormatFLAC;
    return 0;
}

// The configuration at packets[at], whole or in fragments; `at` moves past it.
std::vector<uint8_t> takeConfig(const std::vector<Packet>& packets, size_t& at) {
    const std::vector<uint8_t>& first = packets[at].bytes;
    if (first.size() < 7 || std::memcmp(first.data(),
                                        "\x07"
                                        "conf",
                                        5) != 0)
        return packets[at++].bytes;
    std::vector<uint8_t> whole;
    const size_t count = first[6];
    for (size_t i = 0; i < count && at < packets.size(); ++i, ++at) {
        const std::vector<uint8_t>& piece = packets[at].bytes;
        EXPECT_EQ(piece[5], i);
        whole.insert(whole.end(), piece.begin() + 7, piece.end());
    }
    return whole;
}

TEST(OggChainTest, EachLinkBringsItsConfigurationAheadOfItsPackets) {
    const std::vector<uint8_t> file = readFixture("chained.ogg");
    const uint32_t kinds[4] = {kAudioFormatVorbis, kAudioFormatOpus, kAudioFormatVorbis,
                               kAudioFormatVorbis};
    for (const size_t chunk : {size_t(13), file.size()}) {
        SCOPED_TRACE(chunk);
        OSStatus status = -1;
        const Recorded r = parseInChunks(file, kAudioFileOggType, chunk, &status);
        ASSERT_EQ(status, noErr);
        // The stream is described once, by its first link.
        EXPECT_EQ(r.format.mFormatID, kAudioFormatVorbis);
        EXPECT_EQ(r.format.mSampleRate, 44100);
        EXPECT_EQ(
            std::count(r.notified.begin(), r.notified.end(), kAudioFileStreamProperty_DataFormat),
            1);
        size_t at = 0;
        for (int link = 1; link <= 4; ++link) {
            SCOPED_TRACE(link);
            if (link > 1) {
                ASSERT_LT(at, r.packets.size());
                EXPECT_EQ(configKind(takeConfig(r.packets, at)), kinds[link - 1]);
            }
            for (size_t size : sizesOf(probePackets("chain-" + std::to_string(link) + ".ogg"))) {
                ASSERT_LT(at, r.packets.size());
                ASSERT_EQ(configKind(r.packets[at].bytes), 0u) << "packet " << at;
                ASSERT_EQ(r.packets[at].bytes.size(), size) << "packet " << at;
                ++at;
            }
        }
        EXPECT_EQ(at, r.packets.size());
        for (const Packet& packet : r.packets)
            EXPECT_LE(packet.bytes.size(), r.packetSizeUpperBound);
    }
}

// A reader that repositions: pushes from `from` in 4 KB reads, answers the parser's requests,
// and stops after `limit` packets have come out.
struct ReadResult {
    std::vector<int64_t> requests;
    size_t firstPacket = 0;  // index in the recorded packets of the first after the seek
};

ReadResult readFrom(ParserHarness& parser, const std::vector<uint8_t>& file, size_t from,
                    size_t packetsWanted) {
    ReadResult result;
    result.firstPacket = parser.recorded().packets.size();
    size_t position = from;
    uint32_t flags = 0;
    size_t requestsSeen =
        size_t(std::count(parser.recorded().notified.begin(), parser.recorded().notified.end(),
                          kAudioFileStreamProperty_RequestedByteOffset));
    while (position < file.size() &&
           parser.recorded().packets.size() < result.firstPacket + packetsWanted) {
        const size_t n = std::min<size_t>(4096, file.size() - position);
        EXPECT_EQ(parser.push(file.data() + position, n, flags), noErr);
        flags = 0;
        position += n;
        const auto& notified = parser.recorded().notified;
        const size_t requests = size_t(std::count(notified.begin(), notified.end(),
                                                  kAudioFileStreamProperty_RequestedByteOffset));
        if (requests > requestsSeen) {
            requestsSeen = requests;
            int64_t offset = 0;
            uint32_t size = sizeof offset;
            EXPECT_EQ(
                AudioFileStreamGetProperty(
                    parser.stream(), kAudioFileStreamProperty_RequestedByteOffset, &size, &offset),
                noErr);
            result.requests.push_back(offset);
            position = size_t(offset);
            flags = kAudioFileStreamParseFlag_Discontinuity;
        }
    }
    return result;
}

// Index of the packet whose bytes are `packet` in the whole file's packet list, from `from`.
std::optional<size_t> findPacket(const std::vector<Packet>& all, const Packet& packet) {
    for (size_t i = 0; i < all.size(); ++i) {
        if (all[i].bytes == packet.bytes) return i;
    }
    return std::nullopt;
}

struct SeekCase {
    const char* name;
    AudioFileTypeID hint;
};

void PrintTo(const SeekCase& c, std::ostream* os) { *os << c.name; }

class PacketSeekTest : public ::testing::TestWithParam<SeekCase> {};

// Back into what was read (the page or frame is known) and forward past it (an estimate, then
// the packet's own position): either way the first packet out is the one holding the target.
TEST_P(PacketSeekTest, LandsOnThePacketHoldingTheTarget) {
    const SeekCase& c = GetParam();
    const std::vector<uint8_t> file = readFixture(c.name);
    const Recorded whole = parseAll(file, c.hint);
    ASSERT_GT(whole.packets.size(), 50u);
    const double framesPerPacket = whole.format.mFramesPerPacket;

    ParserHarness parser(c.hint);
    ASSERT_EQ(parser.push(file.data(), file.size() / 2), noErr);
    const size_t seen = parser.recorded().packets.size();
    // Packet numbers count nominal packets of the stream's time line.
    for (const int64_t target :
         {int64_t(seen / 3), int64_t(seen + (whole.packets.size() - seen) / 2), int64_t(1)}) {
        SCOPED_TRACE(target);
        int64_t offset = 0;
        bool estimated = false;
        ASSERT_EQ(parser.seek(target, offset, estimated), noErr);
        ASSERT_GE(offset, 0);
        const size_t from = size_t(*whole.dataOffset + offset);
        const ReadResult read = readFrom(parser, file, std::min(from, file.size() - 1), 3);
        const auto& packets = parser.recorded().packets;
        ASSERT_GT(packets.size(), read.firstPacket + 1);
        // A skip mark may come first: the decoder drops that many samples of what follows
        // (Opus lands 80 ms early, so that its decoder has converged at the target).
        size_t first = read.firstPacket;
        double skipped = 0;
        const std::vector<uint8_t>& mark = packets[first].bytes;
        if (mark.size() == 9 && std::memcmp(mark.data(), "\x07skip", 5) == 0) {
            skipped =
                double(mark[5] | (mark[6] << 8) | (mark[7] << 16) | (uint32_t(mark[8]) << 24));
            ++first;
        }
        const auto landed = findPacket(whole.packets, packets[first]);
        ASSERT_TRUE(landed.has_value());
        // Where the whole stream's packets place the target: within one packet of it, counting
        // the Opus pre-skip that granule positions include.
        const double targetFrames = double(target) * framesPerPacket;
        const double heardFrom = double(*landed) * framesPerPacket + skipped;
        EXPECT_LE(heardFrom, targetFrames + framesPerPacket + 312) << "landed " << *landed;
        EXPECT_GE(heardFrom, targetFrames - framesPerPacket) << "landed " << *landed;
        EXPECT_LE(read.requests.size(), 1u);
    }
}

INSTANTIATE_TEST_SUITE_P(Generated, PacketSeekTest,
                         ::testing::Values(SeekCase{"opus.opus", kAudioFileOggType},
                                           SeekCase{"flac-in-ogg.oga", kAudioFileOggType},
                                           SeekCase{"flac.flac", kAudioFileFLACType}),
                         [](const auto& info) { return std::to_string(info.index); });

TEST(OggFlacRecognitionTest, TheBytesDecideWhateverTheHint) {
    for (const char* name : {"vorbis.ogg", "opus.opus", "flac.flac", "flac-in-ogg.oga"}) {
        SCOPED_TRACE(name);
        const std::vector<uint8_t> file = readFixture(name);
        const Recorded right = parseAll(file, hintFor(name));
        for (const AudioFileTypeID hint :
             {kAudioFileMP3Type, kAudioFileAAC_ADTSType, kAudioFileM4AType, kAudioFileWAVEType}) {
            const Recorded other = parseAll(file, hint);
            EXPECT_EQ(other.format.mFormatID, right.format.mFormatID);
            EXPECT_EQ(other.packets.size(), right.packets.size());
        }
    }
    EXPECT_EQ(hintFor("x.ogg"), kAudioFileOggType);
    EXPECT_EQ(hintFor("x.oga"), kAudioFileOggType);
    EXPECT_EQ(hintFor("x.opus"), kAudioFileOggType);
    EXPECT_EQ(hintFor("x.flac"), kAudioFileFLACType);
}

}  // namespace

namespace {

// The sizes of ffprobe's packets of a transport stream, whose positions it mostly cannot tell.
std::vector<size_t> probedSizes(const std::string& name) {
    std::vector<size_t> sizes;
    std::istringstream lines(testsupport::readFile(fixturePath(name) + ".packets"));
    std::string position;
    size_t size = 0;
    while (lines >> position >> size) sizes.push_back(size);
    return sizes;
}

// HLS segments of AAC in MPEG-TS, one after the other as the reader hands them over: the
// parser gives the ADTS stream's packets, those ffprobe finds less their 7-byte headers.
TEST(MpegTsTest, SegmentsGiveTheirAudioStreamsPackets) {
    const std::vector<uint8_t> file = readFixture("hls-ts.ts");
    const std::vector<size_t> probe = probedSizes("hls-ts.ts");
    ASSERT_GT(probe.size(), 800u);
    for (const size_t chunk : {size_t(1), size_t(188), size_t(5000), file.size()}) {
        SCOPED_TRACE(chunk);
        for (const AudioFileTypeID hint : {kAudioFileMP3Type, kAudioFileAAC_ADTSType}) {
            OSStatus status = -1;
            const Recorded r = parseInChunks(file, hint, chunk, &status);
            ASSERT_EQ(status, noErr);
            EXPECT_EQ(r.format.mFormatID, kAudioFormatMPEG4AAC);
            EXPECT_EQ(r.format.mSampleRate, 44100);
            EXPECT_EQ(r.format.mChannelsPerFrame, 2u);
            EXPECT_FALSE(r.cookie.empty());
            ASSERT_EQ(r.packets.size(), probe.size());
            for (size_t i = 0; i < probe.size(); ++i) {
                ASSERT_EQ(r.packets[i].bytes.size() + 7, probe[i]) << "packet " << i;
            }
        }
    }
}

// Transport packets lost in the middle: the audio stream's parser finds its frames again, and
// nothing made of the gap comes out.
TEST(MpegTsTest, LostPacketsAreAGapInTheAudio) {
    const std::vector<uint8_t> file = readFixture("hls-ts.ts");
    const std::vector<size_t> probe = probedSizes("hls-ts.ts");
    std::vector<uint8_t> damaged(file.begin(), file.begin() + 188 * 300);
    damaged.insert(damaged.end(), file.begin() + 188 * 305, file.end());  // five packets gone
    damaged.insert(damaged.begin() + 188 * 600, 77, 0x47);                // and junk
    OSStatus status = -1;
    const Recorded r = parseAll(damaged, kAudioFileMP3Type, &status);
    ASSERT_EQ(status, noErr);
    EXPECT_LT(r.packets.size(), probe.size());
    EXPECT_GT(r.packets.size(), probe.size() - 20);
    std::vector<size_t> theirs;
    for (const size_t size : probe) theirs.push_back(size - 7);
    EXPECT_TRUE(isSubsequence(sizesOf(r.packets), theirs));
}

}  // namespace
