#include "platform/audio/parser/PcmFileParser.h"

#include "platform/audio/parser/AudioFileStream.h"

namespace audio::parsing {

void PcmFileParser::startData(uint64_t dataStart, std::optional<uint64_t> dataBytes, bool padded) {
    const uint32_t bytesPerFrame = description_.format.mBytesPerFrame;
    dataBytes_ = dataBytes;
    dataPadded_ = padded;
    description_.dataOffset = int64_t(dataStart);
    if (dataBytes_) {
        description_.audioDataByteCount = *dataBytes_;
        description_.audioDataPacketCount = *dataBytes_ / bytesPerFrame;
    }
    described_ = true;
    pcm_.start(bytesPerFrame, dataBytes_);
    output_.publish(description_);
}

OSStatus PcmFileParser::seek(int64_t packet, int64_t& offset, bool& estimated) {
    if (!described_) return kAudioFileStreamError_DataUnavailable;
    const uint32_t bytesPerFrame = description_.format.mBytesPerFrame;
    const uint64_t at = PcmPacketizer::offsetOf(uint64_t(packet), bytesPerFrame, dataBytes_);
    pcm_.start(bytesPerFrame,
               dataBytes_ ? std::optional<uint64_t>(*dataBytes_ - at) : std::nullopt);
    position_ = uint64_t(description_.dataOffset) + at;
    resumeData(true);
    offset = int64_t(at);
    estimated = false;
    return noErr;
}

void PcmFileParser::discontinuity() {
    position_.reset();
    // Taken to start on a frame: nothing in PCM tells where frames start.
    if (described_) pcm_.start(description_.format.mBytesPerFrame, std::nullopt);
    resumeData(described_);
}

}  // namespace audio::parsing
