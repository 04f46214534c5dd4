#pragma once
// Decodes the packets of one stream with libavcodec: MP3, AAC (LC, HE-AAC v1 and v2), ALAC and
// linear PCM (8, 16, 24 and 32-bit integers of either byte order, 32 and 64-bit floats).
//
// PCM buffers may end in the middle of a frame (the engine fills buffers to a byte size that
// need not be a multiple of the frame size); the bytes of a split frame are kept and joined
// with the next buffer, so no sample is lost or shifted.
//
// Threads: the output queue's thread only.

#include <functional>
#include <span>
#include <vector>

#include "platform/audio/AudioTypes.h"
#include "platform/audio/InBandConfig.h"
#include "platform/audio/queue/FFmpegHandles.h"

namespace audio {

class AudioDecoder {
public:
    explicit AudioDecoder(const AudioStreamBasicDescription& format);

    // Whether the format is one this decoder plays (checked when a queue is made).
    static bool isSupported(const AudioStreamBasicDescription& format);

    // The stream's magic cookie; the decoder reopens with it before the next packet.
    void setMagicCookie(std::vector<uint8_t> cookie);

    using FrameHandler = std::function<void(const AVFrame&)>;

    // Decodes one buffer. With descriptions each one is a packet; without, the bytes are
    // constant-size PCM frames or a raw compressed stream that FFmpeg's parser splits. Packets
    // that do not decode are skipped. Returns false when no decoder could be opened.
    bool decode(std::span<const uint8_t> data, std::span<const AudioStreamPacketDescription> descs,
                const FrameHandler& onFrame);

    // Lets out what the decoder still holds (end of the data); ready for more afterwards.
    void drain(const FrameHandler& onFrame);

    // Forgets what the decoder holds, after a discontinuity.
    void reset();

    // Counts the links of a chained stream taken so far: the audio of a new link starts afresh,
    // as if it were a stream of its own.
    unsigned link() const { return link_; }

private:
    bool ensureOpen();
    void decodePcm(std::span<const uint8_t> bytes, const FrameHandler& onFrame);
    void decodeUnframed(std::span<const uint8_t> bytes, const FrameHandler& onFrame);
    void sendPacket(const uint8_t* data, size_t size, const FrameHandler& onFrame);
    void receiveFrames(const FrameHandler& onFrame);
    // Hands a decoded frame on, less what a skip mark said to drop.
    void deliver(const AVFrame& frame, const FrameHandler& onFrame);

    // A chained stream's next link: the decoder lets out what it holds and reopens for it.
    bool takeInBandConfig(std::span<const uint8_t> packet, const FrameHandler& onFrame);

    // The format and codec change only where a chained stream's link does.
    AudioStreamBasicDescription format_;
    AVCodecID codecId_;
    std::vector<uint8_t> configFragments_;
    uint32_t samplesToSkip_ = 0;
    uint32_t samplesToKeep_ = kKeepEverything;  // of the output to come, before the skip
    unsigned link_ = 0;
    std::vector<uint8_t*> trimmedPlanes_;
    unsigned configFragmentsSeen_ = 0;
    const int pcmFrameBytes_;  // 0 for compressed formats
    std::vector<uint8_t> cookie_;
    bool needsOpen_ = true;
    bool openFailed_ = false;
    ffmpeg::CodecContextPtr context_;
    ffmpeg::ParserPtr parser_;
    ffmpeg::PacketPtr packet_{av_packet_alloc()};
    ffmpeg::FramePtr frame_{av_frame_alloc()};
    std::vector<uint8_t> pcmCarry_;  // the start of a PCM frame split between two buffers
};

}  // namespace audio
