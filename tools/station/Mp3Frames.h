#pragma once
// MPEG audio layer III frame headers, and the index of the frames of a whole file.
//
// The station must cut its live loop only at frame starts, so that every listener's first byte
// is the first byte of a frame. Only what that needs is read: no side info, no decoding.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace station {

struct Mp3FrameHeader {
    int mpegVersion = 0;  // 10 for MPEG-1, 20 for MPEG-2, 25 for MPEG-2.5
    int bitrateKbps = 0;
    int sampleRate = 0;
    int channels = 0;
    int samplesPerFrame = 0;
    size_t frameLength = 0;  // bytes, header included
};

// The layer III header at the start of `bytes`, or nothing when it is not one (free-format
// and reserved values included). Needs four bytes.
std::optional<Mp3FrameHeader> parseMp3FrameHeader(std::span<const uint8_t> bytes);

struct Mp3FrameIndex {
    std::vector<size_t> offsets;  // start of each audio frame, ascending
    size_t endOffset = 0;         // one past the last frame's last byte
    int sampleRate = 0;
    int samplesPerFrame = 0;
    int bitrateKbps = 0;  // of the first audio frame
};

// Indexes every audio frame of a whole MP3 file. An ID3v2 tag at the start, a Xing, Info or
// VBRI header frame and an ID3v1 tag at the end are left out. Anything else that is not a
// run of frames with one sample rate is an error, described in `error`.
std::optional<Mp3FrameIndex> indexMp3Frames(std::span<const uint8_t> file, std::string* error);

}  // namespace station
