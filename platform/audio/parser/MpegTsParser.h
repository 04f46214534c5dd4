#pragma once
// MPEG transport streams, as HLS serves audio in them: 188-byte packets, the program tables
// (PAT, then the PMT it points to) naming the first audio elementary stream, whose PES payloads
// are put back together into one continuous elementary stream and handed to the parser of that
// format (ADTS AAC, or MPEG audio). That parser then finds its frames as in a plain stream,
// across packets and segments alike.
//
// Packets are found by their sync byte at 188-byte steps; after junk or a gap the parser looks
// for three in a row. A continuity counter that skips tells of lost packets: the elementary
// stream's parser is told of a discontinuity and re-synchronises on its next frame.
// Transport streams carry no index: a seek is the reader's (an HLS segment), never the parser's.

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/audio/parser/ByteQueue.h"
#include "platform/audio/parser/FormatParser.h"

namespace audio::parsing {

class MpegTsParser final : public FormatParser {
public:
    static constexpr size_t kPacketBytes = 188;
    // Bytes of packets without the audio stream's tables tolerated before giving up.
    static constexpr uint64_t kMaxBytesWithoutAudio = 4u << 20;

    explicit MpegTsParser(ParserOutput& output);

    // Whether p (at least 3 packets long) begins a transport stream.
    static bool begins(const uint8_t* p, size_t size);

    ParseStep parse(const uint8_t* data, size_t size) override;
    void discontinuity() override;
    OSStatus seek(int64_t packet, int64_t& offset, bool& estimated) override;
    void endOfData(const uint8_t* data, size_t size) override;

private:
    void takePacket(const uint8_t* packet);
    void takeSection(const uint8_t* section, size_t size, bool isPat);
    void takePesPayload(const uint8_t* payload, size_t size, bool unitStart);
    OSStatus feedElementaryStream();

    ParserOutput& output_;
    std::optional<uint16_t> pmtPid_;
    std::optional<uint16_t> audioPid_;
    std::optional<uint8_t> continuity_;
    // Bytes of the current PES header still to pass over.
    size_t pesHeaderLeft_ = 0;
    bool inPes_ = false;
    std::unique_ptr<FormatParser> elementary_;
    ByteQueue es_;
    size_t esNeed_ = 1;
    bool esGap_ = false;
    uint64_t withoutAudio_ = 0;
    OSStatus failure_ = noErr;
    bool synchronised_ = true;
};

}  // namespace audio::parsing
