#include "platform/audio/parser/Mp4Parser.h"

#include "platform/audio/parser/AudioFileStream.h"
#include "platform/audio/parser/ByteOrder.h"

namespace audio::parsing {

namespace {
constexpr size_t kSpoolReadBytes = 64u << 10;
}

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
                } else if (type == fourCC("mdat") && body > 0 && !track_) {
                    // Audio data before the index: the index follows it.
                    if (toEnd || !position_) return failed(kAudioFileStreamError_NotOptimized);
                    dataBox(*position_ + at, body);
                } else if (type == fourCC("moof") && body > 0) {
                    // Fragments: the samples are described piece by piece; not supported.
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
            case State::Data: {
                const size_t n = size_t(std::min<uint64_t>(skipRemaining_, avail));
                if (position_) spool(p, n, *position_ + at);
                at += n;
                skipRemaining_ -= n;
                if (skipRemaining_ > 0) return needMore(at, 1);
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
            case State::AwaitData:
                // Bytes after the index, until the reader brings the data asked for.
                return needMore(size, 1);
        }
    }
    return needMore(at, 1);
}

void Mp4Parser::dataBox(uint64_t bodyStart, uint64_t body) {
    // Asked once per run of data boxes: a reader that jumps past this one is asked again at
    // the next.
    if (spooled_.empty() && !spoolOverflowed_) request(bodyStart + body, State::BoxHeader);
    skipRemaining_ = body;
    state_ = State::Data;
}

void Mp4Parser::spool(const uint8_t* data, size_t size, uint64_t fileOffset) {
    // Kept only while the reader goes on in order; one that repositioned brings the data again.
    if (readerRepositioned_ || spoolOverflowed_ || size == 0) return;
    if (spooledBytes_ + size > kMaxSpoolBytes) {
        spoolOverflowed_ = true;
        spool_.reset();
        spooled_.clear();
        return;
    }
    if (!spool_) spool_.reset(std::tmpfile());
    if (!spool_ || std::fwrite(data, 1, size, spool_.get()) != size) {
        spoolOverflowed_ = true;
        spool_.reset();
        spooled_.clear();
        return;
    }
    if (!spooled_.empty() && spooled_.back().fileOffset + spooled_.back().bytes == fileOffset) {
        spooled_.back().bytes += size;
    } else {
        spooled_.push_back({fileOffset, spooledBytes_, size});
    }
    spooledBytes_ += size;
}

OSStatus Mp4Parser::finishMovie(uint64_t positionAfter) {
    const OSStatus status = readMp4Movie(movie_.data(), movie_.size(), track_);
    movie_ = {};
    if (status != noErr) return status;
    const uint64_t first = track_->table.firstOffset();
    if (first >= positionAfter) {
        state_ = State::Packets;
        output_.publish(track_->description);
        return noErr;
    }
    // The samples lie before the index.
    if (!readerRepositioned_ && (spoolOverflowed_ || spooled_.empty()))
        return kAudioFileStreamError_NotOptimized;
    output_.publish(track_->description);
    if (!spooled_.empty()) return deliverSpooled();
    request(first, State::Packets);
    state_ = State::AwaitData;
    return noErr;
}

OSStatus Mp4Parser::deliverSpooled() {
    PacketTable& table = track_->table;
    std::vector<uint8_t> bytes;
    for (const SpooledData& part : spooled_) {
        if (std::fseek(spool_.get(), long(part.spoolOffset), SEEK_SET) != 0)
            return kAudioFileStreamError_UnspecifiedError;
        // `bytes` holds what the table has not consumed yet, from file offset `at`.
        uint64_t at = part.fileOffset;
        uint64_t left = part.bytes;
        bytes.clear();
        while ((left > 0 || !bytes.empty()) && output_.open()) {
            const size_t want = size_t(std::min<uint64_t>(left, kSpoolReadBytes));
            const size_t had = bytes.size();
            bytes.resize(had + want);
            if (want > 0 && std::fread(bytes.data() + had, 1, want, spool_.get()) != want)
                return kAudioFileStreamError_UnspecifiedError;
            left -= want;
            const ParseStep step = table.deliver(output_, bytes.data(), bytes.size(), at);
            if (step.status != noErr) return step.status;
            bytes.erase(bytes.begin(), bytes.begin() + int64_t(step.consumed));
            at += step.consumed;
            // A packet cut short by the end of the data: nothing more will complete it.
            if (left == 0 && !bytes.empty()) break;
        }
    }
    spool_.reset();
    spooled_.clear();
    // The bytes after the index hold no samples; the table drops them.
    state_ = State::Packets;
    return noErr;
}

void Mp4Parser::request(uint64_t offset, State next) {
    requested_ = std::pair(offset, next);
    output_.requestBytesFrom(offset);
}

void Mp4Parser::discontinuity() {
    if (requested_) {
        // The reader answers a request: its bytes begin at the offset asked for.
        position_ = requested_->first;
        state_ = requested_->second;
        requested_.reset();
        readerRepositioned_ = true;
        spool_.reset();
        spooled_.clear();
        skipRemaining_ = 0;
        movie_.clear();
        return;
    }
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
    requested_.reset();
    state_ = State::Packets;
    return noErr;
}

}  // namespace audio::parsing
