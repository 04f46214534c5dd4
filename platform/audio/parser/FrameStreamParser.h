#pragma once
// The parser of self-delimiting frame streams (MP3, ADTS AAC): frame sync, re-sync after junk
// or a gap, tags between frames, the index of frames seen and the seek that uses it.
//
// States: Searching for a frame start that consecutive frames confirm; Locked, reading one
// frame after another at the distances their headers give; Skipping a tag. A header that
// is not where the previous frame said, or that belongs to another stream, drops the parser
// back to Searching. More than kMaxJunkBytes without sync is an invalid stream.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/audio/parser/FormatParser.h"
#include "platform/audio/parser/FrameSyntax.h"

namespace audio::parsing {

class FrameStreamParser : public FormatParser {
public:
    // Junk tolerated between frames once the stream has been recognised.
    static constexpr uint64_t kMaxJunkBytes = 1u << 20;
    // Frames whose offsets are kept for exact seeks: 3.8 hours of 44.1 kHz MP3 in 4 MB.
    static constexpr size_t kMaxIndexedFrames = 1u << 20;

    ParseStep parse(const uint8_t* data, size_t size) override;
    void discontinuity() override;
    OSStatus seek(int64_t packet, int64_t& offset, bool& estimated) override;
    void setSeekIndexWanted(bool wanted) override;

protected:
    // `start`: file offset of the first byte the parser will see, when known.
    FrameStreamParser(ParserOutput& output, const FrameSyntax& syntax,
                      std::optional<uint64_t> start);

    // The first frame of the stream, whole. Fills the description except the data offset and
    // says whether the frame only describes the stream (an MP3 "Xing" frame), so that it is
    // not audio and the data begins after it.
    virtual bool describe(const uint8_t* frame, const FrameHeader& header,
                          StreamDescription& description) = 0;
    // An estimate from a seek table of the stream, counted from the data offset.
    virtual std::optional<double> tableEstimate(int64_t /*packet*/) const { return std::nullopt; }

private:
    enum class Mode { Searching, Locked, Skipping };

    void addPacket(size_t at, const FrameHeader& header);
    void flush(const uint8_t* data);
    // A tag at data[0] when Locked or Searching: true and skipping set up, or false. Sets
    // `need` when more bytes are needed to tell.
    bool startTagSkip(const uint8_t* data, size_t size, size_t& need);
    void startFirstFrame(const uint8_t* data, const FrameHeader& header, size_t& at);

    ParserOutput& output_;
    const FrameSyntax& syntax_;
    Mode mode_ = Mode::Searching;
    Mode afterSkip_ = Mode::Searching;
    uint64_t junk_ = 0;
    // File offset of data[0] in the current parse call, when known.
    std::optional<uint64_t> position_;
    // Index of the next audio packet, when known.
    std::optional<uint64_t> nextPacket_;

    bool described_ = false;
    FrameHeader stream_;  // the first frame's header, once described
    StreamDescription description_;
    uint32_t infoFrameBytes_ = 0;

    // Offsets, counted from the data offset, of packets 0..n-1.
    std::vector<uint32_t> index_;
    uint64_t indexedEnd_ = 0;  // offset just past the last indexed packet
    bool indexWanted_ = true;

    std::vector<AudioStreamPacketDescription> batch_;
};

}  // namespace audio::parsing
