#include "tools/station/Mp3Frames.h"

#include <cstring>

namespace station {

namespace {

// Layer III bit rates in kbit/s by bit-rate index; index 0 (free format) and 15 are invalid.
constexpr int kBitratesMpeg1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
constexpr int kBitratesMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
constexpr int kSampleRatesMpeg1[3] = {44100, 48000, 32000};

size_t id3v2Length(std::span<const uint8_t> file) {
    if (file.size() < 10 || std::memcmp(file.data(), "ID3", 3) != 0) return 0;
    size_t size = 0;
    for (int i = 6; i < 10; ++i) {
        if (file[i] & 0x80) return 0;  // not a synchsafe integer: not a tag
        size = (size << 7) | file[i];
    }
    const bool footer = (file[5] & 0x10) != 0;
    return 10 + size + (footer ? 10 : 0);
}

// A Xing/Info tag sits after the side information; a VBRI tag 32 bytes after the header.
bool isHeaderFrame(std::span<const uint8_t> frame, const Mp3FrameHeader& h) {
    size_t sideInfo = h.mpegVersion == 10 ? (h.channels == 1 ? 17 : 32) : (h.channels == 1 ? 9 : 17);
    auto at = [&](size_t offset, const char* tag) {
        return offset + 4 <= frame.size() && std::memcmp(frame.data() + offset, tag, 4) == 0;
    };
    return at(4 + sideInfo, "Xing") || at(4 + sideInfo, "Info") || at(36, "VBRI");
}

}  // namespace

std::optional<Mp3FrameHeader> parseMp3FrameHeader(std::span<const uint8_t> b) {
    if (b.size() < 4) return std::nullopt;
    if (b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) return std::nullopt;
    const int versionBits = (b[1] >> 3) & 3;
    const int layerBits = (b[1] >> 1) & 3;
    const int bitrateIndex = b[2] >> 4;
    const int rateIndex = (b[2] >> 2) & 3;
    const int padding = (b[2] >> 1) & 1;
    const int channelMode = b[3] >> 6;
    if (versionBits == 1 || layerBits != 1 || rateIndex == 3) return std::nullopt;

    Mp3FrameHeader h;
    h.mpegVersion = versionBits == 3 ? 10 : versionBits == 2 ? 20 : 25;
    h.bitrateKbps = (h.mpegVersion == 10 ? kBitratesMpeg1 : kBitratesMpeg2)[bitrateIndex];
    if (h.bitrateKbps == 0) return std::nullopt;
    h.sampleRate = kSampleRatesMpeg1[rateIndex] / (h.mpegVersion == 10 ? 1 : h.mpegVersion == 20 ? 2 : 4);
    h.channels = channelMode == 3 ? 1 : 2;
    h.samplesPerFrame = h.mpegVersion == 10 ? 1152 : 576;
    const size_t slotsPerSecond = static_cast<size_t>(h.samplesPerFrame / 8) * 1000;
    h.frameLength = slotsPerSecond * h.bitrateKbps / h.sampleRate + padding;
    return h;
}

std::optional<Mp3FrameIndex> indexMp3Frames(std::span<const uint8_t> file, std::string* error) {
    auto fail = [&](std::string why) -> std::optional<Mp3FrameIndex> {
        if (error) *error = std::move(why);
        return std::nullopt;
    };
    size_t end = file.size();
    if (end >= 128 && std::memcmp(file.data() + end - 128, "TAG", 3) == 0) end -= 128;
    size_t pos = id3v2Length(file);
    if (pos > end) return fail("ID3v2 tag runs past the end of the file");

    Mp3FrameIndex index;
    bool first = true;
    while (pos < end) {
        auto header = parseMp3FrameHeader(file.subspan(pos, end - pos));
        if (!header) return fail("no MP3 frame header at byte " + std::to_string(pos));
        if (pos + header->frameLength > end) {
            return fail("MP3 frame at byte " + std::to_string(pos) + " is cut off");
        }
        auto frame = file.subspan(pos, header->frameLength);
        if (first && isHeaderFrame(frame, *header)) {
            first = false;
            pos += header->frameLength;
            continue;
        }
        first = false;
        if (index.offsets.empty()) {
            index.sampleRate = header->sampleRate;
            index.samplesPerFrame = header->samplesPerFrame;
            index.bitrateKbps = header->bitrateKbps;
        } else if (header->sampleRate != index.sampleRate) {
            return fail("sample rate changes at byte " + std::to_string(pos));
        }
        index.offsets.push_back(pos);
        pos += header->frameLength;
    }
    if (index.offsets.empty()) return fail("no MP3 audio frames");
    index.endOffset = pos;
    return index;
}

}  // namespace station
