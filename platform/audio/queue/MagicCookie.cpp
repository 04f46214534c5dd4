#include "platform/audio/queue/MagicCookie.h"

#include <cstring>

namespace audio {

namespace {

constexpr size_t kALACAtomSize = 36;

bool isAlacAtom(std::span<const uint8_t> cookie) {
    return cookie.size() == kALACAtomSize && cookie[3] == kALACAtomSize && cookie[4] == 'a' &&
           cookie[5] == 'l' && cookie[6] == 'a' && cookie[7] == 'c';
}

// Writes values of a few bits each, most significant bit first.
class BitWriter {
public:
    void put(uint32_t value, int bits) {
        for (int i = bits - 1; i >= 0; --i) {
            if (used_ % 8 == 0) bytes_.push_back(0);
            if ((value >> i) & 1) bytes_.back() |= uint8_t(0x80 >> (used_ % 8));
            ++used_;
        }
    }
    std::vector<uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
    int used_ = 0;
};

constexpr size_t kVorbisIdentBytes = 30;
constexpr size_t kVorbisCommentBytes = 16;  // the empty comment header the parser writes

bool isVorbisConfig(std::span<const uint8_t> cookie) {
    return cookie.size() > kVorbisIdentBytes + kVorbisCommentBytes + 7 && cookie[0] == 1 &&
           std::memcmp(cookie.data() + 1, "vorbis", 6) == 0;
}

bool isOpusConfig(std::span<const uint8_t> cookie) {
    return cookie.size() >= 19 && std::memcmp(cookie.data(), "OpusHead", 8) == 0;
}

bool isFlacConfig(std::span<const uint8_t> cookie) {
    return cookie.size() >= 42 && std::memcmp(cookie.data(), "fLaC", 4) == 0;
}

// libavcodec takes the three Vorbis headers in Xiph lacing: 2, the lengths of the first two
// in 255-steps, then the headers.
std::vector<uint8_t> xiphLacedVorbisHeaders(std::span<const uint8_t> cookie) {
    std::vector<uint8_t> out(3 + cookie.size());
    out[0] = 2;
    out[1] = uint8_t(kVorbisIdentBytes);
    out[2] = uint8_t(kVorbisCommentBytes);
    std::memcpy(out.data() + 3, cookie.data(), cookie.size());
    return out;
}

}  // namespace

uint32_t inBandConfigFormat(std::span<const uint8_t> packet) {
    if (isVorbisConfig(packet)) return kAudioFormatVorbis;
    if (isOpusConfig(packet)) return kAudioFormatOpus;
    if (isFlacConfig(packet)) return kAudioFormatFLAC;
    return 0;
}

std::vector<uint8_t> decoderConfig(const AudioStreamBasicDescription& format,
                                   std::span<const uint8_t> cookie) {
    switch (format.mFormatID) {
        case kAudioFormatMPEG4AAC:
        case kAudioFormatMPEG4AAC_HE:
        case kAudioFormatMPEG4AAC_HE_V2:
            if (!cookie.empty()) return {cookie.begin(), cookie.end()};
            return aacConfigFromFormat(format);
        case kAudioFormatAppleLossless:
            if (isAlacAtom(cookie)) return {cookie.begin(), cookie.end()};
            return {};
        case kAudioFormatVorbis:
            if (isVorbisConfig(cookie)) return xiphLacedVorbisHeaders(cookie);
            return {};
        case kAudioFormatOpus:
            if (isOpusConfig(cookie)) return {cookie.begin(), cookie.end()};
            return {};
        case kAudioFormatFLAC:
            if (isFlacConfig(cookie)) return {cookie.begin(), cookie.end()};
            return {};
        default: return {};
    }
}

std::vector<uint8_t> aacConfigFromFormat(const AudioStreamBasicDescription& format) {
    const bool highEfficiency = format.mFormatID == kAudioFormatMPEG4AAC_HE ||
                                format.mFormatID == kAudioFormatMPEG4AAC_HE_V2;
    uint32_t rate = uint32_t(format.mSampleRate);
    int channels = int(format.mChannelsPerFrame);
    if (highEfficiency && rate > 24000) rate /= 2;
    if (format.mFormatID == kAudioFormatMPEG4AAC_HE_V2) channels = 1;
    // Main, LC, SSR and LTP are carried in the flags; anything else plays as LC.
    const uint32_t objectType =
        (format.mFormatFlags >= 1 && format.mFormatFlags <= 4) ? format.mFormatFlags : 2;
    const uint32_t channelConfig = channels >= 1 && channels <= 6 ? uint32_t(channels)
                                   : channels == 8                ? 7u
                                                                  : 2u;
    BitWriter writer;
    writer.put(objectType, 5);
    size_t index = 0;
    while (index < kMPEG4AudioSampleRates.size() && kMPEG4AudioSampleRates[index] != rate) ++index;
    if (index < kMPEG4AudioSampleRates.size()) {
        writer.put(uint32_t(index), 4);
    } else {
        writer.put(15, 4);
        writer.put(rate & 0xFFFFFF, 24);
    }
    writer.put(channelConfig, 4);
    writer.put(0, 3);  // 1024-sample frames, no core coder, no extension
    return writer.take();
}

}  // namespace audio
