// MP3 frame indexing and the broadcast clock, on loops built frame by frame.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tools/station/LiveBroadcast.h"
#include "tools/station/Mp3Frames.h"

using namespace std::chrono_literals;
using station::Clock;
using station::LiveBroadcast;
using station::LiveLoop;

namespace {

// One MPEG-1 layer III frame at 128 kbit/s, 44.1 kHz: 417 bytes, 418 with padding. The
// payload carries the frame's number so that tests can tell frames apart.
std::vector<uint8_t> frame(uint8_t number, bool padding = false) {
    std::vector<uint8_t> f(417 + (padding ? 1 : 0), number);
    f[0] = 0xFF;
    f[1] = 0xFB;
    f[2] = static_cast<uint8_t>(0x90 | (padding ? 0x02 : 0x00));
    f[3] = 0x00;
    return f;
}

std::vector<uint8_t> frames(int count) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < count; ++i) {
        auto f = frame(static_cast<uint8_t>(i), i % 3 == 1);
        bytes.insert(bytes.end(), f.begin(), f.end());
    }
    return bytes;
}

LiveLoop loopOf(int count) {
    std::string error;
    auto loop = LiveLoop::fromBytes(frames(count), &error);
    EXPECT_TRUE(loop) << error;
    return std::move(*loop);
}

const double kFrameSeconds = 1152.0 / 44100.0;

Clock::time_point at(Clock::time_point epoch, double seconds) {
    return epoch +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

}  // namespace

// Tags and a Xing/Info frame around the audio are left out; offsets point at audio frames.
TEST(Mp3Frames, IndexesAudioFramesBetweenTags) {
    std::vector<uint8_t> file = {'I', 'D', '3', 4, 0, 0, 0, 0, 0, 20};
    file.resize(file.size() + 20, 0);
    auto info = frame(0xEE);
    std::memcpy(info.data() + 4 + 32, "Info", 4);
    file.insert(file.end(), info.begin(), info.end());
    const size_t audioStart = file.size();
    auto audio = frames(5);
    file.insert(file.end(), audio.begin(), audio.end());
    std::vector<uint8_t> id3v1(128, 0);
    std::memcpy(id3v1.data(), "TAG", 3);
    file.insert(file.end(), id3v1.begin(), id3v1.end());

    std::string error;
    auto index = station::indexMp3Frames(file, &error);
    ASSERT_TRUE(index) << error;
    ASSERT_EQ(index->offsets.size(), 5u);
    EXPECT_EQ(index->offsets[0], audioStart);
    EXPECT_EQ(index->offsets[1], audioStart + 417);
    EXPECT_EQ(index->offsets[2], audioStart + 417 + 418);
    EXPECT_EQ(index->endOffset, file.size() - 128);
    EXPECT_EQ(index->sampleRate, 44100);
    EXPECT_EQ(index->bitrateKbps, 128);
}

// Junk between frames, a cut-off last frame or no frames at all make the file unusable as a
// loop: a listener could otherwise start in the middle of garbage.
TEST(Mp3Frames, RefusesWhatIsNotARunOfFrames) {
    std::string error;
    auto junk = frames(3);
    junk.insert(junk.begin() + 417, {0x00, 0x11});
    EXPECT_FALSE(station::indexMp3Frames(junk, &error));
    EXPECT_NE(error.find("byte 417"), std::string::npos) << error;

    auto cut = frames(3);
    cut.resize(cut.size() - 10);
    EXPECT_FALSE(station::indexMp3Frames(cut, &error));
    EXPECT_NE(error.find("cut off"), std::string::npos) << error;

    EXPECT_FALSE(station::indexMp3Frames(std::vector<uint8_t>(1000, 0), &error));
    EXPECT_FALSE(station::indexMp3Frames(std::vector<uint8_t>{}, &error));
    EXPECT_FALSE(station::parseMp3FrameHeader(
        std::vector<uint8_t>{0xFF, 0xFB, 0xF0, 0x00}));  // bad bit rate
    EXPECT_FALSE(
        station::parseMp3FrameHeader(std::vector<uint8_t>{0xFF, 0xFD, 0x90, 0x00}));  // layer II
}

