#pragma once
// ADTS frame headers of AAC streams.

#include <cstdint>

#include "platform/audio/parser/FrameSyntax.h"

namespace audio::parsing {

struct AdtsFrameHeader {
    uint32_t objectType = 0;  // MPEG-4 audio object type: profile + 1 (2 is AAC-LC)
    uint32_t sampleRateIndex = 0;
    uint32_t sampleRate = 0;
    uint32_t channelConfiguration = 0;
    uint32_t frameLength = 0;   // header included
    uint32_t headerLength = 0;  // 7, or 9 with a CRC
};

constexpr uint32_t kAdtsMaxFrameBytes = 8191;  // the 13-bit length field

// Reads 7 bytes. Refused as junk: lengths that leave no payload, reserved sample-rate
// indexes, channel configuration 0 (layout in the payload, not in the header) and frames
// with more than one raw data block, which decoders do not take as one packet.
bool readAdtsFrameHeader(const uint8_t* p, AdtsFrameHeader& out);

uint32_t aacSampleRateForIndex(uint32_t index);  // 0 for reserved indexes

class AdtsFrameSyntax final : public FrameSyntax {
public:
    uint32_t headerBytes() const override { return 7; }
    bool read(const uint8_t* p, FrameHeader& header) const override;
    uint32_t maxFrameBytes() const override { return kAdtsMaxFrameBytes; }
};

}  // namespace audio::parsing
