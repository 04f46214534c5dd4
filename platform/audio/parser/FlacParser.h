#pragma once
// Native FLAC files and streams: "fLaC", the metadata blocks (STREAMINFO first, the rest passed
// over as they stream by, pictures included), then frames.
//
// A FLAC frame does not say how long it is. A frame ends where its CRC-16 sums to zero and
// the next frame's header (CRC-8 checked, of the same stream, numbered next) begins, or where
// STREAMINFO's sample count says the stream ends. A frame whose sum never comes out right is
// damaged: it is dropped where the next frame begins. Frames carry their own number, so after
// a jump to an unknown place the parser knows again where it is at the first frame it finds.
// The last frame is whole only when the reader says the data has ended: a sum that comes out
// right by chance is too likely over the length of a frame to be taken for its end.

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/audio/parser/ContainerParser.h"
#include "platform/audio/parser/FlacFormat.h"
#include "platform/audio/parser/SeekLanding.h"

namespace audio::parsing {

class FlacParser final : public ContainerParser {
public:
    // Junk tolerated between frames.
    static constexpr uint64_t kMaxJunkBytes = 1u << 20;
    static constexpr size_t kMaxIndexedFrames = 1u << 20;

    FlacParser(ParserOutput& output, std::optional<uint64_t> start);

    void discontinuity() override;
    OSStatus seek(int64_t packet, int64_t& offset, bool& estimated) override;
    void setSeekIndexWanted(bool wanted) override;
    // The frame being read is the last: it ends where its sum last came out right.
    void endOfData(const uint8_t* data, size_t size) override;

private:
    enum class State { Signature, BlockHeader, StreamInfo, SkipBlock, Frames, Lost };

    ParseStep run(const uint8_t* data, size_t size) override;
    ParseStep metadata(const uint8_t* data, size_t size, size_t& at, bool& done);
    ParseStep frames(const uint8_t* data, size_t size, size_t at);
    // The frame starting at data[at], `scanned_` bytes long, is whole.
    void endFrame(const uint8_t* data, size_t at);
    bool follows(const FlacFrameHeader& next) const;
    // Whether the frame that follows the current one begins at p; `need` set when more bytes
    // would tell.
    bool nextFrameAt(const uint8_t* p, size_t size, size_t& need) const;
    uint64_t firstSampleOf(const FlacFrameHeader& frame) const;
    void flush(const uint8_t* data);
    // After an estimated seek: the decoder drops the samples of the first frame before the target.
    void markSkip(const uint8_t* data, uint64_t samples);

    State state_ = State::Signature;
    bool lastBlock_ = false;
    uint32_t blockBytes_ = 0;
    bool haveStreamInfo_ = false;
    FlacStreamInfo info_;
    bool described_ = false;
    StreamDescription description_;
    uint32_t frameBound_ = 0;

    // The frame being read: its header, the bytes of it checked so far and their CRC-16.
    bool inFrame_ = false;
    FlacFrameHeader frame_;
    size_t scanned_ = 0;
    uint16_t crc_ = 0;
    uint64_t junk_ = 0;

    // Offsets, from the data offset, of frames 0..n-1.
    std::vector<uint32_t> index_;
    uint64_t indexedEnd_ = 0;
    bool indexWanted_ = true;
    SeekLanding landing_;

    std::vector<AudioStreamPacketDescription> batch_;
};

}  // namespace audio::parsing
