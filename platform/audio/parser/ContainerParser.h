#pragma once
// The common part of the container parsers (WAV, AIFF, CAF, MP4): they know where in the file
// the bytes they are handed sit, as long as the stream has not jumped to a place they cannot
// tell, and they walk the bytes with a state machine of their own (`run`).

#include <algorithm>
#include <cstdint>
#include <optional>

#include "platform/audio/parser/FormatParser.h"

namespace audio::parsing {

class ContainerParser : public FormatParser {
public:
    ParseStep parse(const uint8_t* data, size_t size) final {
        const ParseStep step = run(data, size);
        if (position_ && step.status == noErr) *position_ += step.consumed;
        return step;
    }

protected:
    ContainerParser(ParserOutput& output, std::optional<uint64_t> start)
        : output_(output), position_(start) {}

    // One pass over the bytes of a parse call; `position_` is the file offset of data[0].
    virtual ParseStep run(const uint8_t* data, size_t size) = 0;

    ParserOutput& output_;
    // File offset of the first byte of the current call; none after a jump to an unknown place.
    std::optional<uint64_t> position_;
};

}  // namespace audio::parsing
