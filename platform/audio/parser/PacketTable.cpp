#include "platform/audio/parser/PacketTable.h"

#include <algorithm>

#include "platform/audio/parser/AudioFileStream.h"

namespace audio::parsing {

namespace {
constexpr size_t kBatchPackets = 1024;
}

std::optional<PacketTable> PacketTable::build(std::vector<Chunk> chunks,
                                              std::vector<uint32_t> sizes, uint32_t constantSize,
                                              std::vector<uint32_t> frames) {
    PacketTable table;
    // Where the data starts even when no packet is placed: the end of an empty table.
    uint64_t dataStart = chunks.empty() ? 0 : UINT64_MAX;
    for (const Chunk& c : chunks) dataStart = std::min(dataStart, c.offset);
    // Empty chunks place nothing; dropping them keeps the cursor simple.
    std::erase_if(chunks, [](const Chunk& c) { return c.packets == 0; });
    uint64_t count = 0;
    for (const Chunk& c : chunks) count += c.packets;
    if (!sizes.empty() && sizes.size() != count) return std::nullopt;
    if (!frames.empty() && frames.size() != count) return std::nullopt;
    if (sizes.empty() && count > 0 && (constantSize == 0 || constantSize > kMaxPacketBytes)) {
        return std::nullopt;
    }
    uint64_t packet = 0;
    uint64_t previousEnd = 0;
    if (chunks.empty()) previousEnd = dataStart;
    for (const Chunk& c : chunks) {
        if (c.offset < previousEnd) return std::nullopt;  // out of order or overlapping
        uint64_t bytes = 0;
        if (sizes.empty()) {
            bytes = uint64_t(c.packets) * constantSize;
        } else {
            for (uint32_t i = 0; i < c.packets; ++i) {
                const uint32_t size = sizes[size_t(packet + i)];
                if (size == 0 || size > kMaxPacketBytes) return std::nullopt;
                bytes += size;
            }
        }
        if (c.offset > UINT64_MAX - bytes) return std::nullopt;
        table.firstPacket_.push_back(packet);
        packet += c.packets;
        previousEnd = c.offset + bytes;
        table.totalBytes_ += bytes;
    }
    table.chunks_ = std::move(chunks);
    table.sizes_ = std::move(sizes);
    table.constantSize_ = constantSize;
    table.frames_ = std::move(frames);
    table.packetCount_ = count;
    table.endOffset_ = previousEnd;
    table.maxPacketSize_ = table.sizes_.empty()
                               ? (count > 0 ? constantSize : 0)
                               : *std::max_element(table.sizes_.begin(), table.sizes_.end());
    table.moveTo(0);
    return table;
}

uint64_t PacketTable::offsetOf(uint64_t packet) const {
    if (packet >= packetCount_) return endOffset_;
    const size_t chunk = size_t(std::upper_bound(firstPacket_.begin(), firstPacket_.end(), packet) -
                                firstPacket_.begin() - 1);
    uint64_t offset = chunks_[chunk].offset;
    if (sizes_.empty()) return offset + (packet - firstPacket_[chunk]) * constantSize_;
    for (uint64_t p = firstPacket_[chunk]; p < packet; ++p) offset += sizes_[size_t(p)];
    return offset;
}

void PacketTable::moveTo(uint64_t packet) {
    packet_ = std::min(packet, packetCount_);
    if (packet_ == packetCount_) {
        chunk_ = chunks_.size();
        packetInChunk_ = 0;
        nextOffset_ = endOffset_;
        return;
    }
    chunk_ = size_t(std::upper_bound(firstPacket_.begin(), firstPacket_.end(), packet_) -
                    firstPacket_.begin() - 1);
    packetInChunk_ = packet_ - firstPacket_[chunk_];
    nextOffset_ = offsetOf(packet_);
}

ParseStep PacketTable::deliver(ParserOutput& output, const uint8_t* data, size_t size,
                               uint64_t position) {
    size_t at = 0;
    ParseStep step;
    while (output.open()) {
        if (packet_ == packetCount_) {
            step = needMore(size, 1);  // past the last packet: nothing more to find
            break;
        }
        const uint64_t here = position + at;
        if (nextOffset_ < here) {
            flush(output, data);
            return failed(kAudioFileStreamError_InvalidFile);
        }
        if (nextOffset_ > here) {
            at += size_t(std::min<uint64_t>(nextOffset_ - here, size - at));
            if (at == size) {
                step = needMore(at, 1);
                break;
            }
            continue;
        }
        const uint32_t packetSize = sizeOf(packet_);
        if (size - at < packetSize) {
            step = needMore(at, packetSize);
            break;
        }
        AudioStreamPacketDescription d;
        d.mStartOffset = int64_t(at);
        d.mVariableFramesInPacket = frames_.empty() ? 0 : frames_[size_t(packet_)];
        d.mDataByteSize = packetSize;
        batch_.push_back(d);
        at += packetSize;
        nextOffset_ += packetSize;
        ++packet_;
        if (++packetInChunk_ == chunks_[chunk_].packets && ++chunk_ < chunks_.size()) {
            packetInChunk_ = 0;
            nextOffset_ = chunks_[chunk_].offset;
        }
        if (batch_.size() == kBatchPackets) flush(output, data);
    }
    flush(output, data);
    return step;
}

void PacketTable::flush(ParserOutput& output, const uint8_t* data) {
    if (batch_.empty()) return;
    const AudioStreamPacketDescription& last = batch_.back();
    output.packets(data, uint32_t(last.mStartOffset + last.mDataByteSize), uint32_t(batch_.size()),
                   batch_.data());
    batch_.clear();
}

}  // namespace audio::parsing
