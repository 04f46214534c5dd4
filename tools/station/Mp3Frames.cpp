#include "tools/station/Mp3Frames.h"

#include <cstring>

#include "platform/audio/parser/Mp3FrameHeader.h"

namespace station {

namespace {

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
    size_t sideInfo =
        h.mpegVersion == 10 ? (h.channels == 1 ? 17 : 32) : (h.channels == 1 ? 9 : 17);
    auto at = [&](size_t offset, const char* tag) {
        return offset + 4 <= frame.size() && std::memcmp(frame.data() + offset, tag, 4) == 0;
    };
    return at(4 + sideInfo, "Xing") || at(4 + sideInfo, "Info") || at(36, "VBRI");
}

}  // namespace

std::optional<Mp3FrameHeader> parseMp3FrameHeader(std::span<const uint8_t> b) {
    using audio::parsing::MpegVersion;
    audio::parsing::Mp3FrameHeader frame;
    if (b.size() < 4 || !audio::parsing::readMp3FrameHeader(b.data(), frame)) return std::nullopt;
    Mp3FrameHeader h;
    h.mpegVersion = frame.version == MpegVersion::Mpeg1   ? 10
                    : frame.version == MpegVersion::Mpeg2 ? 20
                                                          : 25;
    h.bitrateKbps = int(frame.bitRate / 1000);
    h.sampleRate = int(frame.sampleRate);
    h.channels = int(frame.channels);
    h.samplesPerFrame = int(frame.samplesPerFrame);
    h.frameLength = frame.frameLength;
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
