#pragma once
// FLAC's own structures, shared by native FLAC files and FLAC carried in Ogg: the STREAMINFO
// block, frame headers and the two checksums that let a reader find frames in a byte stream
// that does not say where they end.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/audio/parser/StreamDescription.h"

namespace audio::parsing {

constexpr size_t kFlacStreamInfoBytes = 34;
// The decoder configuration handed on: "fLaC", a last-block header and STREAMINFO.
constexpr size_t kFlacConfigBytes = 4 + 4 + kFlacStreamInfoBytes;
// Sync, codes, the longest coded number, the longest block size and rate fields, CRC-8.
constexpr size_t kFlacMaxFrameHeaderBytes = 16;

struct FlacStreamInfo {
    uint32_t minBlockSize = 0;
    uint32_t maxBlockSize = 0;
    uint32_t minFrameBytes = 0;  // 0: not known
    uint32_t maxFrameBytes = 0;  // 0: not known
    uint32_t sampleRate = 0;
    uint32_t channels = 0;
    uint32_t bitsPerSample = 0;
    uint64_t totalSamples = 0;  // 0: not known (a live stream)
};

// The 34 bytes of a STREAMINFO block; none when they describe nothing playable.
std::optional<FlacStreamInfo> readFlacStreamInfo(const uint8_t* p);

// `streamInfo`: the 34 bytes. Fills format, cookie and the packet bounds.
void describeFlac(const FlacStreamInfo& info, const uint8_t* streamInfo,
                  StreamDescription& description);

struct FlacFrameHeader {
    uint32_t headerBytes = 0;
    uint32_t blockSize = 0;
    uint32_t sampleRate = 0;  // 0: the stream's
    uint32_t channels = 0;
    uint32_t bitsPerSample = 0;  // 0: the stream's
    bool variableBlockSize = false;
    uint64_t number = 0;  // frame number, or first sample when the block size varies
};

enum class FlacHeaderResult { Header, NeedMore, NotAHeader };

// A frame header at p, its CRC-8 checked. `need` is set when more bytes would tell.
FlacHeaderResult readFlacFrameHeader(const uint8_t* p, size_t size, FlacFrameHeader& header,
                                     size_t& need);

// True when the header belongs to the stream `info` describes.
bool flacHeaderFits(const FlacFrameHeader& header, const FlacStreamInfo& info);

// The frame checksum, CRC-16 with polynomial 0x8005; a whole frame, its own CRC included,
// sums to 0.
uint16_t flacCrc16(uint16_t crc, const uint8_t* p, size_t size);

// The longest frame the stream can have: what STREAMINFO says, else a verbatim frame.
uint32_t flacFrameBound(const FlacStreamInfo& info);

}  // namespace audio::parsing
