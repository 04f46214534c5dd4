#include "platform/audio/parser/AiffParser.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "platform/audio/parser/AudioFileStream.h"
#include "platform/audio/parser/ByteOrder.h"

namespace audio::parsing {

namespace {

constexpr uint32_t kUnknownSize = 0xFFFFFFFF;
constexpr uint32_t kMaxCommonChunk = 4096;

bool is(const uint8_t* p, const char* code) { return std::memcmp(p, code, 4) == 0; }

}  // namespace

AiffParser::AiffParser(ParserOutput& output, std::optional<uint64_t> start)
    : PcmFileParser(output, start) {}

double AiffParser::extendedToDouble(const uint8_t* p) {
    const bool negative = p[0] & 0x80;
    const int exponent = ((p[0] & 0x7F) << 8) | p[1];
    const uint64_t mantissa = be64(p + 2);
    if (exponent == 0x7FFF) return std::numeric_limits<double>::quiet_NaN();
    if (mantissa == 0) return 0.0;
    const double value = std::ldexp(double(mantissa), exponent - 16383 - 63);
    return negative ? -value : value;
}

ParseStep AiffParser::run(const uint8_t* data, size_t size) {
    size_t at = 0;
    while (output_.open()) {
        const uint8_t* p = data + at;
        const size_t avail = size - at;
        switch (state_) {
            case State::Lost: return failed(kAudioFileStreamError_DiscontinuityCantRecover);
            case State::FormHeader:
                if (avail < 12) return needMore(at, 12);
                if (!is(p, "FORM") || (!is(p + 8, "AIFF") && !is(p + 8, "AIFC"))) {
                    return failed(kAudioFileStreamError_UnsupportedFileType);
                }
                isAifc_ = is(p + 8, "AIFC");
                at += 12;
                state_ = State::ChunkHeader;
                break;
            case State::ChunkHeader: {
                if (avail < 8) return needMore(at, 8);
                const uint32_t chunkSize = be32(p + 4);
                const uint64_t padded = uint64_t(chunkSize) + (chunkSize & 1);
                if (is(p, "COMM") && !haveCommon_) {
                    if (chunkSize < (isAifc_ ? 22u : 18u) || chunkSize > kMaxCommonChunk) {
                        return failed(kAudioFileStreamError_InvalidFile);
                    }
                    chunkBytes_ = uint32_t(padded);
                    state_ = State::CommonChunk;
                } else if (is(p, "SSND") && !described_) {
                    // The description must come first: a stream cannot go back for it.
                    if (!haveCommon_) return failed(kAudioFileStreamError_NotOptimized);
                    if (chunkSize < 8) return failed(kAudioFileStreamError_InvalidFile);
                    soundChunkSize_ = chunkSize;
                    state_ = State::SoundHeader;
                } else {
                    skipRemaining_ = chunkSize == kUnknownSize ? UINT64_MAX : padded;
                    state_ = State::Skip;
                }
                at += 8;
                break;
            }
            case State::CommonChunk:
                if (avail < chunkBytes_) return needMore(at, chunkBytes_);
                if (const OSStatus status = readCommon(p, chunkBytes_); status != noErr)
                    return failed(status);
                at += chunkBytes_;
                state_ = State::ChunkHeader;
                break;
            case State::SoundHeader: {
                if (avail < 8) return needMore(at, 8);
                leadIn_ = be32(p);
                const bool unknown = soundChunkSize_ == kUnknownSize;
                if (!unknown && uint64_t(soundChunkSize_) < 8 + leadIn_) {
                    return failed(kAudioFileStreamError_InvalidFile);
                }
                const uint64_t dataStart = position_ ? *position_ + at + 8 + leadIn_ : 0;
                at += 8;
                state_ = State::Data;
                startData(
                    dataStart,
                    unknown ? std::nullopt : std::optional<uint64_t>(soundChunkSize_ - 8 - leadIn_),
                    !unknown && (soundChunkSize_ & 1));
                break;
            }
            case State::Skip: {
                if (!skipStreamed(at, avail)) return needMore(at, 1);
                state_ = State::ChunkHeader;
                break;
            }
            case State::Data: {
                if (leadIn_ > 0) {
                    const size_t n = size_t(std::min<uint64_t>(leadIn_, avail));
                    at += n;
                    leadIn_ -= n;
                    if (leadIn_ > 0) return needMore(at, 1);
                }
                size_t need = 1;
                at += pcm_.deliver(output_, data + at, size - at, need);
                if (!pcm_.finished()) return needMore(at, need);
                skipRemaining_ = dataPadded_ ? 1 : 0;
                state_ = State::Skip;
                break;
            }
        }
    }
    return needMore(at, 1);
}

OSStatus AiffParser::readCommon(const uint8_t* p, uint32_t) {
    PcmLayout layout;
    layout.channels = be16(p);
    const uint32_t sampleBits = be16(p + 6);
    layout.bitsPerSample = (sampleBits + 7) / 8 * 8;  // e.g. 12-bit samples sit in 16 bits
    layout.sampleRate = extendedToDouble(p + 8);
    layout.isBigEndian = true;
    layout.isSigned = true;
    if (isAifc_) {
        const uint8_t* type = p + 18;
        const bool bigEndianInteger = is(type, "NONE") || is(type, "twos");
        if (bigEndianInteger) {
            // As in plain AIFF.
        } else if (is(type, "sowt")) {
            layout.isBigEndian = false;
        } else if (is(type, "fl32") || is(type, "FL32")) {
            layout.isFloat = true;
            layout.bitsPerSample = 32;
        } else if (is(type, "fl64") || is(type, "FL64")) {
            layout.isFloat = true;
            layout.bitsPerSample = 64;
        } else if (is(type, "in24")) {
            layout.bitsPerSample = 24;
        } else if (is(type, "in32")) {
            layout.bitsPerSample = 32;
        } else if (is(type, "raw ")) {
            layout.bitsPerSample = 8;
            layout.isSigned = false;
        } else {
            return kAudioFileStreamError_UnsupportedDataFormat;
        }
    }
    if (!describePcm(layout, description_)) return kAudioFileStreamError_UnsupportedDataFormat;
    haveCommon_ = true;
    return noErr;
}

void AiffParser::resumeData(bool described) {
    // A seek or a jump lands in the samples themselves, past the SSND offset field.
    leadIn_ = 0;
    state_ = described ? State::Data : State::Lost;
}

}  // namespace audio::parsing
