#pragma once
// RIFF WAVE files of linear PCM: 8-bit unsigned, 16/24/32-bit signed, 32/64-bit float, in
// plain or extensible 'fmt ' chunks. Chunks other than 'fmt ' and 'data' are skipped as they
// stream by. Sizes of 0xFFFFFFFF (and a data size of 0 in a RIFF of unknown size), as live
// encoders write them, mean "until the stream ends".

#include <cstdint>
#include <optional>

#include "platform/audio/parser/PcmFileParser.h"

namespace audio::parsing {

class WavParser final : public PcmFileParser {
public:
    WavParser(ParserOutput& output, std::optional<uint64_t> start);

private:
    enum class State { RiffHeader, ChunkHeader, FormatChunk, Skip, Data, Lost };

    ParseStep run(const uint8_t* data, size_t size) override;
    OSStatus readFormat(const uint8_t* p, uint32_t size);
    void startDataChunk(uint64_t dataStart, uint32_t declaredSize);
    void resumeData(bool described) override;

    State state_ = State::RiffHeader;
    bool riffSizeUnknown_ = false;
    uint32_t chunkBytes_ = 0;  // body of the chunk being read, pad byte included
    bool haveFormat_ = false;
};

}  // namespace audio::parsing
