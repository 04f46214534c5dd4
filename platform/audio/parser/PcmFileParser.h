#pragma once
// The common part of the plain PCM containers (WAV, AIFF): one description read from a header
// chunk, then one data chunk of constant-size frames that the packetizer hands on. Where the
// data starts, how a seek lands in it and how a jump to an unknown place resumes are the same
// for both, and live here.

#include <cstdint>
#include <optional>

#include "platform/audio/parser/ContainerParser.h"
#include "platform/audio/parser/PcmPacketizer.h"

namespace audio::parsing {

class PcmFileParser : public ContainerParser {
public:
    OSStatus seek(int64_t packet, int64_t& offset, bool& estimated) final;
    void discontinuity() final;

protected:
    using ContainerParser::ContainerParser;

    // The data chunk begins at file offset `dataStart` (0 when unknown) with `dataBytes` of
    // audio (nothing: until the stream ends; `padded`: a pad byte follows); publishes the
    // description.
    void startData(uint64_t dataStart, std::optional<uint64_t> dataBytes, bool padded);

    // After a seek or a jump: the state machine reads frames again when `described`; without a
    // description before the jump it can never recover.
    virtual void resumeData(bool described) = 0;

    bool described_ = false;
    StreamDescription description_;
    std::optional<uint64_t> dataBytes_;
    bool dataPadded_ = false;
    PcmPacketizer pcm_;
};

}  // namespace audio::parsing
