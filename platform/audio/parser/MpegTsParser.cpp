#include "platform/audio/parser/MpegTsParser.h"

#include "platform/audio/parser/AdtsStreamParser.h"
#include "platform/audio/parser/AudioFileStream.h"
#include "platform/audio/parser/ByteOrder.h"
#include "platform/audio/parser/Mp3StreamParser.h"

namespace audio::parsing {

namespace {

constexpr uint8_t kSync = 0x47;
constexpr uint16_t kPatPid = 0;
constexpr uint8_t kStreamTypeMpeg1Audio = 0x03;
constexpr uint8_t kStreamTypeMpeg2Audio = 0x04;
constexpr uint8_t kStreamTypeAdts = 0x0F;

bool isAudioStreamType(uint8_t type) {
    return type == kStreamTypeAdts || type == kStreamTypeMpeg1Audio ||
           type == kStreamTypeMpeg2Audio;
}

}  // namespace

MpegTsParser::MpegTsParser(ParserOutput& output) : output_(output) {}

bool MpegTsParser::begins(const uint8_t* p, size_t size) {
    return size >= 2 * kPacketBytes + 1 && p[0] == kSync && p[kPacketBytes] == kSync &&
           p[2 * kPacketBytes] == kSync;
}

ParseStep MpegTsParser::parse(const uint8_t* data, size_t size) {
    size_t at = 0;
    while (output_.open() && failure_ == noErr) {
        const size_t avail = size - at;
        if (!synchronised_) {
            // Three sync bytes at packet steps, or the stream is lost here.
            if (avail < 2 * kPacketBytes + 1) return needMore(at, 2 * kPacketBytes + 1);
            if (!begins(data + at, avail)) {
                ++at;
                if (++withoutAudio_ > kMaxBytesWithoutAudio) {
                    return failed(kAudioFileStreamError_InvalidFile);
                }
                continue;
            }
            synchronised_ = true;
        }
        if (avail < kPacketBytes) return needMore(at, kPacketBytes);
        if (data[at] != kSync) {
            synchronised_ = false;
            continue;
        }
        takePacket(data + at);
        at += kPacketBytes;
        if (!audioPid_ || !elementary_) {
            withoutAudio_ += kPacketBytes;
            if (withoutAudio_ > kMaxBytesWithoutAudio) {
                return failed(kAudioFileStreamError_UnsupportedFileType);
            }
        }
    }
    if (failure_ != noErr) return failed(failure_);
    return needMore(at, kPacketBytes);
}

void MpegTsParser::takePacket(const uint8_t* packet) {
    const bool unitStart = packet[1] & 0x40;
    const uint16_t pid = uint16_t(((packet[1] & 0x1F) << 8) | packet[2]);
    const uint8_t control = (packet[3] >> 4) & 3;
    const uint8_t counter = packet[3] & 0x0F;
    if (packet[1] & 0x80) return;  // transport error
    size_t at = 4;
    if (control & 2) at += 1 + size_t(packet[4]);  // adaptation field
    if (!(control & 1) || at >= kPacketBytes) return;
    const uint8_t* payload = packet + at;
    const size_t payloadBytes = kPacketBytes - at;

    if (pid == kPatPid || (pmtPid_ && pid == *pmtPid_)) {
        if (!unitStart) return;  // tables here fit in one packet
        const size_t pointer = payload[0];
        if (1 + pointer >= payloadBytes) return;
        takeSection(payload + 1 + pointer, payloadBytes - 1 - pointer, pid == kPatPid);
        return;
    }
    if (!audioPid_ || pid != *audioPid_) return;
    if (continuity_ && counter != ((*continuity_ + 1) & 0x0F)) {
        if (counter == *continuity_) return;  // a duplicate packet
        esGap_ = true;                        // packets were lost
    }
    continuity_ = counter;
    takePesPayload(payload, payloadBytes, unitStart);
}

void MpegTsParser::takeSection(const uint8_t* section, size_t size, bool isPat) {
    if (size < 8) return;
    const size_t length = ((section[1] & 0x0F) << 8) | section[2];
    if (length < 9 || 3 + length > size) return;
    const size_t end = 3 + length - 4;  // before the CRC
    if (isPat) {
        for (size_t at = 8; at + 4 <= end; at += 4) {
            const uint16_t program = be16(section + at);
            if (program == 0) continue;  // the network PID
            pmtPid_ = uint16_t(be16(section + at + 2) & 0x1FFF);
            return;
        }
        return;
    }
    if (audioPid_) return;
    const size_t infoLength = ((section[10] & 0x0F) << 8) | section[11];
    for (size_t at = 12 + infoLength; at + 5 <= end;) {
        const uint8_t type = section[at];
        const uint16_t pid = uint16_t(be16(section + at + 1) & 0x1FFF);
        const size_t esInfo = ((section[at + 3] & 0x0F) << 8) | section[at + 4];
        if (isAudioStreamType(type)) {
            audioPid_ = pid;
            if (type == kStreamTypeAdts) {
                elementary_ = std::make_unique<AdtsStreamParser>(output_, std::nullopt);
            } else {
                elementary_ = std::make_unique<Mp3StreamParser>(output_, std::nullopt);
            }
            // Offsets in the elementary stream are no file's: nothing to index.
            elementary_->setSeekIndexWanted(false);
            return;
        }
        at += 5 + esInfo;
    }
}

void MpegTsParser::takePesPayload(const uint8_t* payload, size_t size, bool unitStart) {
    if (unitStart) {
        // 00 00 01, the stream id, the length, two flag bytes and the header's own length.
        if (size < 9 || payload[0] != 0 || payload[1] != 0 || payload[2] != 1) {
            inPes_ = false;
            return;
        }
        inPes_ = true;
        pesHeaderLeft_ = 9 + size_t(payload[8]);
    }
    if (!inPes_) return;
    const size_t skip = std::min(pesHeaderLeft_, size);
    pesHeaderLeft_ -= skip;
    if (skip < size) es_.append(payload + skip, size - skip);
    if (failure_ == noErr) failure_ = feedElementaryStream();
}

OSStatus MpegTsParser::feedElementaryStream() {
    if (!elementary_) return noErr;
    if (esGap_) {
        esGap_ = false;
        elementary_->discontinuity();
        esNeed_ = 1;
    }
    while (es_.size() >= esNeed_ && output_.open()) {
        const ParseStep step = elementary_->parse(es_.data(), es_.size());
        if (step.status != noErr) return step.status;
        if (step.consumed > es_.size()) return kAudioFileStreamError_UnspecifiedError;
        es_.consume(step.consumed);
        esNeed_ = std::max<size_t>(step.need, 1);
        if (step.need <= es_.size()) {
            // A parser that neither consumes nor asks for more would loop forever.
            if (step.consumed == 0) return kAudioFileStreamError_UnspecifiedError;
        }
        if (es_.size() < esNeed_) break;
    }
    return noErr;
}

void MpegTsParser::discontinuity() {
    synchronised_ = false;
    continuity_.reset();
    inPes_ = false;
    pesHeaderLeft_ = 0;
    es_.clear();
    esNeed_ = 1;
    esGap_ = false;
    if (elementary_) elementary_->discontinuity();
}

OSStatus MpegTsParser::seek(int64_t, int64_t&, bool&) {
    return kAudioFileStreamError_DataUnavailable;
}

void MpegTsParser::endOfData(const uint8_t*, size_t) {
    if (elementary_) elementary_->endOfData(es_.data(), es_.size());
}

}  // namespace audio::parsing
