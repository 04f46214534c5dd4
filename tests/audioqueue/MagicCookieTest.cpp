// Magic cookies in their usual wrappings give the decoder configuration; damaged ones give
// nothing rather than a read past their end.

#include <gtest/gtest.h>

#include "platform/audio/queue/MagicCookie.h"

namespace audio {
namespace {

using Bytes = std::vector<uint8_t>;

const Bytes kAsc = {0x12, 0x10};  // AAC LC, 44100 Hz, stereo
const Bytes kEsDescriptor = {0x03, 25, 0, 1, 0,
                             0x04, 17, 0x40, 0x15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                             0x05, 2, 0x12, 0x10,
                             0x06, 1, 2};

TEST(MagicCookie, AacConfigComesOutOfEveryWrapping) {
    Bytes atom = {0, 0, 0, 39, 'e', 's', 'd', 's', 0, 0, 0, 0};
    atom.insert(atom.end(), kEsDescriptor.begin(), kEsDescriptor.end());
    Bytes payload = {0, 0, 0, 0};
    payload.insert(payload.end(), kEsDescriptor.begin(), kEsDescriptor.end());
    const Bytes decoderConfig(kEsDescriptor.begin() + 5, kEsDescriptor.begin() + 24);
    // A length written in four 7-bit groups, as some muxers do.
    const Bytes longLengths = {0x03, 0x80, 0x80, 0x80, 28, 0, 1, 0,
                               0x04, 0x80, 0x80, 0x80, 20, 0x40, 0x15, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                               0x05, 0x80, 0x80, 0x80, 2, 0x12, 0x10};

    EXPECT_EQ(aacConfigFromCookie(atom), kAsc);
    EXPECT_EQ(aacConfigFromCookie(payload), kAsc);
    EXPECT_EQ(aacConfigFromCookie(kEsDescriptor), kAsc);
    EXPECT_EQ(aacConfigFromCookie(decoderConfig), kAsc);
    EXPECT_EQ(aacConfigFromCookie(longLengths), kAsc);
    EXPECT_EQ(aacConfigFromCookie(kAsc), kAsc);
}

TEST(MagicCookie, DamagedAacCookiesGiveNothing) {
    for (size_t cut = 1; cut < kEsDescriptor.size() - 4; ++cut) {
        const Bytes truncated(kEsDescriptor.begin(), kEsDescriptor.begin() + long(cut));
        EXPECT_TRUE(aacConfigFromCookie(truncated).empty()) << "cut at " << cut;
    }
    Bytes lying = kEsDescriptor;
    lying[1] = 0x7F;  // claims more than there is
    EXPECT_TRUE(aacConfigFromCookie(lying).empty());
    EXPECT_TRUE(aacConfigFromCookie(Bytes{}).empty());
    EXPECT_TRUE(aacConfigFromCookie(Bytes{0x00, 0x00}).empty());
}

TEST(MagicCookie, AacConfigFromTheStreamDescription) {
    AudioStreamBasicDescription format{};
    format.mSampleRate = 44100;
    format.mChannelsPerFrame = 2;
    format.mFormatID = kAudioFormatMPEG4AAC;
    format.mFormatFlags = 2;
    EXPECT_EQ(aacConfigFromFormat(format), kAsc);
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

TEST(MagicCookie, AlacConfigComesOutOfEveryWrapping) {
    Bytes config(24);
    for (size_t i = 0; i < config.size(); ++i) config[i] = uint8_t(i + 1);
    Bytes atom = {0, 0, 0, 36, 'a', 'l', 'a', 'c', 0, 0, 0, 0};
    atom.insert(atom.end(), config.begin(), config.end());
    Bytes chain = {0, 0, 0, 12, 'f', 'r', 'm', 'a', 'a', 'l', 'a', 'c'};
    chain.insert(chain.end(), atom.begin(), atom.end());
    chain.insert(chain.end(), {0, 0, 0, 8, 0, 0, 0, 0});
    Bytes versioned = {0, 0, 0, 0};
    versioned.insert(versioned.end(), config.begin(), config.end());

    EXPECT_EQ(alacConfigFromCookie(config), atom);
    EXPECT_EQ(alacConfigFromCookie(atom), atom);
    EXPECT_EQ(alacConfigFromCookie(chain), atom);
    EXPECT_EQ(alacConfigFromCookie(versioned), atom);
    EXPECT_TRUE(alacConfigFromCookie(Bytes(atom.begin(), atom.end() - 1)).empty());
    EXPECT_TRUE(alacConfigFromCookie(Bytes{'a', 'l', 'a', 'c'}).empty());
}

}  // namespace
}  // namespace audio
