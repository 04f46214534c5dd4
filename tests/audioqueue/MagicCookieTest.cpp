// The decoder takes its configuration from the cookie the parser hands on, as it is; damaged
// cookies never reach it as a configuration, and formats without one get none.

#include <gtest/gtest.h>

#include "platform/audio/parser/AlacConfig.h"
#include "platform/audio/parser/EsDescriptor.h"
#include "platform/audio/queue/MagicCookie.h"

namespace audio {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kAsc = {0x12, 0x10};  // AAC LC, 44100 Hz, stereo
// clang-format off
const Bytes kEsDescriptor = {0x03, 25, 0, 1, 0,
                             0x04, 17, 0x40, 0x15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                             0x05, 2, 0x12, 0x10,
                             0x06, 1, 2};
// clang-format on
// clang-format off
const Bytes kAlacConfig = {0, 0, 0x10, 0, 0, 16, 40, 10, 14, 2, 0, 255,
                           0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xAC, 0x44};
// clang-format on

AudioStreamBasicDescription aacFormat(uint32_t formatID = kAudioFormatMPEG4AAC) {
    AudioStreamBasicDescription format{};
    format.mSampleRate = 44100;
    format.mChannelsPerFrame = 2;
    format.mFormatID = formatID;
    format.mFormatFlags = 2;
    return format;
}

AudioStreamBasicDescription alacFormat() {
    AudioStreamBasicDescription format{};
    format.mSampleRate = 44100;
    format.mChannelsPerFrame = 2;
    format.mFormatID = kAudioFormatAppleLossless;
    format.mFormatFlags = 1;
    return format;
}

Bytes alacAtom() {
    Bytes atom = {0, 0, 0, 36, 'a', 'l', 'a', 'c', 0, 0, 0, 0};
    atom.insert(atom.end(), kAlacConfig.begin(), kAlacConfig.end());
    return atom;
}

// What the parser makes of an 'esds' payload in its usual forms (with version and flags, with
// lengths in four 7-bit groups) is the AudioSpecificConfig, and the decoder takes it unchanged.
TEST(MagicCookie, AacDecoderTakesTheParsersCookie) {
    Bytes payload = {0, 0, 0, 0};
    payload.insert(payload.end(), kEsDescriptor.begin(), kEsDescriptor.end());
    // clang-format off
    const Bytes longLengths = {0x03, 0x80, 0x80, 0x80, 28, 0, 1, 0,
                               0x04, 0x80, 0x80, 0x80, 20, 0x40, 0x15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                               0x05, 0x80, 0x80, 0x80, 2, 0x12, 0x10};
    // clang-format on
    for (const Bytes& esds : {kEsDescriptor, payload, longLengths}) {
        const auto descriptor = parsing::parseEsDescriptor(esds.data(), esds.size());
        ASSERT_TRUE(descriptor);
        EXPECT_EQ(descriptor->decoderSpecificInfo, kAsc);
        EXPECT_EQ(decoderConfig(aacFormat(), descriptor->decoderSpecificInfo), kAsc);
    }
    EXPECT_EQ(decoderConfig(aacFormat(kAudioFormatMPEG4AAC_HE), kAsc), kAsc);
}

// Damaged descriptors give the parser no cookie to hand on; formats that need no
// configuration get none, whatever bytes come with them.
TEST(MagicCookie, DamagedAacCookiesGiveNothing) {
    for (size_t cut = 1; cut < kEsDescriptor.size() - 4; ++cut) {
        const Bytes truncated(kEsDescriptor.begin(), kEsDescriptor.begin() + long(cut));
        const auto descriptor = parsing::parseEsDescriptor(truncated.data(), truncated.size());
        EXPECT_TRUE(!descriptor || descriptor->decoderSpecificInfo.empty()) << "cut at " << cut;
    }
    Bytes lying = kEsDescriptor;
    lying[1] = 0x7F;  // claims more than there is
    EXPECT_FALSE(parsing::parseEsDescriptor(lying.data(), lying.size()));
    AudioStreamBasicDescription mp3{};
    mp3.mFormatID = kAudioFormatMPEGLayer3;
    EXPECT_TRUE(decoderConfig(mp3, kAsc).empty());
}

// Raw AAC packets without a cookie get a configuration built from the stream description.
TEST(MagicCookie, AacConfigFromTheStreamDescription) {
    AudioStreamBasicDescription format = aacFormat();
    EXPECT_EQ(aacConfigFromFormat(format), kAsc);
    EXPECT_EQ(decoderConfig(format, {}), kAsc);
    // High efficiency: the core runs at half the rate; v2 has a mono core.
    format.mFormatID = kAudioFormatMPEG4AAC_HE;
    EXPECT_EQ(aacConfigFromFormat(format), (Bytes{0x13, 0x90}));
    format.mFormatID = kAudioFormatMPEG4AAC_HE_V2;
    EXPECT_EQ(aacConfigFromFormat(format), (Bytes{0x13, 0x88}));
    // A rate outside the table is written out in full.
    format.mFormatID = kAudioFormatMPEG4AAC;
    format.mSampleRate = 44000;
    EXPECT_EQ(aacConfigFromFormat(format), (Bytes{0x17, 0x80, 0x55, 0xF0, 0x10}));
}

// The 'alac' atom the parser makes of any CAF or MP4 wrapping is what the ALAC decoder takes;
// anything that is not such an atom is no configuration.
TEST(MagicCookie, AlacDecoderTakesTheParsersAtom) {
    const Bytes atom = alacAtom();
    Bytes chain = {0, 0, 0, 12, 'f', 'r', 'm', 'a', 'a', 'l', 'a', 'c'};
    chain.insert(chain.end(), atom.begin(), atom.end());
    chain.insert(chain.end(), {0, 0, 0, 8, 0, 0, 0, 0});
    for (const Bytes& cookie : {kAlacConfig, atom, chain}) {
        const auto config = parsing::parseAlacCookie(cookie.data(), cookie.size());
        ASSERT_TRUE(config);
        EXPECT_EQ(decoderConfig(alacFormat(), config->atom), atom);
    }
    EXPECT_TRUE(decoderConfig(alacFormat(), Bytes(atom.begin(), atom.end() - 1)).empty());
    EXPECT_TRUE(decoderConfig(alacFormat(), Bytes{'a', 'l', 'a', 'c'}).empty());
    EXPECT_TRUE(decoderConfig(alacFormat(), chain).empty());
}

}  // namespace
}  // namespace audio
