#include "platform/audio/parser/MetadataTags.h"

#include <cstring>

#include "platform/audio/parser/ByteOrder.h"

namespace audio::parsing {

std::optional<uint64_t> id3v2TagBytes(const uint8_t* p) {
    if (std::memcmp(p, "ID3", 3) != 0) return std::nullopt;
    if (p[3] == 0xFF || p[4] == 0xFF) return std::nullopt;
    uint64_t size = 0;
    for (int i = 6; i < 10; ++i) {
        if (p[i] & 0x80) return std::nullopt;
        size = (size << 7) | p[i];
    }
    const bool footer = (p[5] & 0x10) != 0;
    return kId3v2HeaderBytes + size + (footer ? kId3v2HeaderBytes : 0);
}

std::optional<uint64_t> apeTagBytes(const uint8_t* p) {
    if (std::memcmp(p, "APETAGEX", 8) != 0) return std::nullopt;
    const uint32_t version = le32(p + 8);
    if (version != 1000 && version != 2000) return std::nullopt;
    const uint32_t size = le32(p + 12);  // items and footer
    const uint32_t flags = le32(p + 20);
    const bool isHeader = (flags & (1u << 29)) != 0;
    return isHeader ? uint64_t(kApeTagHeaderBytes) + size : uint64_t(kApeTagHeaderBytes);
}

bool isId3v1Tag(const uint8_t* p) { return std::memcmp(p, "TAG", 3) == 0; }

}  // namespace audio::parsing
