#pragma once
// ADTS AAC streams: the frames' headers are taken off and their fields become the
// AudioSpecificConfig handed over as the magic cookie, so that packets are plain AAC access
// units as in MP4. HE-AAC in ADTS is signalled only inside the audio (implicitly), so it is
// described as its AAC-LC core; a decoder finds the SBR data by itself.

#include <optional>

#include "platform/audio/parser/FrameStreamParser.h"

namespace audio::parsing {

class AdtsStreamParser final : public FrameStreamParser {
public:
    AdtsStreamParser(ParserOutput& output, std::optional<uint64_t> start);

private:
    bool describe(const uint8_t* frame, const FrameHeader& header,
                  StreamDescription& description) override;
};

}  // namespace audio::parsing
