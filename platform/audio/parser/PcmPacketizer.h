#pragma once
// Hands the audio data of a PCM container (WAV, AIFF, CAF) to the reader in runs of whole
// frames, without packet descriptions. A frame split across two pushes waits in the stream's
// byte queue; bytes past the end of the data (a trailing partial frame) are dropped.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/audio/parser/FormatParser.h"

namespace audio::parsing {

class PcmPacketizer {
public:
    // `remaining`: bytes of audio data from here on, or nothing for "until the stream ends".
    void start(uint32_t bytesPerFrame, std::optional<uint64_t> remaining) {
        bytesPerFrame_ = bytesPerFrame;
        remaining_ = remaining;
    }
    bool finished() const { return remaining_ && *remaining_ == 0; }

    // Delivers what it can of data[0..size); returns the bytes consumed and sets `need` to the
    // bytes wanted from the first unconsumed one.
    size_t deliver(ParserOutput& output, const uint8_t* data, size_t size, size_t& need);

    // Offset in the data of `packet` (one frame each), clamped to the data's end when known.
    static uint64_t offsetOf(uint64_t packet, uint32_t bytesPerFrame,
                             std::optional<uint64_t> dataBytes);

private:
    uint32_t bytesPerFrame_ = 1;
    std::optional<uint64_t> remaining_;
};

}  // namespace audio::parsing
