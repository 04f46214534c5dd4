#pragma once
// MP3 streams: layer III frames, the Xing/Info or VBRI frame at the start read for the frame
// count, byte count and seek table, ID3 and APE tags skipped.

#include <optional>

#include "platform/audio/parser/FrameStreamParser.h"
#include "platform/audio/parser/Mp3VbrHeader.h"

namespace audio::parsing {

class Mp3StreamParser final : public FrameStreamParser {
public:
    Mp3StreamParser(ParserOutput& output, std::optional<uint64_t> start);

private:
    bool describe(const uint8_t* frame, const FrameHeader& header,
                  StreamDescription& description) override;
    std::optional<double> tableEstimate(int64_t packet) const override;
    // Forgets frame and byte counts that no layer III stream can have.
    void dropImplausibleCounts(const Mp3FrameHeader& mp3, uint32_t frameBytes);

    std::optional<Mp3VbrHeader> vbr_;
    uint32_t infoFrameBytes_ = 0;
};

}  // namespace audio::parsing
