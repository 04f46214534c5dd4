#pragma once
// The information frame at the start of many MP3 files: "Xing" (VBR) or "Info" (CBR) as LAME
// writes it, or Fraunhofer's "VBRI". It holds no audio; it tells the frame count, the byte
// count and a seek table.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/audio/parser/Mp3FrameHeader.h"

namespace audio::parsing {

struct Mp3VbrHeader {
    // Frames of audio after the information frame.
    std::optional<uint32_t> frames;
    // Bytes from the start of the information frame to the end of the audio.
    std::optional<uint32_t> bytes;
    // Xing: 100 entries; entry i is the position of i % of the duration in 1/256 of `bytes`.
    std::vector<uint8_t> toc;
    // VBRI: bytes of each run of `framesPerEntry` frames.
    std::vector<uint32_t> vbriEntryBytes;
    uint32_t vbriFramesPerEntry = 0;

    // Byte offset of `packet`, counted from the end of the information frame, or nothing when
    // the header has no table.
    std::optional<double> estimateOffset(int64_t packet, uint32_t infoFrameBytes) const;
};

// `frame` holds the whole frame that `header` describes.
std::optional<Mp3VbrHeader> readMp3VbrHeader(const uint8_t* frame, const Mp3FrameHeader& header);

}  // namespace audio::parsing
