#pragma once
// Self-delimiting frame formats (MP3, ADTS AAC): what the frame scanner needs to know of a
// frame header, whatever the format.

#include <cstdint>

namespace audio::parsing {

struct FrameHeader {
    uint32_t frameLength = 0;    // whole frame, header included
    uint32_t payloadOffset = 0;  // header bytes that are not part of the packet
    uint32_t sampleRate = 0;
    uint32_t channels = 0;
    uint32_t framesPerPacket = 0;
    uint32_t bitRate = 0;  // bits per second when the header tells it, else 0
    // Fields that stay the same in every frame of one stream (version, rate, channels...).
    // Two headers with different keys cannot be neighbours in one stream.
    uint32_t streamKey = 0;
};

class FrameSyntax {
public:
    // Bytes needed to read a header.
    virtual uint32_t headerBytes() const = 0;
    // True when p (headerBytes() long) starts a frame header we can play; the frame length
    // is then at least headerBytes() + 1, so a scanner always moves forward.
    virtual bool read(const uint8_t* p, FrameHeader& header) const = 0;
    // Longest frame the format allows.
    virtual uint32_t maxFrameBytes() const = 0;

protected:
    ~FrameSyntax() = default;
};

}  // namespace audio::parsing
