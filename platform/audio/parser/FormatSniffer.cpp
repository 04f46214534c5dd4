#include "platform/audio/parser/FormatSniffer.h"

#include <algorithm>
#include <cstring>

#include "platform/audio/parser/AdtsFrameHeader.h"
#include "platform/audio/parser/AdtsStreamParser.h"
#include "platform/audio/parser/AiffParser.h"
#include "platform/audio/parser/AudioFileStream.h"
#include "platform/audio/parser/ByteOrder.h"
#include "platform/audio/parser/CafParser.h"
#include "platform/audio/parser/FlacParser.h"
#include "platform/audio/parser/FrameSync.h"
#include "platform/audio/parser/MetadataTags.h"
#include "platform/audio/parser/Mp3StreamParser.h"
#include "platform/audio/parser/Mp4Parser.h"
#include "platform/audio/parser/MpegTsParser.h"
#include "platform/audio/parser/OggParser.h"
#include "platform/audio/parser/WavParser.h"

namespace audio::parsing {

namespace {

// Enough for every container's signature and an ID3v2 header.
constexpr size_t kSignatureBytes = 12;

const Mp3FrameSyntax kMp3Syntax;
const AdtsFrameSyntax kAdtsSyntax;

bool isMp4BoxType(const uint8_t* type, bool hinted) {
    static constexpr const char* kLeadingBoxes[] = {"ftyp", "moov", "mdat", "free", "skip",
                                                    "wide", "pdin", "styp", "uuid"};
    for (const char* box : kLeadingBoxes) {
        if (std::memcmp(type, box, 4) == 0) return true;
    }
    // With an MP4 hint any box type made of lowercase letters and digits will do (text such
    // as an HTML error page does not pass for one).
    return hinted && std::all_of(type, type + 4, [](uint8_t c) {
               return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ';
           });
}

}  // namespace

FormatSniffer::FormatSniffer(ParserOutput& output, uint32_t fileTypeHint)
    : output_(output), hint_(fileTypeHint) {}

std::unique_ptr<FormatParser> FormatSniffer::containerAt(const uint8_t* p,
                                                         std::optional<uint64_t> start) const {
    auto is = [p](size_t at, const char* code) { return std::memcmp(p + at, code, 4) == 0; };
    if (is(0, "RIFF") && is(8, "WAVE")) return std::make_unique<WavParser>(output_, start);
    if (is(0, "FORM") && (is(8, "AIFF") || is(8, "AIFC"))) {
        return std::make_unique<AiffParser>(output_, start);
    }
    if (is(0, "caff") && be16(p + 4) == 1) return std::make_unique<CafParser>(output_, start);
    if (is(0, "OggS") && p[4] == 0) return std::make_unique<OggParser>(output_, start);
    if (is(0, "fLaC")) return std::make_unique<FlacParser>(output_, start);
    const bool mp4Hint = hint_ == kAudioFileM4AType || hint_ == kAudioFileMPEG4Type;
    const uint32_t boxSize = be32(p);
    if ((boxSize == 0 || boxSize == 1 || boxSize >= 8) && isMp4BoxType(p + 4, mp4Hint)) {
        return std::make_unique<Mp4Parser>(output_, start);
    }
    return nullptr;
}

ParseStep FormatSniffer::handOver(std::unique_ptr<FormatParser> parser, const uint8_t* data,
                                  size_t size, size_t at) {
    chosen_ = std::move(parser);
    chosen_->setSeekIndexWanted(seekIndexWanted_);
    ParseStep step = chosen_->parse(data + at, size - at);
    step.consumed += at;
    return step;
}

ParseStep FormatSniffer::parse(const uint8_t* data, size_t size) {
    if (chosen_) return chosen_->parse(data, size);
    const FrameSyntax* syntaxes[2] = {&kMp3Syntax, &kAdtsSyntax};
    if (hint_ == kAudioFileAAC_ADTSType) std::swap(syntaxes[0], syntaxes[1]);

    size_t at = 0;
    ParseStep step;
    while (true) {
        const size_t avail = size - at;
        if (skipRemaining_ > 0) {
            if (!skipStreamed(at, avail)) {
                step = needMore(at, 1);
                break;
            }
            continue;
        }
        if (junk_ > kMaxJunkBeforeSync) return failed(kAudioFileStreamError_UnsupportedFileType);
        if (atStart_) {
            if (avail < kSignatureBytes) {
                step = needMore(at, kSignatureBytes);
                break;
            }
            if (const auto tag = id3v2TagBytes(data + at)) {
                skipRemaining_ = *tag;
                continue;
            }
            // A transport stream shows itself by sync bytes three packets in a row.
            if (data[at] == 0x47) {
                if (avail < 2 * MpegTsParser::kPacketBytes + 1) {
                    step = needMore(at, 2 * MpegTsParser::kPacketBytes + 1);
                    break;
                }
                if (MpegTsParser::begins(data + at, avail)) {
                    return handOver(std::make_unique<MpegTsParser>(output_), data, size, at);
                }
            }
            atStart_ = false;
            const std::optional<uint64_t> start =
                position_ ? std::optional(*position_ + at) : std::nullopt;
            if (auto container = containerAt(data + at, start)) {
                return handOver(std::move(container), data, size, at);
            }
        }
        if (avail == 0) {
            step = needMore(at, 1);
            break;
        }
        if (data[at] == 0xFF) {
            bool wait = false;
            for (const FrameSyntax* syntax : syntaxes) {
                FrameHeader first;
                size_t need = 0;
                const SyncResult sync =
                    confirmSync(*syntax, data + at, avail, nullptr, first, need);
                if (sync == SyncResult::Confirmed) {
                    const std::optional<uint64_t> start =
                        position_ ? std::optional(*position_ + at) : std::nullopt;
                    std::unique_ptr<FormatParser> parser;
                    if (syntax == &kMp3Syntax) {
                        parser = std::make_unique<Mp3StreamParser>(output_, start);
                    } else {
                        parser = std::make_unique<AdtsStreamParser>(output_, start);
                    }
                    return handOver(std::move(parser), data, size, at);
                }
                if (sync == SyncResult::NeedMore) {
                    step = needMore(at, need);
                    wait = true;
                    break;
                }
            }
            if (wait) break;
        } else if (data[at] == 'I') {
            // An ID3v2 tag after junk, before the first frame.
            if (avail < kId3v2HeaderBytes &&
                std::memcmp(data + at, "ID3", std::min<size_t>(avail, 3)) == 0) {
                step = needMore(at, kId3v2HeaderBytes);
                break;
            }
            if (avail >= kId3v2HeaderBytes) {
                if (const auto tag = id3v2TagBytes(data + at)) {
                    skipRemaining_ = *tag;
                    continue;
                }
            }
        }
        ++at;
        ++junk_;
    }
    if (position_) *position_ += step.consumed;
    return step;
}

void FormatSniffer::discontinuity() {
    if (chosen_) {
        chosen_->discontinuity();
        return;
    }
    position_.reset();
    atStart_ = false;
    skipRemaining_ = 0;
    junk_ = 0;
}

void FormatSniffer::endOfData(const uint8_t* data, size_t size) {
    if (chosen_) chosen_->endOfData(data, size);
}

void FormatSniffer::setSeekIndexWanted(bool wanted) {
    seekIndexWanted_ = wanted;
    if (chosen_) chosen_->setSeekIndexWanted(wanted);
}

OSStatus FormatSniffer::seek(int64_t packet, int64_t& offset, bool& estimated) {
    if (chosen_) return chosen_->seek(packet, offset, estimated);
    return kAudioFileStreamError_DataUnavailable;
}

}  // namespace audio::parsing
