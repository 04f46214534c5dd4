#include "platform/audio/parser/Mp3VbrHeader.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/audio/parser/ByteOrder.h"

namespace audio::parsing {

namespace {

constexpr uint32_t kXingFrames = 1;
constexpr uint32_t kXingBytes = 2;
constexpr uint32_t kXingToc = 4;
constexpr uint32_t kVbriOffset = 4 + 32;  // after the header and 32 bytes, in every version
constexpr uint32_t kVbriFixedBytes = 26;

std::optional<Mp3VbrHeader> readXing(const uint8_t* frame, uint32_t length, uint32_t at) {
    if (length < at + 8) return std::nullopt;
    const uint8_t* p = frame + at;
    if (std::memcmp(p, "Xing", 4) != 0 && std::memcmp(p, "Info", 4) != 0) return std::nullopt;
    const uint32_t flags = be32(p + 4);
    Mp3VbrHeader vbr;
    uint32_t field = at + 8;
    if (flags & kXingFrames) {
        if (length < field + 4) return std::nullopt;
        if (const uint32_t frames = be32(frame + field); frames > 0) vbr.frames = frames;
        field += 4;
    }
    if (flags & kXingBytes) {
        if (length < field + 4) return std::nullopt;
        if (const uint32_t bytes = be32(frame + field); bytes >= length) vbr.bytes = bytes;
        field += 4;
    }
    if ((flags & kXingToc) && length >= field + 100) {
        vbr.toc.assign(frame + field, frame + field + 100);
        // A table that goes backwards is not a table.
        if (!std::is_sorted(vbr.toc.begin(), vbr.toc.end())) vbr.toc.clear();
    }
    return vbr;
}

std::optional<Mp3VbrHeader> readVbri(const uint8_t* frame, uint32_t length) {
    if (length < kVbriOffset + kVbriFixedBytes) return std::nullopt;
    const uint8_t* p = frame + kVbriOffset;
    if (std::memcmp(p, "VBRI", 4) != 0) return std::nullopt;
    Mp3VbrHeader vbr;
    if (const uint32_t bytes = be32(p + 10); bytes >= length) vbr.bytes = bytes;
    if (const uint32_t frames = be32(p + 14); frames > 0) vbr.frames = frames;
    const uint32_t entries = be16(p + 18);
    const uint32_t scale = be16(p + 20);
    const uint32_t entryBytes = be16(p + 22);
    const uint32_t framesPerEntry = be16(p + 24);
    const uint64_t tableBytes = uint64_t(entries) * entryBytes;
    if (entryBytes >= 1 && entryBytes <= 4 && framesPerEntry > 0 &&
        kVbriOffset + kVbriFixedBytes + tableBytes <= length) {
        const uint8_t* entry = p + kVbriFixedBytes;
        for (uint32_t i = 0; i < entries; ++i, entry += entryBytes) {
            uint64_t value = 0;
            for (uint32_t b = 0; b < entryBytes; ++b) value = (value << 8) | entry[b];
            vbr.vbriEntryBytes.push_back(uint32_t(std::min<uint64_t>(value * scale, UINT32_MAX)));
        }
        vbr.vbriFramesPerEntry = framesPerEntry;
    }
    return vbr;
}

}  // namespace

std::optional<Mp3VbrHeader> readMp3VbrHeader(const uint8_t* frame, const Mp3FrameHeader& header) {
    const uint32_t xingAt = 4 + (header.hasCrc ? 2 : 0) + header.sideInfoBytes();
    if (auto xing = readXing(frame, header.frameLength, xingAt)) return xing;
    return readVbri(frame, header.frameLength);
}

std::optional<double> Mp3VbrHeader::estimateOffset(int64_t packet, uint32_t infoFrameBytes) const {
    if (!frames || !bytes) return std::nullopt;
    const double total = *bytes;
    if (toc.size() == 100) {
        const double percent = std::clamp(double(packet) * 100.0 / *frames, 0.0, 100.0);
        const int index = std::min(99, int(percent));
        const double from = toc[index];
        const double to = index < 99 ? toc[index + 1] : 256.0;
        const double position = (from + (to - from) * (percent - index)) / 256.0 * total;
        return std::max(0.0, position - infoFrameBytes);
    }
    if (!vbriEntryBytes.empty()) {
        // Runs of frames counted from the first audio frame.
        double position = 0;
        double remaining = double(packet);
        for (uint32_t entryBytes : vbriEntryBytes) {
            if (remaining < vbriFramesPerEntry) {
                position += entryBytes * remaining / vbriFramesPerEntry;
                remaining = 0;
                break;
            }
            position += entryBytes;
            remaining -= vbriFramesPerEntry;
        }
        return std::clamp(position, 0.0, total - infoFrameBytes);
    }
    return std::nullopt;
}

}  // namespace audio::parsing
