#pragma once
// The ALACSpecificConfig of Apple Lossless streams (MP4 'alac' box, CAF cookie).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/audio/parser/StreamDescription.h"

namespace audio::parsing {

struct AlacConfig {
    uint32_t frameLength = 0;
    uint32_t bitDepth = 0;
    uint32_t channels = 0;
    uint32_t maxFrameBytes = 0;
    uint32_t averageBitRate = 0;
    uint32_t sampleRate = 0;
    std::vector<uint8_t> atom;  // the 36-byte 'alac' atom: the cookie handed on
};

// Takes the bare 24-byte config, an 'alac' atom, or a 'frma' atom followed by an 'alac' atom
// (as CAF cookies hold it).
std::optional<AlacConfig> parseAlacCookie(const uint8_t* data, size_t size);

void describeAlac(const AlacConfig& config, StreamDescription& out);

}  // namespace audio::parsing
