#include "platform/audio/parser/Mp4Parser.h"

#include "platform/audio/parser/AudioFileStream.h"
#include "platform/audio/parser/ByteOrder.h"

namespace audio::parsing {

Mp4Parser::Mp4Parser(ParserOutput& output, std::optional<uint64_t> start)
    : ContainerParser(output, start) {}

ParseStep Mp4Parser::run(const uint8_t* data, size_t size) {
    size_t at = 0;
    while (output_.open()) {
        const uint8_t* p = data + at;
        const size_t avail = size - at;
        switch (state_) {
            case State::Lost: return failed(kAudioFileStreamError_DiscontinuityCantRecover);
            case State::BoxHeader: {
                if (avail < 8) return needMore(at, 8);
                uint64_t boxSize = be32(p);
                const uint32_t type = be32(p + 4);
                size_t header = 8;
                if (boxSize == 1) {
                    if (avail < 16) return needMore(at, 16);
                    boxSize = be64(p + 8);
                    header = 16;
                }
                const bool toEnd = boxSize == 0;
                if (!toEnd && boxSize < header) return failed(kAudioFileStreamError_InvalidFile);
                const uint64_t body = toEnd ? UINT64_MAX : boxSize - header;
                at += header;
                if (type == fourCC("moov")) {
                    if (toEnd || body > kMaxIndexBytes)
                        return failed(kAudioFileStreamError_InvalidFile);
                    movieBytes_ = body;
                    movie_.clear();
                    state_ = State::Movie;
                } else if ((type == fourCC("mdat") || type == fourCC("moof")) && body > 0) {
                    // Audio data before the index: the index is at the end of the file.
                    return failed(kAudioFileStreamError_NotOptimized);
                } else {
                    skipRemaining_ = body;
                    state_ = State::Skip;
                }
                break;
            }
            case State::Skip: {
                if (!skipStreamed(at, avail)) return needMore(at, 1);
                state_ = State::BoxHeader;
                break;
            }
            case State::Movie: {
                // Collected as it comes: the box's size is a claim, the bytes are a fact.
                const size_t n = size_t(std::min<uint64_t>(movieBytes_ - movie_.size(), avail));
                movie_.insert(movie_.end(), p, p + n);
                at += n;
                if (movie_.size() < movieBytes_) return needMore(at, 1);
                if (!position_) return failed(kAudioFileStreamError_DiscontinuityCantRecover);
                if (const OSStatus status = finishMovie(*position_ + at); status != noErr)
                    return failed(status);
                break;
            }
            case State::Packets: {
                if (!position_) return failed(kAudioFileStreamError_DiscontinuityCantRecover);
                ParseStep step = track_->table.deliver(output_, p, avail, *position_ + at);
                if (step.status != noErr) return step;
                step.consumed += at;
                return step;
            }
        }
    }
    return needMore(at, 1);
}

OSStatus Mp4Parser::finishMovie(uint64_t positionAfter) {
    const OSStatus status = readMp4Movie(movie_.data(), movie_.size(), track_);
    movie_ = {};
    if (status != noErr) return status;
    // Samples that lie before the index have already gone by.
    if (track_->table.firstOffset() < positionAfter) return kAudioFileStreamError_NotOptimized;
    state_ = State::Packets;
    output_.publish(track_->description);
    return noErr;
}

void Mp4Parser::discontinuity() {
    // Samples are found by their file offsets; bytes from an unknown place cannot be placed.
    position_.reset();
    state_ = State::Lost;
}

OSStatus Mp4Parser::seek(int64_t packet, int64_t& offset, bool& estimated) {
    if (!track_) return kAudioFileStreamError_DataUnavailable;
    PacketTable& table = track_->table;
    table.moveTo(uint64_t(packet));
    const uint64_t at = table.offsetOf(uint64_t(packet));
    position_ = at;
    offset = int64_t(at - table.firstOffset());
    estimated = false;
    state_ = State::Packets;
    return noErr;
}

}  // namespace audio::parsing
