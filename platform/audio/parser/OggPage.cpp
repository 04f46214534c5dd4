#include "platform/audio/parser/OggPage.h"

#include <array>
#include <cstring>

#include "platform/audio/parser/ByteOrder.h"

namespace audio::parsing {

namespace {

constexpr std::array<uint32_t, 256> makeCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t crc = i << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : crc << 1;
        }
        table[i] = crc;
    }
    return table;
}

constexpr std::array<uint32_t, 256> kCrcTable = makeCrcTable();

uint32_t crcOf(uint32_t crc, const uint8_t* p, size_t size) {
    for (size_t i = 0; i < size; ++i) crc = (crc << 8) ^ kCrcTable[((crc >> 24) ^ p[i]) & 0xFF];
    return crc;
}

// The page's CRC is computed with its own field taken as zero.
uint32_t pageCrc(const uint8_t* p, size_t pageBytes) {
    static constexpr uint8_t kZero[4] = {};
    uint32_t crc = crcOf(0, p, 22);
    crc = crcOf(crc, kZero, 4);
    return crcOf(crc, p + 26, pageBytes - 26);
}

}  // namespace

OggPageResult readOggPage(const uint8_t* p, size_t size, OggPage& page, size_t& need) {
    need = 0;
    if (size < kOggHeaderBytes) {
        need = kOggHeaderBytes;
        return OggPageResult::NeedMore;
    }
    if (std::memcmp(p, "OggS", 4) != 0 || p[4] != 0 || (p[5] & ~0x07) != 0) {
        return OggPageResult::NotAPage;
    }
    const uint32_t segments = p[26];
    const size_t headerBytes = kOggHeaderBytes + segments;
    if (size < headerBytes) {
        need = headerBytes;
        return OggPageResult::NeedMore;
    }
    size_t bodyBytes = 0;
    for (uint32_t i = 0; i < segments; ++i) bodyBytes += p[kOggHeaderBytes + i];
    const size_t pageBytes = headerBytes + bodyBytes;
    if (size < pageBytes) {
        need = pageBytes;
        return OggPageResult::NeedMore;
    }
    if (pageCrc(p, pageBytes) != le32(p + 22)) return OggPageResult::NotAPage;
    page.flags = p[5];
    page.granule = int64_t(le64(p + 6));
    page.serial = le32(p + 14);
    page.sequence = le32(p + 18);
    page.segments = segments;
    page.lacing = p + kOggHeaderBytes;
    page.body = p + headerBytes;
    page.bodyBytes = bodyBytes;
    page.pageBytes = pageBytes;
    return OggPageResult::Page;
}

}  // namespace audio::parsing
