#include "platform/audio/parser/AlacConfig.h"

#include "platform/audio/parser/ByteOrder.h"

namespace audio::parsing {

namespace {

constexpr size_t kConfigBytes = 24;
constexpr size_t kAtomBytes = 12 + kConfigBytes;

// Where the 24-byte config starts in the cookie, or nothing.
std::optional<size_t> findConfig(const uint8_t* data, size_t size) {
    if (size == kConfigBytes) return 0;
    size_t at = 0;
    // Walk the atoms: 'frma' (skipped), then 'alac' (size, type, version and flags, config).
    while (size - at >= 8) {
        const uint32_t atomSize = be32(data + at);
        if (atomSize < 8 || atomSize > size - at) return std::nullopt;
        if (be32(data + at + 4) == fourCC("alac") && atomSize >= kAtomBytes) return at + 12;
        at += atomSize;
    }
    return std::nullopt;
}

}  // namespace

std::optional<AlacConfig> parseAlacCookie(const uint8_t* data, size_t size) {
    const std::optional<size_t> at = findConfig(data, size);
    if (!at) return std::nullopt;
    const uint8_t* p = data + *at;
    AlacConfig config;
    config.frameLength = be32(p);
    config.bitDepth = p[5];
    config.channels = p[9];
    config.maxFrameBytes = be32(p + 12);
    config.averageBitRate = be32(p + 16);
    config.sampleRate = be32(p + 20);
    const bool depthKnown = config.bitDepth == 16 || config.bitDepth == 20 ||
                            config.bitDepth == 24 || config.bitDepth == 32;
    if (!depthKnown || config.frameLength == 0 || config.frameLength > 65536 ||
        config.channels == 0 || config.channels > 8 || config.sampleRate < 1000 ||
        config.sampleRate > 1536000) {
        return std::nullopt;
    }
    config.atom = {0, 0, 0, uint8_t(kAtomBytes), 'a', 'l', 'a', 'c', 0, 0, 0, 0};
    config.atom.insert(config.atom.end(), p, p + kConfigBytes);
    return config;
}

void describeAlac(const AlacConfig& config, StreamDescription& out) {
    AudioStreamBasicDescription& f = out.format;
    f = {};
    f.mSampleRate = config.sampleRate;
    f.mFormatID = kAudioFormatAppleLossless;
    // The source bit depth, as 1 (16), 2 (20), 3 (24) or 4 (32).
    f.mFormatFlags = config.bitDepth == 16   ? 1
                     : config.bitDepth == 20 ? 2
                     : config.bitDepth == 24 ? 3
                                             : 4;
    f.mFramesPerPacket = config.frameLength;
    f.mChannelsPerFrame = config.channels;
    out.formatList = {formatListItem(f)};
    out.magicCookie = config.atom;
    if (config.averageBitRate > 0) out.bitRate = config.averageBitRate;
}

}  // namespace audio::parsing
