#pragma once
// AIFF and AIFC files of linear PCM: big-endian integer samples, and in AIFC also 'sowt'
// (little-endian), 'fl32'/'fl64' (float), 'in24'/'in32' and 'raw ' (8-bit offset binary).
// The sound data follows the 'SSND' chunk's offset field; other chunks are skipped.

#include <cstdint>
#include <optional>

#include "platform/audio/parser/PcmFileParser.h"

namespace audio::parsing {

class AiffParser final : public PcmFileParser {
public:
    AiffParser(ParserOutput& output, std::optional<uint64_t> start);

    // The 80-bit extended float of the COMM chunk's sample rate; NaN when it is not finite.
    static double extendedToDouble(const uint8_t* p);

private:
    enum class State { FormHeader, ChunkHeader, CommonChunk, SoundHeader, Skip, Data, Lost };

    ParseStep run(const uint8_t* data, size_t size) override;
    OSStatus readCommon(const uint8_t* p, uint32_t size);
    void resumeData(bool described) override;

    State state_ = State::FormHeader;
    bool isAifc_ = false;
    uint32_t chunkBytes_ = 0;
    uint32_t soundChunkSize_ = 0;
    uint64_t leadIn_ = 0;  // bytes between the SSND header and the first sample
    bool haveCommon_ = false;
};

}  // namespace audio::parsing
