#pragma once
// RIFF WAVE files of linear PCM: 8-bit unsigned, 16/24/32-bit signed, 32/64-bit float, in
// plain or extensible 'fmt ' chunks. Chunks other than 'fmt ' and 'data' are skipped as they
// stream by. Sizes of 0xFFFFFFFF (and a data size of 0 in a RIFF of unknown size), as live
// encoders write them, mean "until the stream ends".

#include <cstdint>
#include <optional>

#include "platform/audio/parser/ContainerParser.h"
#include "platform/audio/parser/PcmPacketizer.h"

namespace audio::parsing {

class WavParser final : public ContainerParser {
public:
    WavParser(ParserOutput& output, std::optional<uint64_t> start);

    void discontinuity() override;
    OSStatus seek(int64_t packet, int64_t& offset, bool& estimated) override;

private:
    enum class State { RiffHeader, ChunkHeader, FormatChunk, Skip, Data, Lost };

    ParseStep run(const uint8_t* data, size_t size) override;
    OSStatus readFormat(const uint8_t* p, uint32_t size);
    void startData(uint64_t dataStart, uint32_t declaredSize);

    State state_ = State::RiffHeader;
    bool riffSizeUnknown_ = false;
    uint32_t chunkBytes_ = 0;     // body of the chunk being read, pad byte included
    bool haveFormat_ = false;
    bool described_ = false;
    StreamDescription description_;
    std::optional<uint64_t> dataBytes_;
    bool dataPadded_ = false;
    PcmPacketizer pcm_;
};

}  // namespace audio::parsing
