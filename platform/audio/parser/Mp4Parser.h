#pragma once
// MP4/M4A files whose index ('moov') comes ahead of the data, as "faststart" files have it.
// Top-level boxes before the index are skipped as they stream by; the index is collected
// whole (up to kMaxIndexBytes), and from then on the samples of the audio track are handed
// over as their bytes go by. A file whose data ('mdat') comes first cannot be streamed:
// kAudioFileStreamError_NotOptimized, rather than a guess.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/audio/parser/ContainerParser.h"
#include "platform/audio/parser/Mp4Index.h"

namespace audio::parsing {

class Mp4Parser final : public ContainerParser {
public:
    Mp4Parser(ParserOutput& output, std::optional<uint64_t> start);

    void discontinuity() override;
    OSStatus seek(int64_t packet, int64_t& offset, bool& estimated) override;

private:
    enum class State { BoxHeader, Skip, Movie, Packets, Lost };

    ParseStep run(const uint8_t* data, size_t size) override;
    OSStatus finishMovie(uint64_t positionAfter);

    State state_ = State::BoxHeader;
    uint64_t movieBytes_ = 0;
    std::vector<uint8_t> movie_;
    std::optional<Mp4Track> track_;
};

}  // namespace audio::parsing
