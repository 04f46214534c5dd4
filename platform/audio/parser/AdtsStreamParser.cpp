#include "platform/audio/parser/AdtsStreamParser.h"

#include "platform/audio/parser/AacConfig.h"
#include "platform/audio/parser/AdtsFrameHeader.h"

namespace audio::parsing {

namespace {

const AdtsFrameSyntax kAdtsSyntax;

// A raw data block holds at most 6,144 bits per channel (the decoder's input buffer), so a
// packet is never larger than 768 bytes a channel. Configuration 7 is 7.1, eight channels.
constexpr uint32_t kAacMaxBytesPerChannel = 768;
constexpr uint32_t kAdtsLongestHeader = 9;  // with the CRC

uint32_t channelsOfConfiguration(uint32_t configuration) {
    return configuration == 7 ? 8 : configuration;
}

// The buffers are sized from this bound, and the queue starts once they are filled: the
// 13-bit length field's 8 KB would hold back a 64 kbit/s stream for a quarter of a minute.
uint32_t packetBound(const AdtsFrameHeader& adts) {
    const uint32_t channels = channelsOfConfiguration(adts.channelConfiguration);
    if (channels == 0) return kAdtsMaxFrameBytes - 7;
    return kAacMaxBytesPerChannel * channels + kAdtsLongestHeader;
}

}  // namespace

AdtsStreamParser::AdtsStreamParser(ParserOutput& output, std::optional<uint64_t> start)
    : FrameStreamParser(output, kAdtsSyntax, start) {}

bool AdtsStreamParser::describe(const uint8_t* frame, const FrameHeader&,
                                StreamDescription& description) {
    AdtsFrameHeader adts;
    readAdtsFrameHeader(frame, adts);
    const std::vector<uint8_t> config =
        makeAudioSpecificConfig(adts.objectType, adts.sampleRateIndex, adts.channelConfiguration);
    // A configuration built from a valid header always reads back.
    const std::optional<AacConfig> aac = parseAudioSpecificConfig(config.data(), config.size());
    if (aac) describeAac(*aac, config, description);
    description.packetSizeUpperBound = packetBound(adts);
    description.maximumPacketSize = packetBound(adts);
    return false;
}

}  // namespace audio::parsing
