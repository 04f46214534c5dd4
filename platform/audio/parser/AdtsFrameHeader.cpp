#include "platform/audio/parser/AdtsFrameHeader.h"

#include "platform/audio/AudioTypes.h"

namespace audio::parsing {

uint32_t aacSampleRateForIndex(uint32_t index) {
    return index < audio::kMPEG4AudioSampleRates.size() ? audio::kMPEG4AudioSampleRates[index] : 0;
}

bool readAdtsFrameHeader(const uint8_t* p, AdtsFrameHeader& out) {
    if (p[0] != 0xFF || (p[1] & 0xF6) != 0xF0) return false;  // sync and layer 0
    const bool hasCrc = (p[1] & 1) == 0;
    const uint32_t rateIndex = (p[2] >> 2) & 0xF;
    const uint32_t channels = ((p[2] & 1) << 2) | (p[3] >> 6);
    const uint32_t length = (uint32_t(p[3] & 3) << 11) | (uint32_t(p[4]) << 3) | (p[5] >> 5);
    const uint32_t rawBlocks = p[6] & 3;
    const uint32_t headerLength = hasCrc ? 9 : 7;
    const uint32_t rate = aacSampleRateForIndex(rateIndex);
    if (rate == 0 || channels == 0 || rawBlocks != 0 || length <= headerLength) return false;
    out.objectType = (p[2] >> 6) + 1;
    out.sampleRateIndex = rateIndex;
    out.sampleRate = rate;
    out.channelConfiguration = channels;
    out.frameLength = length;
    out.headerLength = headerLength;
    return true;
}

bool AdtsFrameSyntax::read(const uint8_t* p, FrameHeader& header) const {
    AdtsFrameHeader adts;
    if (!readAdtsFrameHeader(p, adts)) return false;
    header.frameLength = adts.frameLength;
    header.payloadOffset = adts.headerLength;
    header.sampleRate = adts.sampleRate;
    // Configuration 7 is 7.1: eight channels.
    header.channels = adts.channelConfiguration == 7 ? 8 : adts.channelConfiguration;
    header.framesPerPacket = 1024;
    header.bitRate = 0;
    header.streamKey =
        (adts.objectType << 8) | (adts.sampleRateIndex << 3) | adts.channelConfiguration;
    return true;
}

}  // namespace audio::parsing
