#pragma once
// The MPEG-4 AudioSpecificConfig of AAC streams: read from MP4 and CAF cookies, written for
// ADTS streams (whose headers carry the same fields), and turned into the stream description.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/audio/parser/StreamDescription.h"

namespace audio::parsing {

struct AacConfig {
    uint32_t objectType = 0;  // of the core: 1 Main, 2 LC, 3 SSR, 4 LTP
    uint32_t sampleRate = 0;  // of the core
    uint32_t channels = 0;
    uint32_t frameLength = 1024;
    // Explicitly signalled spectral band replication (HE-AAC) and parametric stereo (HE-AAC
    // v2). Implicit signalling is found only by decoding and is not reported.
    bool sbr = false;
    bool ps = false;
    uint32_t extensionSampleRate = 0;  // output rate with SBR
};

std::optional<AacConfig> parseAudioSpecificConfig(const uint8_t* data, size_t size);

// The two-byte configuration of a plain AAC stream, as an ADTS header describes it.
std::vector<uint8_t> makeAudioSpecificConfig(uint32_t objectType, uint32_t sampleRateIndex,
                                             uint32_t channelConfiguration);

// Format 'aac ' at the core rate; the format list puts 'aacp' and 'aach' (at the output rate,
// twice the frames per packet) ahead of it when the configuration signals them. The cookie
// is the configuration itself.
void describeAac(const AacConfig& config, const std::vector<uint8_t>& audioSpecificConfig,
                 StreamDescription& out);

}  // namespace audio::parsing
