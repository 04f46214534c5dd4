#pragma once
// MP3 frames decoded with libmpg123, the fastest MP3 decoder on the platform, into the same
// frames (32-bit float, interleaved) the rest of the queue takes from libavcodec. Each packet
// is one MP3 frame; the decoder keeps the bit reservoir between them, resynchronises after a
// damaged frame by itself, and starts afresh after a discontinuity (reset). No gapless
// trimming: like libavcodec's decoder it plays every frame it is given.
//
// Threads: the output queue's thread only.

#include <cstddef>
#include <cstdint>
#include <functional>

#include "platform/audio/queue/FFmpegHandles.h"

struct mpg123_handle_struct;

namespace audio {

class Mpg123Decoder {
public:
    using FrameHandler = std::function<void(const AVFrame&)>;

    // `channels` is the stream's (1 or 2): the output keeps it.
    explicit Mpg123Decoder(int channels);
    ~Mpg123Decoder();
    Mpg123Decoder(const Mpg123Decoder&) = delete;
    Mpg123Decoder& operator=(const Mpg123Decoder&) = delete;

    // False when the library could not make a decoder; the caller falls back to libavcodec.
    bool isOpen() const { return handle_ != nullptr; }

    // Decodes one MP3 frame (a packet); what it completes is handed to `onFrame` at once.
    void decodeFrame(const uint8_t* data, size_t size, const FrameHandler& onFrame);
    // Decodes the next bytes of a raw MP3 stream, frames found by the decoder.
    void decodeStream(const uint8_t* data, size_t size, const FrameHandler& onFrame);
    // Forgets the reservoir and any partial frame, after a discontinuity.
    void reset();

private:
    bool openFeed();
    void emit(unsigned char* audio, size_t bytes, const FrameHandler& onFrame);

    mpg123_handle_struct* handle_ = nullptr;
    long rate_ = 0;
    int channels_ = 0;
    ffmpeg::FramePtr frame_{av_frame_alloc()};
};

}  // namespace audio
