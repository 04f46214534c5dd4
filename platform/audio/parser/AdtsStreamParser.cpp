#include "platform/audio/parser/AdtsStreamParser.h"

#include "platform/audio/parser/AacConfig.h"
#include "platform/audio/parser/AdtsFrameHeader.h"

namespace audio::parsing {

namespace {
const AdtsFrameSyntax kAdtsSyntax;
}

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
    description.packetSizeUpperBound = kAdtsMaxFrameBytes - 7;
    description.maximumPacketSize = kAdtsMaxFrameBytes - 7;
    return false;
}

}  // namespace audio::parsing
