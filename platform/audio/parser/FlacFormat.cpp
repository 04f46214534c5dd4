#include "platform/audio/parser/FlacFormat.h"

#include <array>
#include <cstring>

#include "platform/audio/parser/BitReader.h"
#include "platform/audio/parser/ByteOrder.h"

namespace audio::parsing {

namespace {

uint8_t crc8(const uint8_t* p, size_t size) {
    uint8_t crc = 0;
    for (size_t i = 0; i < size; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = uint8_t((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

constexpr std::array<uint16_t, 256> makeCrc16Table() {
    std::array<uint16_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint16_t crc = uint16_t(i << 8);
        for (int bit = 0; bit < 8; ++bit) {
            crc = uint16_t((crc & 0x8000) ? (crc << 1) ^ 0x8005 : crc << 1);
        }
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kCrc16Table = makeCrc16Table();

uint32_t blockSizeOfCode(uint32_t code) {
    if (code == 1) return 192;
    if (code >= 2 && code <= 5) return 576u << (code - 2);
    if (code >= 8) return 256u << (code - 8);
    return 0;  // 0 is reserved; 6 and 7 are read from the end of the header
}

constexpr uint32_t kRates[12] = {0,     88200, 176400, 192000, 8000,  16000,
                                 22050, 24000, 32000,  44100,  48000, 96000};
constexpr uint32_t kSampleSizes[8] = {0, 8, 12, 0, 16, 20, 24, 32};

// FLAC's UTF-8-like coding of the frame or sample number: up to 36 bits in 7 bytes.
bool readCodedNumber(const uint8_t* p, size_t size, size_t& at, uint64_t& value, size_t& need) {
    const uint8_t first = p[at];
    int extra = 0;
    if (first < 0x80) {
        value = first;
    } else if ((first & 0xE0) == 0xC0) {
        extra = 1, value = first & 0x1F;
    } else if ((first & 0xF0) == 0xE0) {
        extra = 2, value = first & 0x0F;
    } else if ((first & 0xF8) == 0xF0) {
        extra = 3, value = first & 0x07;
    } else if ((first & 0xFC) == 0xF8) {
        extra = 4, value = first & 0x03;
    } else if ((first & 0xFE) == 0xFC) {
        extra = 5, value = first & 0x01;
    } else if (first == 0xFE) {
        extra = 6, value = 0;
    } else {
        return false;
    }
    if (size < at + 1 + size_t(extra)) {
        need = at + 1 + size_t(extra);
        return true;
    }
    for (int i = 1; i <= extra; ++i) {
        const uint8_t next = p[at + size_t(i)];
        if ((next & 0xC0) != 0x80) return false;
        value = (value << 6) | (next & 0x3F);
    }
    at += 1 + size_t(extra);
    return true;
}

}  // namespace

std::optional<FlacStreamInfo> readFlacStreamInfo(const uint8_t* p) {
    BitReader bits(p, kFlacStreamInfoBytes);
    FlacStreamInfo info;
    info.minBlockSize = bits.read(16);
    info.maxBlockSize = bits.read(16);
    info.minFrameBytes = bits.read(24);
    info.maxFrameBytes = bits.read(24);
    info.sampleRate = bits.read(20);
    info.channels = bits.read(3) + 1;
    info.bitsPerSample = bits.read(5) + 1;
    info.totalSamples = (uint64_t(bits.read(4)) << 32) | bits.read(32);
    if (info.maxBlockSize < 16 || info.minBlockSize > info.maxBlockSize || info.sampleRate == 0 ||
        info.bitsPerSample < 4) {
        return std::nullopt;
    }
    return info;
}

uint32_t flacFrameBound(const FlacStreamInfo& info) {
    if (info.maxFrameBytes > 0) return info.maxFrameBytes;
    // Every subframe verbatim (a side channel has one bit more), plus headers and padding.
    const uint64_t bits = uint64_t(info.maxBlockSize) * info.channels * (info.bitsPerSample + 1);
    return uint32_t(bits / 8 + 64 + info.channels * 8);
}

void describeFlac(const FlacStreamInfo& info, const uint8_t* streamInfo,
                  StreamDescription& description) {
    AudioStreamBasicDescription& format = description.format;
    format = {};
    format.mSampleRate = info.sampleRate;
    format.mFormatID = kAudioFormatFLAC;
    format.mFramesPerPacket = info.maxBlockSize;
    format.mChannelsPerFrame = info.channels;
    format.mBitsPerChannel = info.bitsPerSample;
    description.formatList = {formatListItem(format)};
    description.magicCookie.assign({'f', 'L', 'a', 'C', 0x80, 0, 0, uint8_t(kFlacStreamInfoBytes)});
    description.magicCookie.insert(description.magicCookie.end(), streamInfo,
                                   streamInfo + kFlacStreamInfoBytes);
    const uint32_t bound = flacFrameBound(info);
    description.packetSizeUpperBound = bound;
    description.maximumPacketSize = bound;
    if (info.totalSamples > 0 && info.minBlockSize == info.maxBlockSize) {
        description.audioDataPacketCount =
            (info.totalSamples + info.maxBlockSize - 1) / info.maxBlockSize;
    }
}

FlacHeaderResult readFlacFrameHeader(const uint8_t* p, size_t size, FlacFrameHeader& header,
                                     size_t& need) {
    need = 0;
    if (size < 4) {
        if (size >= 1 && p[0] != 0xFF) return FlacHeaderResult::NotAHeader;
        if (size >= 2 && (p[1] & 0xFE) != 0xF8) return FlacHeaderResult::NotAHeader;
        need = 4;
        return FlacHeaderResult::NeedMore;
    }
    if (p[0] != 0xFF || (p[1] & 0xFE) != 0xF8) return FlacHeaderResult::NotAHeader;
    header = {};
    header.variableBlockSize = p[1] & 1;
    const uint32_t blockCode = p[2] >> 4;
    const uint32_t rateCode = p[2] & 0x0F;
    const uint32_t channelCode = p[3] >> 4;
    const uint32_t sizeCode = (p[3] >> 1) & 7;
    if (blockCode == 0 || rateCode == 15 || channelCode > 10 || sizeCode == 3 || (p[3] & 1)) {
        return FlacHeaderResult::NotAHeader;
    }
    size_t at = 4;
    if (size <= at) {
        need = at + 1;
        return FlacHeaderResult::NeedMore;
    }
    if (!readCodedNumber(p, size, at, header.number, need)) return FlacHeaderResult::NotAHeader;
    if (need) return FlacHeaderResult::NeedMore;
    const size_t blockBytes = blockCode == 6 ? 1 : blockCode == 7 ? 2 : 0;
    const size_t rateBytes = rateCode == 12 ? 1 : (rateCode == 13 || rateCode == 14) ? 2 : 0;
    const size_t total = at + blockBytes + rateBytes + 1;
    if (size < total) {
        need = total;
        return FlacHeaderResult::NeedMore;
    }
    header.blockSize = blockSizeOfCode(blockCode);
    if (blockCode == 6) header.blockSize = uint32_t(p[at]) + 1;
    if (blockCode == 7) header.blockSize = uint32_t(be16(p + at)) + 1;
    at += blockBytes;
    if (rateCode < 12) header.sampleRate = kRates[rateCode];
    if (rateCode == 12) header.sampleRate = uint32_t(p[at]) * 1000;
    if (rateCode == 13) header.sampleRate = be16(p + at);
    if (rateCode == 14) header.sampleRate = uint32_t(be16(p + at)) * 10;
    at += rateBytes;
    header.channels = channelCode < 8 ? channelCode + 1 : 2;
    header.bitsPerSample = kSampleSizes[sizeCode];
    if (crc8(p, at) != p[at]) return FlacHeaderResult::NotAHeader;
    header.headerBytes = uint32_t(at + 1);
    return FlacHeaderResult::Header;
}

bool flacHeaderFits(const FlacFrameHeader& header, const FlacStreamInfo& info) {
    if (header.channels != info.channels) return false;
    if (header.sampleRate != 0 && header.sampleRate != info.sampleRate) return false;
    if (header.bitsPerSample != 0 && header.bitsPerSample != info.bitsPerSample) return false;
    return header.blockSize <= info.maxBlockSize;
}

uint16_t flacCrc16(uint16_t crc, const uint8_t* p, size_t size) {
    for (size_t i = 0; i < size; ++i) {
        crc = uint16_t((crc << 8) ^ kCrc16Table[((crc >> 8) ^ p[i]) & 0xFF]);
    }
    return crc;
}

}  // namespace audio::parsing
