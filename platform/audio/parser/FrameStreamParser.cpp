#include "platform/audio/parser/FrameStreamParser.h"

#include <algorithm>
#include <cstring>

#include "platform/audio/parser/AudioFileStream.h"
#include "platform/audio/parser/FrameSync.h"
#include "platform/audio/parser/MetadataTags.h"

namespace audio::parsing {

namespace {

// Packets handed over per callback at most, so that the description array stays small
// when a whole file is pushed at once.
constexpr size_t kBatchPackets = 1024;

// Whether `p` (avail bytes) could still turn out to begin `tag` once more bytes come.
bool mayBegin(const uint8_t* p, size_t avail, const char* tag) {
    return std::memcmp(p, tag, std::min(avail, std::strlen(tag))) == 0;
}

}  // namespace

FrameStreamParser::FrameStreamParser(ParserOutput& output, const FrameSyntax& syntax,
                                     std::optional<uint64_t> start)
    : output_(output), syntax_(syntax), position_(start) {
    batch_.reserve(kBatchPackets);
}

ParseStep FrameStreamParser::parse(const uint8_t* data, size_t size) {
    size_t at = 0;
    ParseStep step;
    while (true) {
        if (!output_.open()) {
            step = needMore(at, 1);
            break;
        }
        const size_t avail = size - at;
        if (mode_ == Mode::Skipping) {
            if (!skipStreamed(at, avail)) {
                step = needMore(at, 1);
                break;
            }
            mode_ = afterSkip_;
            continue;
        }
        if (mode_ == Mode::Locked) {
            if (avail < syntax_.headerBytes()) {
                step = needMore(at, syntax_.headerBytes());
                break;
            }
            FrameHeader header;
            if (syntax_.read(data + at, header) && header.streamKey == stream_.streamKey) {
                if (avail < header.frameLength) {
                    step = needMore(at, header.frameLength);
                    break;
                }
                addPacket(at, header);
                at += header.frameLength;
                if (batch_.size() == kBatchPackets) flush(data);
                continue;
            }
            // Not a frame where the previous one said: a tag, or junk to search through.
            size_t need = 0;
            if (startTagSkip(data + at, avail, need)) continue;
            if (need > 0) {
                step = needMore(at, need);
                break;
            }
            mode_ = Mode::Searching;
            junk_ = 0;
            continue;
        }
        // Searching.
        if (junk_ > kMaxJunkBytes) {
            flush(data);
            return failed(kAudioFileStreamError_InvalidFile);
        }
        if (avail == 0) {
            step = needMore(at, 1);
            break;
        }
        const uint8_t c = data[at];
        if (c == 0xFF) {
            FrameHeader first;
            size_t need = 0;
            const SyncResult sync = confirmSync(syntax_, data + at, avail,
                                                described_ ? &stream_ : nullptr, first, need);
            if (sync == SyncResult::NeedMore) {
                step = needMore(at, need);
                break;
            }
            if (sync == SyncResult::Confirmed) {
                mode_ = Mode::Locked;
                junk_ = 0;
                if (!described_) startFirstFrame(data, first, at);
                continue;
            }
        } else if (c == 'I' || c == 'A' || c == 'T') {
            size_t need = 0;
            if (startTagSkip(data + at, avail, need)) continue;
            if (need > 0) {
                step = needMore(at, need);
                break;
            }
        }
        ++at;
        ++junk_;
    }
    flush(data);
    if (position_) *position_ += step.consumed;
    return step;
}

bool FrameStreamParser::startTagSkip(const uint8_t* p, size_t avail, size_t& need) {
    need = 0;
    std::optional<uint64_t> bytes;
    if (mayBegin(p, avail, "ID3")) {
        if (avail < kId3v2HeaderBytes) {
            need = kId3v2HeaderBytes;
            return false;
        }
        bytes = id3v2TagBytes(p);
    } else if (mayBegin(p, avail, "APETAGEX")) {
        if (avail < kApeTagHeaderBytes) {
            need = kApeTagHeaderBytes;
            return false;
        }
        bytes = apeTagBytes(p);
    } else if (mayBegin(p, avail, "TAG")) {
        if (avail < 3) {
            need = 3;
            return false;
        }
        bytes = kId3v1Bytes;
    }
    if (!bytes) return false;
    skipRemaining_ = *bytes;
    mode_ = Mode::Skipping;
    // What follows a tag is confirmed afresh: it may be another stream altogether.
    afterSkip_ = Mode::Searching;
    return true;
}

void FrameStreamParser::startFirstFrame(const uint8_t* data, const FrameHeader& header,
                                        size_t& at) {
    described_ = true;
    stream_ = header;
    StreamDescription description;
    const bool informationOnly = describe(data + at, header, description);
    infoFrameBytes_ = informationOnly ? header.frameLength : 0;
    description.dataOffset = position_ ? int64_t(*position_ + at + infoFrameBytes_) : 0;
    description_ = description;
    if (position_) nextPacket_ = 0;
    at += infoFrameBytes_;
    output_.publish(description_);
}

void FrameStreamParser::addPacket(size_t at, const FrameHeader& header) {
    AudioStreamPacketDescription packet;
    packet.mStartOffset = int64_t(at + header.payloadOffset);
    packet.mVariableFramesInPacket = 0;
    packet.mDataByteSize = header.frameLength - header.payloadOffset;
    batch_.push_back(packet);
    if (!position_ || !nextPacket_) return;
    const uint64_t file = *position_ + at;
    const uint64_t start = uint64_t(description_.dataOffset);
    if (indexWanted_ && *nextPacket_ == index_.size() && index_.size() < kMaxIndexedFrames &&
        file >= start && file - start <= UINT32_MAX) {
        index_.push_back(uint32_t(file - start));
        indexedEnd_ = file - start + header.frameLength;
    }
    ++*nextPacket_;
}

void FrameStreamParser::flush(const uint8_t* data) {
    if (batch_.empty()) return;
    const AudioStreamPacketDescription& last = batch_.back();
    const uint32_t bytes = uint32_t(last.mStartOffset + last.mDataByteSize);
    output_.packets(data, bytes, uint32_t(batch_.size()), batch_.data());
    batch_.clear();
}

void FrameStreamParser::discontinuity() {
    position_.reset();
    nextPacket_.reset();
    mode_ = Mode::Searching;
    skipRemaining_ = 0;
    junk_ = 0;
    batch_.clear();
}

void FrameStreamParser::setSeekIndexWanted(bool wanted) {
    indexWanted_ = wanted;
    if (wanted) return;
    index_ = {};
    indexedEnd_ = 0;
}

OSStatus FrameStreamParser::seek(int64_t packet, int64_t& offset, bool& estimated) {
    if (!described_) return kAudioFileStreamError_DataUnavailable;
    if (packet < 0) return kAudioFileStreamError_InvalidPacketOffset;
    if (uint64_t(packet) < index_.size()) {
        offset = index_[size_t(packet)];
        estimated = false;
        position_ = uint64_t(description_.dataOffset) + uint64_t(offset);
        nextPacket_ = uint64_t(packet);
        mode_ = Mode::Locked;
        skipRemaining_ = 0;
        junk_ = 0;
        batch_.clear();
        return noErr;
    }
    double guess;
    if (const auto fromTable = tableEstimate(packet)) {
        guess = *fromTable;
    } else if (!index_.empty()) {
        const double averageBytes = double(indexedEnd_) / double(index_.size());
        guess = double(indexedEnd_) + double(uint64_t(packet) - index_.size()) * averageBytes;
    } else if (stream_.bitRate > 0) {
        guess =
            double(packet) * stream_.framesPerPacket * (stream_.bitRate / 8.0) / stream_.sampleRate;
    } else {
        return kAudioFileStreamError_ValueUnknown;
    }
    if (description_.audioDataByteCount)
        guess = std::min(guess, double(*description_.audioDataByteCount));
    offset = int64_t(std::clamp(guess, 0.0, 9007199254740992.0));
    estimated = true;
    discontinuity();
    return noErr;
}

}  // namespace audio::parsing
