#pragma once
// Core Audio Format files: linear PCM, and AAC, ALAC or MP3 packets placed by a packet table.
// The description ('desc'), the cookie ('kuki') and, for packets of varying size, the packet
// table ('pakt') must come before the audio data: a stream cannot go back for them, so a file
// whose packet table follows the data fails with kAudioFileStreamError_NotOptimized. A data
// chunk size of -1, as live encoders write it, means "until the stream ends".

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/audio/parser/ContainerParser.h"
#include "platform/audio/parser/PacketTable.h"
#include "platform/audio/parser/PcmPacketizer.h"

namespace audio::parsing {

class CafParser final : public ContainerParser {
public:
    CafParser(ParserOutput& output, std::optional<uint64_t> start);

    void discontinuity() override;
    OSStatus seek(int64_t packet, int64_t& offset, bool& estimated) override;

private:
    enum class State {
        FileHeader,
        ChunkHeader,
        SmallChunk,
        PacketTableChunk,
        DataHeader,
        Skip,
        Pcm,
        Packets,
        Lost
    };

    ParseStep run(const uint8_t* data, size_t size) override;
    OSStatus readDescription(const uint8_t* p);
    OSStatus readPacketTable();
    OSStatus startData(uint64_t dataStart);

    State state_ = State::FileHeader;
    uint32_t chunkType_ = 0;
    int64_t chunkSize_ = 0;           // -1 for a data chunk that runs to the end
    std::vector<uint8_t> collected_;  // the packet table as it arrives

    bool haveDescription_ = false;
    uint32_t formatID_ = 0;
    uint32_t formatFlags_ = 0;
    double sampleRate_ = 0;
    uint32_t bytesPerPacket_ = 0;
    uint32_t framesPerPacket_ = 0;
    uint32_t channels_ = 0;
    uint32_t bitsPerChannel_ = 0;
    std::vector<uint8_t> cookie_;
    std::optional<PacketTable> table_;
    std::vector<uint32_t> packetSizes_;
    std::vector<uint32_t> packetFrames_;
    uint64_t tablePackets_ = 0;
    bool havePacketTable_ = false;

    bool described_ = false;
    StreamDescription description_;
    std::optional<uint64_t> dataBytes_;
    PcmPacketizer pcm_;
};

}  // namespace audio::parsing
