#pragma once
// Tags that sit between or around audio frames: ID3v2 ahead of MP3 and ADTS streams (and
// sometimes between two), ID3v1 and APE at the end. They are skipped as they stream by;
// their size is checked, never allocated.

#include <cstdint>
#include <optional>

namespace audio::parsing {

constexpr uint32_t kId3v2HeaderBytes = 10;
constexpr uint32_t kId3v1Bytes = 128;
constexpr uint32_t kApeTagHeaderBytes = 32;

// Whole size of the ID3v2 tag whose 10-byte header p holds, footer included; nothing when p
// is not a well-formed header (its size bytes must be sync-safe, below 0x80).
std::optional<uint64_t> id3v2TagBytes(const uint8_t* p);

// p holds 32 bytes. The bytes to skip when they are an APE tag header (the tag's items and
// footer follow), or an APE footer (the items already went by as junk).
std::optional<uint64_t> apeTagBytes(const uint8_t* p);

// p holds 3 bytes.
bool isId3v1Tag(const uint8_t* p);

}  // namespace audio::parsing
