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
    if (vbr_->frames) description.audioDataPacketCount = *vbr_->frames;
    if (vbr_->bytes) description.audioDataByteCount = *vbr_->bytes - header.frameLength;
    if (vbr_->frames && vbr_->bytes) {
        const double seconds = double(*vbr_->frames) * mp3.samplesPerFrame / mp3.sampleRate;
        description.bitRate = uint32_t(double(*vbr_->bytes - header.frameLength) * 8.0 / seconds);
    }
    return true;
}

std::optional<double> Mp3StreamParser::tableEstimate(int64_t packet) const {
    if (!vbr_) return std::nullopt;
    return vbr_->estimateOffset(packet, infoFrameBytes_);
}

}  // namespace audio::parsing
