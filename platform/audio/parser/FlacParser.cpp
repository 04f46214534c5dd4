#include "platform/audio/parser/FlacParser.h"

#include <algorithm>
#include <cstring>

#include "platform/audio/InBandConfig.h"
#include "platform/audio/parser/AudioFileStream.h"
#include "platform/audio/parser/ByteOrder.h"

namespace audio::parsing {

namespace {

constexpr uint8_t kStreamInfoType = 0;
constexpr uint8_t kInvalidBlockType = 127;
constexpr size_t kBatchPackets = 256;

}  // namespace

FlacParser::FlacParser(ParserOutput& output, std::optional<uint64_t> start)
    : ContainerParser(output, start) {
    batch_.reserve(kBatchPackets);
}

ParseStep FlacParser::run(const uint8_t* data, size_t size) {
    size_t at = 0;
    if (state_ == State::Lost) return failed(kAudioFileStreamError_DiscontinuityCantRecover);
    if (state_ != State::Frames) {
        bool done = false;
        const ParseStep step = metadata(data, size, at, done);
        if (!done) return step;
    }
    return frames(data, size, at);
}

ParseStep FlacParser::metadata(const uint8_t* data, size_t size, size_t& at, bool& done) {
    while (output_.open()) {
        const uint8_t* p = data + at;
        const size_t avail = size - at;
        switch (state_) {
            case State::Signature:
                if (avail < 4) return needMore(at, 4);
                if (std::memcmp(p, "fLaC", 4) != 0) {
                    return failed(kAudioFileStreamError_UnsupportedFileType);
                }
                at += 4;
                state_ = State::BlockHeader;
                break;
            case State::BlockHeader: {
                if (avail < 4) return needMore(at, 4);
                lastBlock_ = p[0] & 0x80;
                const uint8_t type = p[0] & 0x7F;
                blockBytes_ = be24(p + 1);
                at += 4;
                if (type == kInvalidBlockType) return failed(kAudioFileStreamError_InvalidFile);
                if (type == kStreamInfoType && !haveStreamInfo_) {
                    if (blockBytes_ < kFlacStreamInfoBytes) {
                        return failed(kAudioFileStreamError_InvalidFile);
                    }
                    state_ = State::StreamInfo;
                } else {
                    // STREAMINFO must come first.
                    if (!haveStreamInfo_) return failed(kAudioFileStreamError_InvalidFile);
                    skipRemaining_ = blockBytes_;
                    state_ = State::SkipBlock;
                }
                break;
            }
            case State::StreamInfo: {
                if (avail < kFlacStreamInfoBytes) return needMore(at, kFlacStreamInfoBytes);
                const std::optional<FlacStreamInfo> info = readFlacStreamInfo(p);
                if (!info) return failed(kAudioFileStreamError_InvalidFile);
                info_ = *info;
                haveStreamInfo_ = true;
                describeFlac(info_, p, description_);
                frameBound_ = std::min<uint32_t>(flacFrameBound(info_), uint32_t(kMaxPacketBytes));
                at += kFlacStreamInfoBytes;
                skipRemaining_ = blockBytes_ - kFlacStreamInfoBytes;
                state_ = State::SkipBlock;
                break;
            }
            case State::SkipBlock:
                if (!skipStreamed(at, avail)) return needMore(at, 1);
                if (!lastBlock_) {
                    state_ = State::BlockHeader;
                    break;
                }
                description_.dataOffset = position_ ? int64_t(*position_ + at) : 0;
                described_ = true;
                state_ = State::Frames;
                output_.publish(description_);
                done = true;
                return {};
            case State::Frames:
            case State::Lost: done = true; return {};
        }
    }
    return needMore(at, 1);
}

bool FlacParser::nextFrameAt(const uint8_t* p, size_t size, size_t& need) const {
    FlacFrameHeader next;
    const FlacHeaderResult result = readFlacFrameHeader(p, size, next, need);
    if (result != FlacHeaderResult::NeedMore) need = 0;
    return result == FlacHeaderResult::Header && follows(next);
}

bool FlacParser::follows(const FlacFrameHeader& next) const {
    if (!flacHeaderFits(next, info_) || next.variableBlockSize != frame_.variableBlockSize) {
        return false;
    }
    const uint64_t expected =
        frame_.variableBlockSize ? frame_.number + frame_.blockSize : frame_.number + 1;
    return next.number == expected;
}

uint64_t FlacParser::firstSampleOf(const FlacFrameHeader& frame) const {
    return frame.variableBlockSize ? frame.number : frame.number * info_.maxBlockSize;
}

ParseStep FlacParser::frames(const uint8_t* data, size_t size, size_t at) {
    while (output_.open()) {
        if (landing_.awaiting()) {
            // Asked for the bytes from elsewhere: these are of no use.
            if (landing_.ignore(size - at)) {
                flush(data);
                return needMore(size, 1);
            }
            continue;
        }
        const uint8_t* p = data + at;
        const size_t avail = size - at;
        if (!inFrame_) {
            if (junk_ > kMaxJunkBytes) {
                flush(data);
                return failed(kAudioFileStreamError_InvalidFile);
            }
            if (avail < 2) {
                flush(data);
                return needMore(at, 2);
            }
            if (p[0] != 0xFF) {
                const auto* sync = static_cast<const uint8_t*>(std::memchr(p, 0xFF, avail));
                const size_t skip = sync ? size_t(sync - p) : avail;
                at += skip;
                junk_ += skip;
                continue;
            }
            FlacFrameHeader header;
            size_t need = 0;
            const FlacHeaderResult result = readFlacFrameHeader(p, avail, header, need);
            if (result == FlacHeaderResult::NeedMore) {
                flush(data);
                return needMore(at, need);
            }
            if (result == FlacHeaderResult::NotAHeader || !flacHeaderFits(header, info_)) {
                ++at;
                ++junk_;
                continue;
            }
            frame_ = header;
            inFrame_ = true;
            scanned_ = header.headerBytes;
            crc_ = flacCrc16(0, p, header.headerBytes);
        }
        enum class End { Whole, Damaged, FalseStart } end = End::Whole;
        while (true) {
            const bool sumsUp = crc_ == 0 && scanned_ >= size_t(frame_.headerBytes) + 3;
            // Where the sum comes out right, or where the next frame would begin though this
            // one does not sum up (it is damaged then), the next header decides.
            if (sumsUp || (scanned_ < avail && p[scanned_] == 0xFF)) {
                size_t need = 0;
                const bool next = nextFrameAt(p + scanned_, avail - scanned_, need);
                if (need > 0) {
                    flush(data);
                    return needMore(at, scanned_ + need);
                }
                if (next) {
                    if (!sumsUp) end = End::Damaged;
                    break;
                }
            }
            if (scanned_ > size_t(frameBound_) + kFlacMaxFrameHeaderBytes) {
                end = End::FalseStart;
                break;
            }
            if (scanned_ >= avail) {
                flush(data);
                return needMore(at, scanned_ + 1);
            }
            crc_ = flacCrc16(crc_, p + scanned_, 1);
            ++scanned_;
        }
        inFrame_ = false;
        if (end == End::FalseStart) {
            // No end within the longest frame: the header was a false one.
            ++at;
            ++junk_;
            continue;
        }
        if (end == End::Whole) endFrame(data, at);
        at += scanned_;
        junk_ = 0;
        if (batch_.size() == kBatchPackets) flush(data);
    }
    flush(data);
    return needMore(at, 1);
}

void FlacParser::endFrame(const uint8_t* data, size_t at) {
    // Frame numbers are packet numbers where the block size is fixed.
    if (position_ && indexWanted_ && !frame_.variableBlockSize && frame_.number == index_.size() &&
        index_.size() < kMaxIndexedFrames) {
        const uint64_t offset = *position_ + at - uint64_t(description_.dataOffset);
        if (offset <= UINT32_MAX) {
            index_.push_back(uint32_t(offset));
            indexedEnd_ = offset + scanned_;
        }
    }
    const uint64_t first = firstSampleOf(frame_);
    switch (landing_.judge(first, first + frame_.blockSize)) {
        case SeekLanding::Verdict::Drop: return;
        case SeekLanding::Verdict::Refetch:
            flush(data);
            if (const auto request = landing_.takeRequest()) output_.requestBytesFrom(*request);
            return;
        case SeekLanding::Verdict::Keep:
            if (landing_.samplesBeforeTarget() > 0) markSkip(data, landing_.samplesBeforeTarget());
            break;
    }
    AudioStreamPacketDescription packet{};
    packet.mStartOffset = int64_t(at);
    packet.mDataByteSize = uint32_t(scanned_);
    batch_.push_back(packet);
}

void FlacParser::endOfData(const uint8_t* data, size_t size) {
    if (!inFrame_ || landing_.awaiting() || size < frame_.headerBytes) return;
    // Trailing bytes (an ID3v1 tag) may follow the frame.
    uint16_t crc = flacCrc16(0, data, frame_.headerBytes);
    size_t end = 0;
    for (size_t at = frame_.headerBytes; at < size; ++at) {
        crc = flacCrc16(crc, data + at, 1);
        if (crc == 0 && at + 1 >= size_t(frame_.headerBytes) + 3) end = at + 1;
    }
    inFrame_ = false;
    if (end == 0) return;
    scanned_ = end;
    endFrame(data, 0);
    flush(data);
}

void FlacParser::markSkip(const uint8_t* data, uint64_t samples) {
    flush(data);
    std::vector<uint8_t> mark = skipMark(uint32_t(std::min<uint64_t>(samples, UINT32_MAX)));
    AudioStreamPacketDescription packet{};
    packet.mDataByteSize = uint32_t(mark.size());
    output_.packets(mark.data(), uint32_t(mark.size()), 1, &packet);
}

void FlacParser::flush(const uint8_t* data) {
    if (batch_.empty()) return;
    const AudioStreamPacketDescription& last = batch_.back();
    const uint32_t bytes = uint32_t(last.mStartOffset + last.mDataByteSize);
    output_.packets(data, bytes, uint32_t(batch_.size()), batch_.data());
    batch_.clear();
}

void FlacParser::discontinuity() {
    batch_.clear();
    inFrame_ = false;
    junk_ = 0;
    skipRemaining_ = 0;
    if (!described_) {
        state_ = State::Lost;
        return;
    }
    // The bytes the parser asked for, or bytes from a place it cannot tell.
    position_ = landing_.answered();
}

void FlacParser::setSeekIndexWanted(bool wanted) {
    indexWanted_ = wanted;
    if (wanted) return;
    index_ = {};
    indexedEnd_ = 0;
}

OSStatus FlacParser::seek(int64_t packet, int64_t& offset, bool& estimated) {
    if (!described_) return kAudioFileStreamError_DataUnavailable;
    if (packet < 0) return kAudioFileStreamError_InvalidPacketOffset;
    batch_.clear();
    inFrame_ = false;
    junk_ = 0;
    landing_.cancel();
    if (uint64_t(packet) < index_.size()) {
        offset = index_[size_t(packet)];
        estimated = false;
        position_ = uint64_t(description_.dataOffset) + uint64_t(offset);
        return noErr;
    }
    const double averageBytes =
        index_.empty() ? double(frameBound_) / 2 : double(indexedEnd_) / double(index_.size());
    const double guess =
        double(indexedEnd_) + double(uint64_t(packet) - index_.size()) * averageBytes;
    offset = int64_t(std::clamp(guess, 0.0, 9007199254740992.0));
    estimated = true;
    position_.reset();
    const uint64_t knownBefore = index_.empty() ? 0 : index_.back();
    landing_.aim(uint64_t(packet) * info_.maxBlockSize,
                 uint64_t(description_.dataOffset) + knownBefore);
    return noErr;
}

}  // namespace audio::parsing
