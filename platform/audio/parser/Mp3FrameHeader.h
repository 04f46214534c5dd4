#pragma once
// MPEG-1, MPEG-2 and MPEG-2.5 layer III frame headers.

#include <cstdint>

#include "platform/audio/parser/FrameSyntax.h"

namespace audio::parsing {

enum class MpegVersion : uint8_t { Mpeg1, Mpeg2, Mpeg25 };

struct Mp3FrameHeader {
    MpegVersion version = MpegVersion::Mpeg1;
    bool hasCrc = false;
    uint32_t bitRate = 0;  // bits per second
    uint32_t sampleRate = 0;
    uint32_t sampleRateIndex = 0;
    bool padding = false;
    uint32_t channelMode = 0;  // 3 is mono
    uint32_t channels = 0;
    uint32_t frameLength = 0;
    uint32_t samplesPerFrame = 0;

    // Bytes of side information after the header (and its CRC): where a Xing header sits.
    uint32_t sideInfoBytes() const;
};

// Largest layer III frame of any version: 320 kb/s at 32 kHz, or 160 kb/s at 8 kHz, padded.
constexpr uint32_t kMp3MaxFrameBytes = 1441;

// Reads 4 bytes. Free-format frames (bit-rate index 0) are refused: their length cannot be
// told from the header, and no radio stream uses them.
bool readMp3FrameHeader(const uint8_t* p, Mp3FrameHeader& out);

// Largest frame at the header's version and sample rate.
uint32_t mp3MaxFrameBytesFor(const Mp3FrameHeader& header);

class Mp3FrameSyntax final : public FrameSyntax {
public:
    uint32_t headerBytes() const override { return 4; }
    bool read(const uint8_t* p, FrameHeader& header) const override;
    uint32_t maxFrameBytes() const override { return kMp3MaxFrameBytes; }
};

}  // namespace audio::parsing
