#include "platform/audio/parser/PcmPacketizer.h"

#include <algorithm>

namespace audio::parsing {

size_t PcmPacketizer::deliver(ParserOutput& output, const uint8_t* data, size_t size,
                              size_t& need) {
    need = bytesPerFrame_;
    size_t usable = size;
    if (remaining_) usable = size_t(std::min<uint64_t>(usable, *remaining_));
    const size_t frames = usable / bytesPerFrame_;
    const size_t bytes = frames * bytesPerFrame_;
    if (bytes > 0) output.packets(data, uint32_t(bytes), uint32_t(frames), nullptr);
    size_t consumed = bytes;
    if (remaining_) {
        *remaining_ -= bytes;
        // Less than a frame left in the data: it can never be played, so it is dropped once
        // it has gone by.
        if (*remaining_ < bytesPerFrame_) {
            if (size - consumed >= *remaining_) {
                consumed += size_t(*remaining_);
                *remaining_ = 0;
                need = 1;
            } else {
                need = size_t(*remaining_);
            }
        }
    }
    return consumed;
}

uint64_t PcmPacketizer::offsetOf(uint64_t packet, uint32_t bytesPerFrame,
                                 std::optional<uint64_t> dataBytes) {
    const uint64_t lastFrame = dataBytes ? *dataBytes / bytesPerFrame : UINT64_MAX / bytesPerFrame;
    return std::min(packet, lastFrame) * bytesPerFrame;
}

}  // namespace audio::parsing
