#pragma once
// What a container parser learns about a stream before its first packet: the values behind
// the parser's properties, handed to the stream object once.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/audio/AudioTypes.h"

namespace audio::parsing {

struct StreamDescription {
    AudioStreamBasicDescription format{};
    // The decodable forms of the stream, richest first; `format` alone when empty.
    std::vector<AudioFormatListItem> formatList;
    // Decoder configuration as a decoder takes it (see AudioFileStream.h); empty when none.
    std::vector<uint8_t> magicCookie;
    // File offset of the first audio byte.
    int64_t dataOffset = 0;
    std::optional<uint64_t> audioDataByteCount;
    std::optional<uint64_t> audioDataPacketCount;
    uint32_t packetSizeUpperBound = 0;
    uint32_t maximumPacketSize = 0;
    std::optional<uint32_t> bitRate;
};

// Channel layout tags of the format list.
constexpr uint32_t kAudioChannelLayoutTag_Mono = (100u << 16) | 1;
constexpr uint32_t kAudioChannelLayoutTag_Stereo = (101u << 16) | 2;
constexpr uint32_t kAudioChannelLayoutTag_Unknown = 0xFFFF0000u;

uint32_t channelLayoutTagFor(uint32_t channels);
AudioFormatListItem formatListItem(const AudioStreamBasicDescription& format);

// Interleaved linear PCM of whole bytes per sample.
struct PcmLayout {
    double sampleRate = 0;
    uint32_t channels = 0;
    uint32_t bitsPerSample = 0;  // 8, 16, 24, 32 or 64
    bool isFloat = false;
    bool isBigEndian = false;
    bool isSigned = true;  // 8-bit WAV is unsigned
};

// Fills the description of a PCM stream, or returns false when the layout is not one we
// can hand to a decoder (sizes are range-checked here once for every container).
bool describePcm(const PcmLayout& layout, StreamDescription& out);

// Smallest multiple of the frame size that is at least 2048 bytes: the buffer size offered to
// readers of PCM, so that their buffers never split a frame.
uint32_t pcmBufferBytes(uint32_t bytesPerFrame);

}  // namespace audio::parsing
