#include "platform/audio/parser/StreamDescription.h"

#include <algorithm>
#include <cmath>

namespace audio::parsing {

namespace {
// Limits that no real stream comes near; beyond them a header is taken to be garbage.
constexpr uint32_t kMaxChannels = 64;
constexpr double kMinSampleRate = 1000;
constexpr double kMaxSampleRate = 1536000;
}  // namespace

uint32_t channelLayoutTagFor(uint32_t channels) {
    switch (channels) {
        case 1: return kAudioChannelLayoutTag_Mono;
        case 2: return kAudioChannelLayoutTag_Stereo;
        default: return kAudioChannelLayoutTag_Unknown | (channels & 0xFFFF);
    }
}

AudioFormatListItem formatListItem(const AudioStreamBasicDescription& format) {
    AudioFormatListItem item{};
    item.mASBD = format;
    item.mChannelLayoutTag = channelLayoutTagFor(format.mChannelsPerFrame);
    return item;
}

bool describePcm(const PcmLayout& layout, StreamDescription& out) {
    const uint32_t bits = layout.bitsPerSample;
    if (layout.channels == 0 || layout.channels > kMaxChannels) return false;
    if (!std::isfinite(layout.sampleRate) || layout.sampleRate < kMinSampleRate ||
        layout.sampleRate > kMaxSampleRate) {
        return false;
    }
    if (layout.isFloat ? (bits != 32 && bits != 64)
                       : (bits != 8 && bits != 16 && bits != 24 && bits != 32)) {
        return false;
    }
    const uint32_t bytesPerFrame = layout.channels * (bits / 8);
    AudioStreamBasicDescription& f = out.format;
    f = {};
    f.mSampleRate = layout.sampleRate;
    f.mFormatID = kAudioFormatLinearPCM;
    f.mFormatFlags = kAudioFormatFlagIsPacked;
    if (layout.isFloat) {
        f.mFormatFlags |= kAudioFormatFlagIsFloat;
    } else if (layout.isSigned) {
        f.mFormatFlags |= kAudioFormatFlagIsSignedInteger;
    }
    // Byte order means nothing for one byte per sample.
    if (layout.isBigEndian && bits > 8) f.mFormatFlags |= kAudioFormatFlagIsBigEndian;
    f.mBytesPerPacket = bytesPerFrame;
    f.mFramesPerPacket = 1;
    f.mBytesPerFrame = bytesPerFrame;
    f.mChannelsPerFrame = layout.channels;
    f.mBitsPerChannel = bits;
    out.formatList = {formatListItem(f)};
    out.magicCookie.clear();
    // A PCM packet is one frame; readers get runs of whole frames, and a buffer of this size
    // holds whole frames only.
    out.packetSizeUpperBound = pcmBufferBytes(bytesPerFrame);
    out.maximumPacketSize = bytesPerFrame;
    out.bitRate = uint32_t(std::min(layout.sampleRate * bytesPerFrame * 8.0, 4294967295.0));
    return true;
}

uint32_t pcmBufferBytes(uint32_t bytesPerFrame) {
    if (bytesPerFrame == 0) return 2048;
    return (2048 + bytesPerFrame - 1) / bytesPerFrame * bytesPerFrame;
}

}  // namespace audio::parsing
