#include "platform/audio/queue/MagicCookie.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <optional>

namespace audio {

namespace {

constexpr uint8_t kESDescrTag = 0x03;
constexpr uint8_t kDecoderConfigDescrTag = 0x04;
constexpr uint8_t kDecSpecificInfoTag = 0x05;
constexpr size_t kALACConfigSize = 24;
constexpr size_t kALACAtomSize = 36;

uint32_t readBE32(std::span<const uint8_t> bytes, size_t at) {
    return (uint32_t(bytes[at]) << 24) | (uint32_t(bytes[at + 1]) << 16) |
           (uint32_t(bytes[at + 2]) << 8) | uint32_t(bytes[at + 3]);
}

// One MPEG-4 descriptor: a tag, a length of one to four 7-bit groups, then the body.
struct Descriptor {
    uint8_t tag;
    std::span<const uint8_t> body;
    size_t totalSize;
};

std::optional<Descriptor> readDescriptor(std::span<const uint8_t> bytes) {
    if (bytes.size() < 2) return std::nullopt;
    size_t at = 1;
    size_t length = 0;
    for (int i = 0; i < 4; ++i) {
        if (at >= bytes.size()) return std::nullopt;
        const uint8_t b = bytes[at++];
        length = (length << 7) | (b & 0x7F);
        if (!(b & 0x80)) break;
    }
    if (length > bytes.size() - at) return std::nullopt;
    return Descriptor{bytes[0], bytes.subspan(at, length), at + length};
}

// The AudioSpecificConfig inside a decoder-config descriptor's body.
std::vector<uint8_t> configFromDecoderConfigBody(std::span<const uint8_t> body) {
    // objectTypeIndication, streamType, bufferSizeDB (3), maxBitrate (4), avgBitrate (4).
    constexpr size_t kFixedFields = 13;
    if (body.size() < kFixedFields) return {};
    auto rest = body.subspan(kFixedFields);
    while (!rest.empty()) {
        const auto descriptor = readDescriptor(rest);
        if (!descriptor) break;
        if (descriptor->tag == kDecSpecificInfoTag) {
            return {descriptor->body.begin(), descriptor->body.end()};
        }
        rest = rest.subspan(descriptor->totalSize);
    }
    return {};
}

std::vector<uint8_t> configFromESBody(std::span<const uint8_t> body) {
    if (body.size() < 3) return {};
    const uint8_t flags = body[2];
    size_t at = 3;
    if (flags & 0x80) at += 2;  // dependsOn_ES_ID
    if (flags & 0x40) {         // URL
        if (at >= body.size()) return {};
        at += 1 + body[at];
    }
    if (flags & 0x20) at += 2;  // OCR_ES_ID
    if (at > body.size()) return {};
    auto rest = body.subspan(at);
    while (!rest.empty()) {
        const auto descriptor = readDescriptor(rest);
        if (!descriptor) break;
        if (descriptor->tag == kDecoderConfigDescrTag) {
            return configFromDecoderConfigBody(descriptor->body);
        }
        rest = rest.subspan(descriptor->totalSize);
    }
    return {};
}

std::vector<uint8_t> configFromDescriptors(std::span<const uint8_t> bytes) {
    const auto descriptor = readDescriptor(bytes);
    if (!descriptor) return {};
    if (descriptor->tag == kESDescrTag) return configFromESBody(descriptor->body);
    if (descriptor->tag == kDecoderConfigDescrTag) {
        return configFromDecoderConfigBody(descriptor->body);
    }
    if (descriptor->tag == kDecSpecificInfoTag) {
        return {descriptor->body.begin(), descriptor->body.end()};
    }
    return {};
}

bool looksLikeAudioSpecificConfig(std::span<const uint8_t> bytes) {
    if (bytes.size() < 2 || bytes.size() > 64) return false;
    const int objectType = bytes[0] >> 3;
    const int frequencyIndex = ((bytes[0] & 0x07) << 1) | (bytes[1] >> 7);
    return objectType != 0 && (frequencyIndex <= 12 || frequencyIndex == 15);
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

}  // namespace

std::vector<uint8_t> aacConfigFromCookie(std::span<const uint8_t> cookie) {
    auto bytes = cookie;
    // A whole 'esds' atom: size, type, version and flags come before the descriptor.
    if (bytes.size() >= 12 && readBE32(bytes, 4) == fourCC("esds")) bytes = bytes.subspan(12);
    // Version and flags alone, as the atom's payload.
    else if (bytes.size() >= 5 && readBE32(bytes, 0) == 0 && bytes[4] == kESDescrTag) {
        bytes = bytes.subspan(4);
    }
    if (!bytes.empty() && (bytes[0] == kESDescrTag || bytes[0] == kDecoderConfigDescrTag ||
                           bytes[0] == kDecSpecificInfoTag)) {
        auto config = configFromDescriptors(bytes);
        if (!config.empty()) return config;
    }
    if (looksLikeAudioSpecificConfig(bytes)) return {bytes.begin(), bytes.end()};
    return {};
}

std::vector<uint8_t> aacConfigFromFormat(const AudioStreamBasicDescription& format) {
    static constexpr std::array<int, 13> kRates = {96000, 88200, 64000, 48000, 44100,
                                                   32000, 24000, 22050, 16000, 12000,
                                                   11025, 8000,  7350};
    const bool highEfficiency = format.mFormatID == kAudioFormatMPEG4AAC_HE ||
                                format.mFormatID == kAudioFormatMPEG4AAC_HE_V2;
    int rate = int(format.mSampleRate);
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
    while (index < kRates.size() && kRates[index] != rate) ++index;
    if (index < kRates.size()) {
        writer.put(uint32_t(index), 4);
    } else {
        writer.put(15, 4);
        writer.put(uint32_t(rate) & 0xFFFFFF, 24);
    }
    writer.put(channelConfig, 4);
    writer.put(0, 3);  // 1024-sample frames, no core coder, no extension
    return writer.take();
}

std::vector<uint8_t> alacConfigFromCookie(std::span<const uint8_t> cookie) {
    auto wrap = [](std::span<const uint8_t> config) {
        static constexpr uint8_t kHeader[] = {0, 0, 0, uint8_t(kALACAtomSize), 'a', 'l', 'a', 'c',
                                              0, 0, 0, 0};
        std::vector<uint8_t> atom(kALACAtomSize);
        std::copy(std::begin(kHeader), std::end(kHeader), atom.begin());
        std::copy_n(config.begin(), kALACConfigSize, atom.begin() + sizeof kHeader);
        return atom;
    };
    if (cookie.size() == kALACConfigSize) return wrap(cookie);
    // The 'alac' atom, alone or after a 'frma' atom: its config follows version and flags.
    for (size_t at = 4; at + 8 + kALACConfigSize <= cookie.size(); ++at) {
        const uint32_t atomSize = readBE32(cookie, at - 4);
        // The size check keeps the 'alac' inside a 'frma' atom from passing for an atom.
        if (readBE32(cookie, at) == fourCC("alac") && atomSize >= kALACAtomSize &&
            atomSize <= cookie.size() - (at - 4)) {
            return wrap(cookie.subspan(at + 8, kALACConfigSize));
        }
    }
    // Version and flags, then the config.
    if (cookie.size() == kALACConfigSize + 4 && readBE32(cookie, 0) == 0) {
        return wrap(cookie.subspan(4));
    }
    return {};
}

}  // namespace audio
