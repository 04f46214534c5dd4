#pragma once
// Ogg pages: the capture pattern, the header, the segment table and the CRC that tells a page
// from bytes that only look like one.

#include <cstddef>
#include <cstdint>

namespace audio::parsing {

constexpr size_t kOggHeaderBytes = 27;
constexpr size_t kOggMaxPageBytes = kOggHeaderBytes + 255 + 255 * 255;

constexpr uint8_t kOggContinued = 0x01;
constexpr uint8_t kOggFirstPage = 0x02;  // beginning of a logical stream
constexpr uint8_t kOggLastPage = 0x04;   // end of a logical stream

struct OggPage {
    uint8_t flags = 0;
    int64_t granule = -1;  // -1: no packet ends on this page
    uint32_t serial = 0;
    uint32_t sequence = 0;
    const uint8_t* lacing = nullptr;
    uint32_t segments = 0;
    const uint8_t* body = nullptr;
    size_t bodyBytes = 0;
    size_t pageBytes = 0;
};

enum class OggPageResult { Page, NeedMore, NotAPage };

// A page at p (which begins "OggS"): `need` is set when more bytes are needed to tell.
OggPageResult readOggPage(const uint8_t* p, size_t size, OggPage& page, size_t& need);

}  // namespace audio::parsing
