#pragma once
// The MPEG-4 ES descriptor of an 'esds' box (MP4) or an AAC cookie (CAF): the decoder
// configuration and the average bit rate.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace audio::parsing {

struct EsDescriptor {
    uint8_t objectTypeIndication = 0;  // 0x40 MPEG-4 audio; 0x66-0x68 MPEG-2 AAC
    uint32_t averageBitRate = 0;
    std::vector<uint8_t> decoderSpecificInfo;  // the AudioSpecificConfig for AAC
};

// Takes the descriptor alone or after the 4 bytes of version and flags of an 'esds' box.
std::optional<EsDescriptor> parseEsDescriptor(const uint8_t* data, size_t size);

}  // namespace audio::parsing
