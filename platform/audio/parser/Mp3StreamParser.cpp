#include "platform/audio/parser/Mp3StreamParser.h"

namespace audio::parsing {

namespace {
const Mp3FrameSyntax kMp3Syntax;
}

Mp3StreamParser::Mp3StreamParser(ParserOutput& output, std::optional<uint64_t> start)
    : FrameStreamParser(output, kMp3Syntax, start) {}

bool Mp3StreamParser::describe(const uint8_t* frame, const FrameHeader& header,
                               StreamDescription& description) {
    Mp3FrameHeader mp3;
    readMp3FrameHeader(frame, mp3);
    AudioStreamBasicDescription& format = description.format;
    format = {};
    format.mSampleRate = mp3.sampleRate;
    format.mFormatID = kAudioFormatMPEGLayer3;
    format.mFramesPerPacket = mp3.samplesPerFrame;
    format.mChannelsPerFrame = mp3.channels;
    description.formatList = {formatListItem(format)};
    // Any layer III frame fits the upper bound, whatever the next frame's bit rate.
    description.packetSizeUpperBound = kMp3MaxFrameBytes;
    description.maximumPacketSize = mp3MaxFrameBytesFor(mp3);
    description.bitRate = mp3.bitRate;

    vbr_ = readMp3VbrHeader(frame, mp3);
    if (!vbr_) return false;
    infoFrameBytes_ = header.frameLength;
    dropImplausibleCounts(mp3, header.frameLength);
    if (vbr_->frames) description.audioDataPacketCount = *vbr_->frames;
    if (vbr_->bytes) description.audioDataByteCount = *vbr_->bytes - header.frameLength;
    if (vbr_->frames && vbr_->bytes) {
        const double seconds = double(*vbr_->frames) * mp3.samplesPerFrame / mp3.sampleRate;
        description.bitRate = uint32_t(double(*vbr_->bytes - header.frameLength) * 8.0 / seconds);
    }
    return true;
}

void Mp3StreamParser::dropImplausibleCounts(const Mp3FrameHeader& mp3, uint32_t frameBytes) {
    // The counts come from the stream: checked before any arithmetic. No frames, or no bytes
    // after the information frame itself, is no count.
    if (vbr_->frames && *vbr_->frames == 0) vbr_->frames.reset();
    if (vbr_->bytes && *vbr_->bytes <= frameBytes) vbr_->bytes.reset();
    if (!vbr_->frames || !vbr_->bytes) return;
    // Together they imply the average bit rate, which no layer III stream can have outside its
    // version's range (8 to 160 kbit/s for MPEG-2 and 2.5, 32 to 320 for MPEG-1), give or take
    // the padding and a tag counted in. Counts that contradict each other are both dropped,
    // with the seek table that is scaled by the byte count.
    const bool mpeg1 = mp3.version == MpegVersion::Mpeg1;
    const double lowest = (mpeg1 ? 32000 : 8000) * 0.95;
    const double highest = (mpeg1 ? 320000 : 160000) * 1.05;
    const double seconds = double(*vbr_->frames) * mp3.samplesPerFrame / mp3.sampleRate;
    const double average = double(*vbr_->bytes - frameBytes) * 8.0 / seconds;
    if (average < lowest || average > highest) {
        vbr_->frames.reset();
        vbr_->bytes.reset();
        vbr_->toc.clear();
        vbr_->vbriEntryBytes.clear();
    }
}

std::optional<double> Mp3StreamParser::tableEstimate(int64_t packet) const {
    if (!vbr_) return std::nullopt;
    return vbr_->estimateOffset(packet, infoFrameBytes_);
}

}  // namespace audio::parsing
