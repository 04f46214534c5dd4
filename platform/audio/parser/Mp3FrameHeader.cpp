#include "platform/audio/parser/Mp3FrameHeader.h"

namespace audio::parsing {

namespace {

// Layer III bit rates in kb/s by index; 0 (free format) and 15 (invalid) are refused.
constexpr uint16_t kBitRatesMpeg1[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                         112, 128, 160, 192, 224, 256, 320, 0};
constexpr uint16_t kBitRatesLsf[16] = {0,  8,  16, 24,  32,  40,  48,  56,
                                       64, 80, 96, 112, 128, 144, 160, 0};
constexpr uint32_t kSampleRatesMpeg1[3] = {44100, 48000, 32000};

}  // namespace

uint32_t Mp3FrameHeader::sideInfoBytes() const {
    const bool mono = channelMode == 3;
    if (version == MpegVersion::Mpeg1) return mono ? 17 : 32;
    return mono ? 9 : 17;
}

bool readMp3FrameHeader(const uint8_t* p, Mp3FrameHeader& out) {
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0) return false;
    const uint32_t versionBits = (p[1] >> 3) & 3;
    const uint32_t layerBits = (p[1] >> 1) & 3;
    if (versionBits == 1 || layerBits != 1) return false;  // reserved version; not layer III
    const uint32_t bitRateIndex = p[2] >> 4;
    const uint32_t rateIndex = (p[2] >> 2) & 3;
    if (bitRateIndex == 0 || bitRateIndex == 15 || rateIndex == 3) return false;
    if ((p[3] & 3) == 2) return false;  // reserved emphasis: junk, not a frame

    out.version = versionBits == 3   ? MpegVersion::Mpeg1
                  : versionBits == 2 ? MpegVersion::Mpeg2
                                     : MpegVersion::Mpeg25;
    out.hasCrc = (p[1] & 1) == 0;
    const bool mpeg1 = out.version == MpegVersion::Mpeg1;
    out.bitRate =
        uint32_t(mpeg1 ? kBitRatesMpeg1[bitRateIndex] : kBitRatesLsf[bitRateIndex]) * 1000;
    uint32_t rate = kSampleRatesMpeg1[rateIndex];
    if (out.version == MpegVersion::Mpeg2) rate /= 2;
    if (out.version == MpegVersion::Mpeg25) rate /= 4;
    out.sampleRate = rate;
    out.sampleRateIndex = rateIndex;
    out.padding = (p[2] >> 1) & 1;
    out.channelMode = p[3] >> 6;
    out.channels = out.channelMode == 3 ? 1 : 2;
    out.samplesPerFrame = mpeg1 ? 1152 : 576;
    out.frameLength = (mpeg1 ? 144 : 72) * out.bitRate / rate + (out.padding ? 1 : 0);
    return true;
}

uint32_t mp3MaxFrameBytesFor(const Mp3FrameHeader& header) {
    const bool mpeg1 = header.version == MpegVersion::Mpeg1;
    return (mpeg1 ? 144u * 320000u : 72u * 160000u) / header.sampleRate + 1;
}

bool Mp3FrameSyntax::read(const uint8_t* p, FrameHeader& header) const {
    Mp3FrameHeader mp3;
    if (!readMp3FrameHeader(p, mp3)) return false;
    header.frameLength = mp3.frameLength;
    header.payloadOffset = 0;
    header.sampleRate = mp3.sampleRate;
    header.channels = mp3.channels;
    header.framesPerPacket = mp3.samplesPerFrame;
    header.bitRate = mp3.bitRate;
    header.streamKey =
        (uint32_t(mp3.version) << 4) | (mp3.sampleRateIndex << 1) | (mp3.channels == 1 ? 1u : 0u);
    return true;
}

}  // namespace audio::parsing
