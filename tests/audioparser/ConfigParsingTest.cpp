// The small binary structures inside containers, read on their own: AAC and ALAC decoder
// configurations (HE-AAC signalling included, since no HE-AAC encoder is at hand to make a
// fixture), ES descriptors, VBR headers, AIFF's extended float and MP3 frame headers.

#include <gtest/gtest.h>

#include <cmath>

#include "platform/audio/parser/AacConfig.h"
#include "platform/audio/parser/AiffParser.h"
#include "platform/audio/parser/AlacConfig.h"
#include "platform/audio/parser/EsDescriptor.h"
#include "platform/audio/parser/Mp3FrameHeader.h"
#include "platform/audio/parser/Mp3VbrHeader.h"

using namespace audio;
using namespace audio::parsing;

namespace {

class Bits {
public:
    Bits& put(uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            if (used_ % 8 == 0) bytes_.push_back(0);
            if ((value >> i) & 1) bytes_.back() |= uint8_t(0x80 >> (used_ % 8));
            ++used_;
        }
        return *this;
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

private:
    std::vector<uint8_t> bytes_;
    int used_ = 0;
};

std::vector<uint32_t> formatIds(const StreamDescription& d) {
    std::vector<uint32_t> ids;
    for (const auto& item : d.formatList) ids.push_back(item.mASBD.mFormatID);
    return ids;
}

// Explicit SBR signalling, hierarchical (object type 5) and backward compatible (a sync
// extension after an LC configuration), lists 'aach' at the output rate ahead of the core.
TEST(AacConfigTest, HighEfficiencySignalling) {
    const Bits hierarchical = Bits().put(5, 5).put(6, 4).put(2, 4).put(3, 4).put(2, 5).put(0, 3);
    const Bits compatible =
        Bits().put(2, 5).put(6, 4).put(2, 4).put(0, 3).put(0x2B7, 11).put(5, 5).put(1, 1).put(3, 4);
    for (const Bits& bits : {hierarchical, compatible}) {
        const auto config = parseAudioSpecificConfig(bits.bytes().data(), bits.bytes().size());
        ASSERT_TRUE(config);
        EXPECT_TRUE(config->sbr);
        EXPECT_FALSE(config->ps);
        StreamDescription d;
        describeAac(*config, bits.bytes(), d);
        EXPECT_EQ(d.format.mFormatID, kAudioFormatMPEG4AAC);
        EXPECT_EQ(d.format.mSampleRate, 24000);
        EXPECT_EQ(formatIds(d),
                  (std::vector<uint32_t>{kAudioFormatMPEG4AAC_HE, kAudioFormatMPEG4AAC}));
        EXPECT_EQ(d.formatList[0].mASBD.mSampleRate, 48000);
        EXPECT_EQ(d.formatList[0].mASBD.mFramesPerPacket, 2048u);
        EXPECT_EQ(d.formatList[0].mASBD.mChannelsPerFrame, 2u);
        EXPECT_EQ(d.magicCookie, bits.bytes());
    }
    // Parametric stereo: a mono core that plays as stereo.
    const Bits ps = Bits().put(29, 5).put(6, 4).put(1, 4).put(3, 4).put(2, 5).put(0, 3);
    const auto config = parseAudioSpecificConfig(ps.bytes().data(), ps.bytes().size());
    ASSERT_TRUE(config);
    StreamDescription d;
    describeAac(*config, ps.bytes(), d);
    EXPECT_EQ(formatIds(d), (std::vector<uint32_t>{kAudioFormatMPEG4AAC_HE_V2,
                                                   kAudioFormatMPEG4AAC_HE, kAudioFormatMPEG4AAC}));
    EXPECT_EQ(d.formatList[0].mASBD.mChannelsPerFrame, 2u);
    EXPECT_EQ(d.formatList[1].mASBD.mChannelsPerFrame, 1u);
}

TEST(AacConfigTest, PlainAndBrokenConfigurations) {
    const uint8_t lc[] = {0x12, 0x10};  // LC, 44.1 kHz, stereo
    auto config = parseAudioSpecificConfig(lc, sizeof lc);
    ASSERT_TRUE(config);
    EXPECT_EQ(config->objectType, 2u);
    EXPECT_EQ(config->sampleRate, 44100u);
    EXPECT_EQ(config->channels, 2u);
    EXPECT_FALSE(config->sbr);
    EXPECT_EQ(makeAudioSpecificConfig(2, 4, 2), std::vector<uint8_t>(lc, lc + 2));

    // Channel configuration 0: the layout is a program config element, here 5.1.
    // clang-format off
    const Bits pce = Bits().put(2, 5).put(3, 4).put(0, 4).put(0, 3)  // LC 48 kHz, GA
                         .put(0, 4).put(1, 2).put(3, 4)              // tag, profile, rate
                         .put(2, 4).put(0, 4).put(1, 4).put(1, 2)    // front, side, back, lfe
                         .put(0, 3).put(0, 4).put(0, 1).put(0, 1).put(0, 1)
                         .put(0, 1).put(0, 4).put(1, 1).put(1, 4)    // front: SCE, CPE
                         .put(1, 1).put(2, 4)                        // back: CPE
                         .put(3, 4);                                 // LFE
    // clang-format on
    config = parseAudioSpecificConfig(pce.bytes().data(), pce.bytes().size());
    ASSERT_TRUE(config);
    EXPECT_EQ(config->channels, 6u);

    EXPECT_FALSE(parseAudioSpecificConfig(lc, 1));  // cut short
    const uint8_t eld[] = {0xF8, 0xE6, 0x20};       // object type 39: not one we play
    EXPECT_FALSE(parseAudioSpecificConfig(eld, sizeof eld));
    const uint8_t badRate[] = {0x16, 0x90};  // reserved sample-rate index 13
    EXPECT_FALSE(parseAudioSpecificConfig(badRate, sizeof badRate));
}

TEST(EsDescriptorTest, FormsOfTheDescriptor) {
    // clang-format off
    const std::vector<uint8_t> es = {0x03, 0x19, 0x00, 0x01, 0x00,                 // ES, id, flags
                                     0x04, 0x11, 0x40, 0x15, 0x00, 0x06, 0x00,   // config
                                     0x00, 0x01, 0xF4, 0x00, 0x00, 0x01, 0xF4, 0x00,
                                     0x05, 0x02, 0x12, 0x10,                     // ASC
                                     0x06, 0x01, 0x02};
    // clang-format on
    std::vector<uint8_t> boxed = {0, 0, 0, 0};
    boxed.insert(boxed.end(), es.begin(), es.end());
    for (const auto& bytes : {es, boxed}) {
        const auto d = parseEsDescriptor(bytes.data(), bytes.size());
        ASSERT_TRUE(d);
        EXPECT_EQ(d->objectTypeIndication, 0x40);
        EXPECT_EQ(d->averageBitRate, 128000u);
        EXPECT_EQ(d->decoderSpecificInfo, (std::vector<uint8_t>{0x12, 0x10}));
    }
    // A length running past the end is refused, not followed.
    std::vector<uint8_t> cut = es;
    cut[1] = 0x7F;
    EXPECT_FALSE(parseEsDescriptor(cut.data(), cut.size()));
}

TEST(AlacConfigTest, CookieWrappingsGiveTheSameAtom) {
    // clang-format off
    const std::vector<uint8_t> config = {0, 0, 0x10, 0, 0, 16, 40, 10, 14, 2, 0, 255,
                                         0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xAC, 0x44};
    // clang-format on
    std::vector<uint8_t> atom = {0, 0, 0, 36, 'a', 'l', 'a', 'c', 0, 0, 0, 0};
    atom.insert(atom.end(), config.begin(), config.end());
    std::vector<uint8_t> caf = {0, 0, 0, 12, 'f', 'r', 'm', 'a', 'a', 'l', 'a', 'c'};
    caf.insert(caf.end(), atom.begin(), atom.end());
    caf.insert(caf.end(), {0, 0, 0, 8, 0, 0, 0, 0});
    for (const auto& cookie : {config, atom, caf}) {
        const auto alac = parseAlacCookie(cookie.data(), cookie.size());
        ASSERT_TRUE(alac);
        EXPECT_EQ(alac->atom, atom);
        StreamDescription d;
        describeAlac(*alac, d);
        EXPECT_EQ(d.format.mSampleRate, 44100);
        EXPECT_EQ(d.format.mFramesPerPacket, 4096u);
        EXPECT_EQ(d.format.mChannelsPerFrame, 2u);
        EXPECT_EQ(d.format.mFormatFlags, 1u);  // 16-bit source
    }
    std::vector<uint8_t> badDepth = config;
    badDepth[5] = 17;
    EXPECT_FALSE(parseAlacCookie(badDepth.data(), badDepth.size()));
}

// A Fraunhofer VBRI frame: counts and a seek table of runs of frames.
TEST(Mp3VbrHeaderTest, VbriTable) {
    std::vector<uint8_t> frame(417, 0);
    frame[0] = 0xFF, frame[1] = 0xFB, frame[2] = 0x90;
    const uint8_t vbri[26] = {
        'V', 'B', 'R', 'I',  0,        1, 0, 0,    0,
        75,  0,   1,   0x86, 0xA0 + 0, 0, 0, 0x03, 0xE8,  // bytes 100000, frames 1000
        0,   10,  0,   1,    0,        2, 0, 100};        // 10 entries of 2 bytes
    std::copy(vbri, vbri + 26, frame.begin() + 36);
    for (int i = 0; i < 10; ++i) {
        frame[62 + 2 * i] = 10000 >> 8;
        frame[63 + 2 * i] = 10000 & 0xFF;
    }
    Mp3FrameHeader header;
    ASSERT_TRUE(readMp3FrameHeader(frame.data(), header));
    const auto vbr = readMp3VbrHeader(frame.data(), header);
    ASSERT_TRUE(vbr);
    EXPECT_EQ(vbr->frames, 1000u);
    EXPECT_EQ(vbr->bytes, 100000u);
    EXPECT_EQ(vbr->estimateOffset(500, 417), 50000.0);
    EXPECT_EQ(vbr->estimateOffset(250, 417), 25000.0);
}

TEST(Mp3FrameHeaderTest, LengthsAndRefusals) {
    struct Case {
        uint8_t header[4];
        uint32_t length;
        uint32_t rate;
        uint32_t channels;
    };
    for (const Case& c : {Case{{0xFF, 0xFB, 0x90, 0x00}, 417, 44100, 2},      // MPEG-1 128k
                          Case{{0xFF, 0xFB, 0x92, 0x00}, 418, 44100, 2},      // padded
                          Case{{0xFF, 0xF3, 0x80, 0xC4}, 208, 22050, 1},      // MPEG-2 64k mono
                          Case{{0xFF, 0xE3, 0x48, 0xC4}, 288, 8000, 1},       // MPEG-2.5 32k
                          Case{{0xFF, 0xFB, 0xEA, 0x00}, 1441, 32000, 2}}) {  // largest
        Mp3FrameHeader h;
        ASSERT_TRUE(readMp3FrameHeader(c.header, h));
        EXPECT_EQ(h.frameLength, c.length);
        EXPECT_EQ(h.sampleRate, c.rate);
        EXPECT_EQ(h.channels, c.channels);
        EXPECT_LE(h.frameLength, kMp3MaxFrameBytes);
    }
    Mp3FrameHeader h;
    const uint8_t freeFormat[4] = {0xFF, 0xFB, 0x00, 0x00};
    const uint8_t reservedEmphasis[4] = {0xFF, 0xFB, 0x90, 0x02};
    const uint8_t layer2[4] = {0xFF, 0xFD, 0x90, 0x00};
    EXPECT_FALSE(readMp3FrameHeader(freeFormat, h));
    EXPECT_FALSE(readMp3FrameHeader(reservedEmphasis, h));
    EXPECT_FALSE(readMp3FrameHeader(layer2, h));
}

TEST(AiffParserTest, ExtendedSampleRate) {
    const uint8_t rate44100[10] = {0x40, 0x0E, 0xAC, 0x44, 0, 0, 0, 0, 0, 0};
    const uint8_t rate8000[10] = {0x40, 0x0B, 0xFA, 0x00, 0, 0, 0, 0, 0, 0};
    const uint8_t infinite[10] = {0x7F, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(AiffParser::extendedToDouble(rate44100), 44100.0);
    EXPECT_EQ(AiffParser::extendedToDouble(rate8000), 8000.0);
    EXPECT_TRUE(std::isnan(AiffParser::extendedToDouble(infinite)));
}

}  // namespace
