#pragma once
// The contract between the file stream (AudioFileStream.cpp) and the parser of one container.
//
// The stream owns a byte queue. It hands a parser the bytes it has; the parser consumes a
// prefix and, when it stops short of the end, says how many bytes it needs (counted from the
// first byte it did not consume) before it can go on. The stream then gathers that many
// before calling again, so a header that straddles two pushes is parsed once, whole, and a
// parser never rescans the same bytes. Parsers that collect large structures (an MP4 index,
// a CAF packet table) consume the bytes into their own storage as they come instead of
// asking the stream to hold them.
//
// All calls come from the thread that called AudioFileStreamParseBytes or
// AudioFileStreamSeek; ParserOutput calls run the client's callbacks on that thread.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "platform/audio/AudioTypes.h"
#include "platform/audio/parser/StreamDescription.h"

namespace audio::parsing {

// Limits on what the stream will hold on a parser's behalf, and on what parsers collect.
// A header claiming more is treated as broken, never allocated.
constexpr size_t kMaxPacketBytes = 1u << 20;
constexpr size_t kMaxIndexBytes = 64u << 20;

class ParserOutput {
public:
    // Once, before the first packets: the stream notifies the listener of the properties.
    virtual void publish(const StreamDescription& description) = 0;
    // Whole packets. `descriptions` null for constant-size packets (PCM), whose `count` is
    // bytes / bytes per packet. Start offsets are relative to `data`.
    virtual void packets(const uint8_t* data, uint32_t bytes, uint32_t count,
                         AudioStreamPacketDescription* descriptions) = 0;
    // False once the client closed the stream from inside a callback: stop at once.
    virtual bool open() const = 0;
    // The parser would go on faster from file offset `offset` (an index after the data): the
    // reader is told, and may push the bytes from there with the discontinuity flag, which the
    // parser then takes to begin at `offset`. A reader that keeps pushing in order is fine too.
    virtual void requestBytesFrom(uint64_t offset) = 0;

protected:
    ~ParserOutput() = default;
};

struct ParseStep {
    size_t consumed = 0;
    // Bytes wanted, from the first unconsumed one, before the next call can make progress.
    // When consumed < size it exceeds size - consumed.
    size_t need = 1;
    OSStatus status = noErr;
};

class FormatParser {
public:
    virtual ~FormatParser() = default;

    virtual ParseStep parse(const uint8_t* data, size_t size) = 0;

    // The next bytes do not follow the previous ones and where they come from is not known.
    virtual void discontinuity() = 0;

    // Byte offset, within the audio data, of `packet`; `estimated` set when the stream does
    // not tell it exactly. The call also prepares the parser for a reader that repositions:
    // the next bytes are taken to begin at that offset when it is exact, and at an unknown
    // place when it is estimated (a reader may well choose its own offset then).
    virtual OSStatus seek(int64_t packet, int64_t& offset, bool& estimated) = 0;

    // No more bytes will come; `data` holds what the parser asked the stream to gather.
    virtual void endOfData(const uint8_t* /*data*/, size_t /*size*/) {}

    // False when the reader can never reposition (a resource without a length): a parser then
    // keeps nothing for exact seeks that grows with the stream, and drops what it kept.
    virtual void setSeekIndexWanted(bool /*wanted*/) {}

protected:
    // Passes over what is left of a skipped chunk or tag as the bytes stream by, so that one of
    // any size is never held; true once all of it is past.
    bool skipStreamed(size_t& at, size_t avail) {
        const size_t n = size_t(std::min<uint64_t>(skipRemaining_, avail));
        at += n;
        if (skipRemaining_ != UINT64_MAX) skipRemaining_ -= n;
        return skipRemaining_ == 0;
    }

    uint64_t skipRemaining_ = 0;  // UINT64_MAX: to the end of the stream
};

inline ParseStep needMore(size_t consumed, size_t need) { return {consumed, need, noErr}; }
inline ParseStep failed(OSStatus status) { return {0, 1, status}; }

}  // namespace audio::parsing