// The frame on air follows the clock in whole samples, with no drift after days on air.
TEST(LiveBroadcast, FrameOnAirFollowsTheClock) {
    const auto epoch = Clock::now();
    LiveBroadcast broadcast(loopOf(10), epoch, 2000ms);
    EXPECT_EQ(broadcast.frameOnAir(epoch), 0);
    EXPECT_EQ(broadcast.frameOnAir(epoch - 5s), 0);
    EXPECT_EQ(broadcast.frameOnAir(at(epoch, 100.5 * kFrameSeconds)), 100);
    // 441 frames are exactly 11.52 s.
    EXPECT_EQ(broadcast.frameOnAir(epoch + 11520ms), 441);
    EXPECT_EQ(broadcast.frameOnAir(epoch + 11520ms - 1ns), 440);
    const auto days = epoch + std::chrono::hours(24 * 10);
    EXPECT_EQ(broadcast.frameOnAir(days), int64_t{864000} * 44100 / 1152);
    for (int64_t f : {int64_t{1}, int64_t{441}, int64_t{33075000}}) {
        EXPECT_EQ(broadcast.frameOnAir(broadcast.airTime(f)), f);
        EXPECT_EQ(broadcast.frameOnAir(broadcast.airTime(f) - 1ns), f - 1);
    }
    EXPECT_EQ(broadcast.headStartFrames(), 77);  // 2 s = 88200 samples = 76.6 frames
}

// A new listener gets the on-air frame and the head start at once, then one frame per frame
// time; partial sends resume inside the frame.
TEST(LiveBroadcast, PacesAListenerFromTheOnAirFrame) {
    const auto epoch = Clock::now();
    LiveBroadcast broadcast(loopOf(1000), epoch, 100ms);  // head start: 4 frames
    const auto now = at(epoch, 100.5 * kFrameSeconds);
    auto cursor = broadcast.startListener(now);
    EXPECT_EQ(cursor.nextFrame, 100);
    auto due = broadcast.due(cursor, now);
    const auto& loop = broadcast.loop();
    EXPECT_EQ(due.data(), loop.bytes().data() + loop.frameOffset(100));
    EXPECT_EQ(due.size(), loop.frameOffset(104) - loop.frameOffset(100));
    EXPECT_EQ(due[0], 0xFF);

    broadcast.advance(cursor, 10);
    EXPECT_EQ(cursor.nextFrame, 100);
    EXPECT_EQ(cursor.sentOfFrame, 10u);
    EXPECT_EQ(broadcast.due(cursor, now).data(), due.data() + 10);
    broadcast.advance(cursor, due.size() - 10);
    EXPECT_EQ(cursor.nextFrame, 104);
    EXPECT_EQ(cursor.sentOfFrame, 0u);
    EXPECT_TRUE(broadcast.due(cursor, now).empty());
    EXPECT_EQ(broadcast.lagSeconds(cursor, now), 0.0);

    // One frame time later exactly one more frame is due.
    const auto later = broadcast.airTime(101);
    EXPECT_EQ(broadcast.due(cursor, later).size(), loop.frameLength(104));
    // A listener that stops reading falls behind by the time that passes.
    EXPECT_NEAR(broadcast.lagSeconds(cursor, at(epoch, 100.5 * kFrameSeconds + 30)), 30.0, 0.05);
}

// At the end of the loop the bytes due stop at the last frame and go on with the first: the
// listener hears the loop round and round, always frame after whole frame.
TEST(LiveBroadcast, WrapsRoundTheLoopOnFrameBoundaries) {
    const auto epoch = Clock::now();
    LiveBroadcast broadcast(loopOf(10), epoch, 150ms);  // head start: 6 frames
    const auto now = at(epoch, 8.2 * kFrameSeconds);
    auto cursor = broadcast.startListener(now);
    std::vector<uint8_t> received;
    for (auto due = broadcast.due(cursor, now); !due.empty(); due = broadcast.due(cursor, now)) {
        received.insert(received.end(), due.begin(), due.end());
        broadcast.advance(cursor, due.size());
    }
    EXPECT_EQ(cursor.nextFrame, 14);
    std::vector<uint8_t> expected;
    for (int64_t f : {8, 9, 0, 1, 2, 3}) {
        auto bytes = broadcast.loop().bytes().subspan(broadcast.loop().frameOffset(f),
                                                      broadcast.loop().frameLength(f));
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(received, expected);
    EXPECT_EQ(broadcast.loopFrame(14), 4);
    EXPECT_EQ(broadcast.loopFrame(-1), 9);
}
