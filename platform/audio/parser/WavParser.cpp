#include "platform/audio/parser/WavParser.h"

#include <cstring>

#include "platform/audio/parser/AudioFileStream.h"
#include "platform/audio/parser/ByteOrder.h"

namespace audio::parsing {

namespace {

constexpr uint32_t kFormatPcm = 1;
constexpr uint32_t kFormatFloat = 3;
constexpr uint32_t kFormatExtensible = 0xFFFE;
constexpr uint32_t kUnknownSize = 0xFFFFFFFF;
constexpr uint32_t kMaxFormatChunk = 4096;
// The GUID of an extensible format, after its first two bytes (which hold the format tag).
constexpr uint8_t kGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                   0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

WavParser::WavParser(ParserOutput& output, std::optional<uint64_t> start)
    : PcmFileParser(output, start) {}

ParseStep WavParser::run(const uint8_t* data, size_t size) {
    size_t at = 0;
    while (output_.open()) {
        const uint8_t* p = data + at;
        const size_t avail = size - at;
        switch (state_) {
            case State::Lost: return failed(kAudioFileStreamError_DiscontinuityCantRecover);
            case State::RiffHeader: {
                if (avail < 12) return needMore(at, 12);
                if (std::memcmp(p, "RIFF", 4) != 0 || std::memcmp(p + 8, "WAVE", 4) != 0) {
                    return failed(kAudioFileStreamError_UnsupportedFileType);
                }
                const uint32_t riffSize = le32(p + 4);
                riffSizeUnknown_ = riffSize == 0 || riffSize == kUnknownSize;
                at += 12;
                state_ = State::ChunkHeader;
                break;
            }
            case State::ChunkHeader: {
                if (avail < 8) return needMore(at, 8);
                const uint32_t chunkSize = le32(p + 4);
                const uint64_t padded = uint64_t(chunkSize) + (chunkSize & 1);
                if (std::memcmp(p, "fmt ", 4) == 0 && !haveFormat_) {
                    if (chunkSize < 16 || chunkSize > kMaxFormatChunk) {
                        return failed(kAudioFileStreamError_InvalidFile);
                    }
                    chunkBytes_ = uint32_t(padded);
                    state_ = State::FormatChunk;
                } else if (std::memcmp(p, "data", 4) == 0 && !described_) {
                    if (!haveFormat_) return failed(kAudioFileStreamError_InvalidFile);
                    startDataChunk(position_ ? *position_ + at + 8 : 0, chunkSize);
                } else {
                    skipRemaining_ = chunkSize == kUnknownSize ? UINT64_MAX : padded;
                    state_ = State::Skip;
                }
                at += 8;
                break;
            }
            case State::FormatChunk: {
                if (avail < chunkBytes_) return needMore(at, chunkBytes_);
                if (const OSStatus status = readFormat(p, chunkBytes_); status != noErr)
                    return failed(status);
                at += chunkBytes_;
                state_ = State::ChunkHeader;
                break;
            }
            case State::Skip: {
                if (!skipStreamed(at, avail)) return needMore(at, 1);
                state_ = State::ChunkHeader;
                break;
            }
            case State::Data: {
                size_t need = 1;
                at += pcm_.deliver(output_, p, avail, need);
                if (!pcm_.finished()) return needMore(at, need);
                // Whatever chunks follow the data (LIST, id3) are skipped.
                skipRemaining_ = dataPadded_ ? 1 : 0;
                state_ = State::Skip;
                break;
            }
        }
    }
    return needMore(at, 1);
}

OSStatus WavParser::readFormat(const uint8_t* p, uint32_t size) {
    uint32_t tag = le16(p);
    const uint32_t channels = le16(p + 2);
    const uint32_t rate = le32(p + 4);
    const uint32_t blockAlign = le16(p + 12);
    const uint32_t bits = le16(p + 14);
    if (tag == kFormatExtensible) {
        if (size < 40 || std::memcmp(p + 26, kGuidTail, sizeof kGuidTail) != 0) {
            return kAudioFileStreamError_UnsupportedDataFormat;
        }
        tag = le16(p + 24);
    }
    if (tag != kFormatPcm && tag != kFormatFloat)
        return kAudioFileStreamError_UnsupportedDataFormat;
    PcmLayout layout;
    layout.sampleRate = rate;
    layout.channels = channels;
    layout.bitsPerSample = bits;
    layout.isFloat = tag == kFormatFloat;
    layout.isBigEndian = false;
    layout.isSigned = bits > 8;
    if (!describePcm(layout, description_) || blockAlign != description_.format.mBytesPerFrame) {
        return kAudioFileStreamError_UnsupportedDataFormat;
    }
    haveFormat_ = true;
    return noErr;
}

void WavParser::startDataChunk(uint64_t dataStart, uint32_t declaredSize) {
    const bool unknown = declaredSize == kUnknownSize || (declaredSize == 0 && riffSizeUnknown_);
    state_ = State::Data;
    startData(dataStart, unknown ? std::nullopt : std::optional<uint64_t>(declaredSize),
              !unknown && (declaredSize & 1));
}

void WavParser::resumeData(bool described) { state_ = described ? State::Data : State::Lost; }

}  // namespace audio::parsing
