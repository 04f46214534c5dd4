#pragma once
// Where each packet of a container with an index lies (MP4 sample tables, CAF packet
// tables), and the delivery of those packets as the file's bytes stream by.
//
// Packets lie in chunks: runs of packets stored back to back from a file offset. Chunks
// are in file order and do not overlap (checked when the table is built), so packets come out
// in order as the bytes go by and anything between chunks is skipped.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/audio/parser/FormatParser.h"

namespace audio::parsing {

class PacketTable {
public:
    struct Chunk {
        uint64_t offset = 0;  // file offset of the chunk's first packet
        uint32_t packets = 0;
    };

    // `sizes` holds one size per packet, or is empty when every packet is `constantSize`
    // bytes. `frames`, when not empty, holds each packet's frame count (formats whose packets
    // vary in length). Nothing when the table is inconsistent: packets beyond kMaxPacketBytes,
    // chunks out of order or overlapping, counts that do not add up.
    static std::optional<PacketTable> build(std::vector<Chunk> chunks, std::vector<uint32_t> sizes,
                                            uint32_t constantSize, std::vector<uint32_t> frames);

    uint64_t packetCount() const { return packetCount_; }
    uint32_t maxPacketSize() const { return maxPacketSize_; }
    uint64_t firstOffset() const { return chunks_.empty() ? 0 : chunks_.front().offset; }
    uint64_t endOffset() const { return endOffset_; }  // just past the last packet
    uint64_t totalPacketBytes() const { return totalBytes_; }

    // File offset of `packet`; endOffset() for packet == packetCount().
    uint64_t offsetOf(uint64_t packet) const;

    // Delivery. `position` is the file offset of data[0]. Packets before the cursor's are
    // behind; bytes after the last packet are consumed and dropped.
    ParseStep deliver(ParserOutput& output, const uint8_t* data, size_t size, uint64_t position);
    // Moves the delivery cursor to `packet` (at most packetCount()).
    void moveTo(uint64_t packet);

private:
    uint32_t sizeOf(uint64_t packet) const {
        return sizes_.empty() ? constantSize_ : sizes_[packet];
    }
    void flush(ParserOutput& output, const uint8_t* data);

    std::vector<Chunk> chunks_;
    std::vector<uint64_t> firstPacket_;  // per chunk
    std::vector<uint32_t> sizes_;
    uint32_t constantSize_ = 0;
    std::vector<uint32_t> frames_;
    uint64_t packetCount_ = 0;
    uint32_t maxPacketSize_ = 0;
    uint64_t endOffset_ = 0;
    uint64_t totalBytes_ = 0;

    // Cursor: the next packet to deliver and where it lies.
    uint64_t packet_ = 0;
    size_t chunk_ = 0;
    uint64_t packetInChunk_ = 0;
    uint64_t nextOffset_ = 0;
    std::vector<AudioStreamPacketDescription> batch_;
};

}  // namespace audio::parsing
