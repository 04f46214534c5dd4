#pragma once
// What a "Range" request header asks of a resource of a known length.
//
// One range of bytes is served; anything the station does not serve (another unit, several
// ranges, a malformed or reversed range) is ignored and the whole resource sent, as HTTP
// allows. A last-byte position at or past the end reaches to the end, so "bytes=N-LENGTH"
// (what the streamer sends when it seeks) asks for everything from N.

#include <cstdint>
#include <optional>
#include <string_view>

namespace station {

struct ByteRange {
    enum class Kind { Whole, Partial, Unsatisfiable };
    Kind kind = Kind::Whole;
    uint64_t first = 0;  // Partial only: first and last byte, inclusive
    uint64_t last = 0;
};

ByteRange resolveByteRange(std::optional<std::string_view> rangeHeader, uint64_t length);

}  // namespace station
