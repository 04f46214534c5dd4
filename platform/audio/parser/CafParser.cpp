#include "platform/audio/parser/CafParser.h"

#include <cmath>
#include <cstring>

#include "platform/audio/parser/AacConfig.h"
#include "platform/audio/parser/AlacConfig.h"
#include "platform/audio/parser/AudioFileStream.h"
#include "platform/audio/parser/ByteOrder.h"
#include "platform/audio/parser/EsDescriptor.h"

namespace audio::parsing {

namespace {

constexpr uint32_t kChunkHeaderBytes = 12;
constexpr uint32_t kDescriptionBytes = 32;
constexpr uint32_t kMaxSmallChunk = 1u << 16;
constexpr uint32_t kCafFloat = 1;
constexpr uint32_t kCafLittleEndian = 2;

// A packet table number: 7 bits per byte, most significant first, high bit set on all but
// the last byte. Five bytes hold any 32-bit value.
bool readVarint(const uint8_t*& p, const uint8_t* end, uint32_t& value) {
    uint64_t v = 0;
    for (int i = 0; i < 5 && p < end; ++i) {
        const uint8_t b = *p++;
        v = (v << 7) | (b & 0x7F);
        if (!(b & 0x80)) {
            if (v > UINT32_MAX) return false;
            value = uint32_t(v);
            return true;
        }
    }
    return false;
}

}  // namespace

CafParser::CafParser(ParserOutput& output, std::optional<uint64_t> start)
    : ContainerParser(output, start) {}

ParseStep CafParser::run(const uint8_t* data, size_t size) {
    size_t at = 0;
    while (output_.open()) {
        const uint8_t* p = data + at;
        const size_t avail = size - at;
        switch (state_) {
            case State::Lost: return failed(kAudioFileStreamError_DiscontinuityCantRecover);
            case State::FileHeader:
                if (avail < 8) return needMore(at, 8);
                if (std::memcmp(p, "caff", 4) != 0 || be16(p + 4) != 1) {
                    return failed(kAudioFileStreamError_UnsupportedFileType);
                }
                at += 8;
                state_ = State::ChunkHeader;
                break;
            case State::ChunkHeader: {
                if (avail < kChunkHeaderBytes) return needMore(at, kChunkHeaderBytes);
                chunkType_ = be32(p);
                chunkSize_ = int64_t(be64(p + 4));
                at += kChunkHeaderBytes;
                if (chunkType_ == fourCC("data")) {
                    if (chunkSize_ != -1 && chunkSize_ < 4)
                        return failed(kAudioFileStreamError_InvalidFile);
                    if (described_) {  // a second data chunk is not ours to play
                        if (chunkSize_ == -1)
                            skipRemaining_ = UINT64_MAX;
                        else
                            skipRemaining_ = uint64_t(chunkSize_);
                        state_ = State::Skip;
                    } else {
                        state_ = State::DataHeader;
                    }
                    break;
                }
                if (chunkSize_ < 0) return failed(kAudioFileStreamError_InvalidFile);
                const bool small = chunkType_ == fourCC("desc") || chunkType_ == fourCC("kuki");
                if (small && chunkSize_ > kMaxSmallChunk)
                    return failed(kAudioFileStreamError_InvalidFile);
                if (chunkType_ == fourCC("pakt") && uint64_t(chunkSize_) > kMaxIndexBytes) {
                    return failed(kAudioFileStreamError_InvalidFile);
                }
                if (small) {
                    state_ = State::SmallChunk;
                } else if (chunkType_ == fourCC("pakt")) {
                    collected_.clear();
                    state_ = State::PacketTableChunk;
                } else {
                    skipRemaining_ = uint64_t(chunkSize_);
                    state_ = State::Skip;
                }
                break;
            }
            case State::SmallChunk: {
                const size_t bytes = size_t(chunkSize_);
                if (avail < bytes) return needMore(at, bytes);
                if (chunkType_ == fourCC("desc")) {
                    if (bytes < kDescriptionBytes) return failed(kAudioFileStreamError_InvalidFile);
                    if (const OSStatus status = readDescription(p); status != noErr)
                        return failed(status);
                } else {
                    cookie_.assign(p, p + bytes);
                }
                at += bytes;
                state_ = State::ChunkHeader;
                break;
            }
            case State::PacketTableChunk: {
                const size_t n =
                    size_t(std::min<uint64_t>(uint64_t(chunkSize_) - collected_.size(), avail));
                collected_.insert(collected_.end(), p, p + n);
                at += n;
                if (collected_.size() < uint64_t(chunkSize_)) return needMore(at, 1);
                if (const OSStatus status = readPacketTable(); status != noErr)
                    return failed(status);
                state_ = State::ChunkHeader;
                break;
            }
            case State::DataHeader: {
                if (avail < 4) return needMore(at, 4);  // the edit count
                at += 4;
                // The size counts the edit count; less than that is no data chunk at all.
                if (chunkSize_ != -1 && chunkSize_ < 4) {
                    return failed(kAudioFileStreamError_InvalidFile);
                }
                if (chunkSize_ != -1) dataBytes_ = uint64_t(chunkSize_) - 4;
                const uint64_t dataStart = position_ ? *position_ + at : 0;
                if (const OSStatus status = startData(dataStart); status != noErr)
                    return failed(status);
                break;
            }
            case State::Skip: {
                if (!skipStreamed(at, avail)) return needMore(at, 1);
                state_ = State::ChunkHeader;
                break;
            }
            case State::Pcm: {
                size_t need = 1;
                at += pcm_.deliver(output_, p, avail, need);
                if (!pcm_.finished()) return needMore(at, need);
                skipRemaining_ = 0;
                state_ = State::Skip;
                break;
            }
            case State::Packets: {
                if (!position_) return failed(kAudioFileStreamError_DiscontinuityCantRecover);
                ParseStep step = table_->deliver(output_, p, avail, *position_ + at);
                if (step.status != noErr) return step;
                step.consumed += at;
                return step;
            }
        }
    }
    return needMore(at, 1);
}

OSStatus CafParser::readDescription(const uint8_t* p) {
    sampleRate_ = beDouble(p);
    formatID_ = be32(p + 8);
    formatFlags_ = be32(p + 12);
    bytesPerPacket_ = be32(p + 16);
    framesPerPacket_ = be32(p + 20);
    channels_ = be32(p + 24);
    bitsPerChannel_ = be32(p + 28);
    if (!std::isfinite(sampleRate_) || sampleRate_ <= 0 || channels_ == 0) {
        return kAudioFileStreamError_UnsupportedDataFormat;
    }
    haveDescription_ = true;
    return noErr;
}

OSStatus CafParser::readPacketTable() {
    if (collected_.size() < 24) return kAudioFileStreamError_InvalidFile;
    const uint64_t packets = be64(collected_.data());
    const uint8_t* p = collected_.data() + 24;
    const uint8_t* end = collected_.data() + collected_.size();
    // Every entry takes at least a byte: a count beyond the table's bytes is a lie.
    if (packets > uint64_t(end - p)) return kAudioFileStreamError_InvalidFile;
    if (!haveDescription_) return kAudioFileStreamError_InvalidFile;
    packetSizes_.clear();
    packetFrames_.clear();
    for (uint64_t i = 0; i < packets; ++i) {
        uint32_t value = 0;
        if (bytesPerPacket_ == 0) {
            if (!readVarint(p, end, value)) return kAudioFileStreamError_InvalidFile;
            packetSizes_.push_back(value);
        }
        if (framesPerPacket_ == 0) {
            if (!readVarint(p, end, value)) return kAudioFileStreamError_InvalidFile;
            packetFrames_.push_back(value);
        }
    }
    tablePackets_ = packets;
    havePacketTable_ = true;
    collected_ = {};
    return noErr;
}

OSStatus CafParser::startData(uint64_t dataStart) {
    if (!haveDescription_) return kAudioFileStreamError_InvalidFile;
    StreamDescription& d = description_;
    d.dataOffset = int64_t(dataStart);
    if (formatID_ == kAudioFormatLinearPCM) {
        PcmLayout layout;
        layout.sampleRate = sampleRate_;
        layout.channels = channels_;
        layout.bitsPerSample = bitsPerChannel_;
        layout.isFloat = formatFlags_ & kCafFloat;
        layout.isBigEndian = !(formatFlags_ & kCafLittleEndian);
        layout.isSigned = true;
        if (!describePcm(layout, d) || framesPerPacket_ != 1 ||
            bytesPerPacket_ != d.format.mBytesPerFrame) {
            return kAudioFileStreamError_UnsupportedDataFormat;
        }
        if (dataBytes_) {
            d.audioDataByteCount = *dataBytes_;
            d.audioDataPacketCount = *dataBytes_ / bytesPerPacket_;
        }
        pcm_.start(bytesPerPacket_, dataBytes_);
        state_ = State::Pcm;
    } else {
        if (formatID_ == kAudioFormatMPEG4AAC) {
            const auto es = parseEsDescriptor(cookie_.data(), cookie_.size());
            if (!es) return kAudioFileStreamError_UnsupportedDataFormat;
            const auto& asc = es->decoderSpecificInfo;
            const auto config = parseAudioSpecificConfig(asc.data(), asc.size());
            if (!config) return kAudioFileStreamError_UnsupportedDataFormat;
            describeAac(*config, asc, d);
            if (es->averageBitRate > 0) d.bitRate = es->averageBitRate;
        } else if (formatID_ == kAudioFormatAppleLossless) {
            const auto config = parseAlacCookie(cookie_.data(), cookie_.size());
            if (!config) return kAudioFileStreamError_UnsupportedDataFormat;
            describeAlac(*config, d);
        } else if (formatID_ == kAudioFormatMPEGLayer3 &&
                   (framesPerPacket_ == 1152 || framesPerPacket_ == 576)) {
            d.format = {};
            d.format.mSampleRate = sampleRate_;
            d.format.mFormatID = kAudioFormatMPEGLayer3;
            d.format.mFramesPerPacket = framesPerPacket_;
            d.format.mChannelsPerFrame = channels_;
            d.formatList = {formatListItem(d.format)};
        } else {
            return kAudioFileStreamError_UnsupportedDataFormat;
        }
        if (bytesPerPacket_ != 0) return kAudioFileStreamError_UnsupportedDataFormat;
        // Packet sizes are in the table, and the table has not come: it follows the data.
        if (!havePacketTable_) return kAudioFileStreamError_NotOptimized;
        std::vector<PacketTable::Chunk> chunks;
        if (tablePackets_ > UINT32_MAX) return kAudioFileStreamError_InvalidFile;
        chunks.push_back({dataStart, uint32_t(tablePackets_)});
        table_ = PacketTable::build(std::move(chunks), std::move(packetSizes_), 0,
                                    std::move(packetFrames_));
        if (!table_) return kAudioFileStreamError_InvalidFile;
        if (dataBytes_ && table_->totalPacketBytes() > *dataBytes_)
            return kAudioFileStreamError_InvalidFile;
        d.audioDataByteCount = dataBytes_ ? *dataBytes_ : table_->totalPacketBytes();
        d.audioDataPacketCount = table_->packetCount();
        d.packetSizeUpperBound = table_->maxPacketSize();
        d.maximumPacketSize = table_->maxPacketSize();
        state_ = State::Packets;
    }
    described_ = true;
    output_.publish(d);
    return noErr;
}

void CafParser::discontinuity() {
    position_.reset();
    if (!described_) {
        state_ = State::Lost;
        return;
    }
    if (!table_) {
        pcm_.start(description_.format.mBytesPerFrame, std::nullopt);
        state_ = State::Pcm;
    } else {
        // Packets of varying size cannot be found in bytes of unknown origin.
        state_ = State::Lost;
    }
}

OSStatus CafParser::seek(int64_t packet, int64_t& offset, bool& estimated) {
    if (!described_) return kAudioFileStreamError_DataUnavailable;
    const uint64_t dataStart = uint64_t(description_.dataOffset);
    if (table_) {
        table_->moveTo(uint64_t(packet));
        const uint64_t at = std::max(table_->offsetOf(uint64_t(packet)), dataStart);
        offset = int64_t(at - dataStart);
        position_ = at;
        state_ = State::Packets;
    } else {
        const uint32_t bytesPerFrame = description_.format.mBytesPerFrame;
        const uint64_t at = PcmPacketizer::offsetOf(uint64_t(packet), bytesPerFrame, dataBytes_);
        pcm_.start(bytesPerFrame,
                   dataBytes_ ? std::optional<uint64_t>(*dataBytes_ - at) : std::nullopt);
        offset = int64_t(at);
        position_ = dataStart + at;
        state_ = State::Pcm;
    }
    estimated = false;
    return noErr;
}

}  // namespace audio::parsing
