#pragma once
// Converts decoded frames to the sink's format: interleaved 32-bit float at the sink's rate and
// channel count, with libswresample. Follows the decoder when its output format changes (an
// HE-AAC stream that turns out to carry SBR, a stream after a seek).
//
// Threads: the output queue's thread only.

#include <vector>

#include "platform/audio/queue/FFmpegHandles.h"
#include "platform/audio/sink/AudioSink.h"

namespace audio {

class AudioResampler {
public:
    explicit AudioResampler(AudioSinkFormat out);

    // Appends the frame's audio, converted, to `out`. False when it cannot be converted.
    bool convert(const AVFrame& frame, std::vector<float>& out);

    // Appends what the rate converter still holds (the end of the data).
    void drain(std::vector<float>& out);

    // Forgets what the converter holds, after a discontinuity.
    void reset();

    const AudioSinkFormat& outputFormat() const { return out_; }

private:
    bool configure(const AVFrame& frame);
    bool isPassThrough(const AVFrame& frame) const;

    const AudioSinkFormat out_;
    ffmpeg::SwrPtr swr_;
    int inRate_ = 0;
    int inSampleFormat_ = -1;
    ffmpeg::ChannelLayout inLayout_;
};

}  // namespace audio
