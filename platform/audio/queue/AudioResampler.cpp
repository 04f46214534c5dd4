#include "platform/audio/queue/AudioResampler.h"

#include <cstring>

extern "C" {
#include <libavutil/opt.h>
}

namespace audio {

namespace {
// Decoders of raw PCM give only a channel count; the converter needs a real layout.
ffmpeg::ChannelLayout layoutOf(const AVFrame& frame) {
    if (frame.ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
        return ffmpeg::ChannelLayout::defaultFor(frame.ch_layout.nb_channels);
    }
    return ffmpeg::ChannelLayout(frame.ch_layout);
}
}  // namespace

AudioResampler::AudioResampler(AudioSinkFormat out) : out_(out) {}

bool AudioResampler::isPassThrough(const AVFrame& frame) const {
    return frame.format == AV_SAMPLE_FMT_FLT && frame.sample_rate == out_.sampleRate &&
           frame.ch_layout.nb_channels == out_.channels;
}

bool AudioResampler::configure(const AVFrame& frame) {
    const ffmpeg::ChannelLayout layout = layoutOf(frame);
    if (swr_ && frame.sample_rate == inRate_ && frame.format == inSampleFormat_ &&
        layout == inLayout_) {
        return true;
    }
    // A change of input format: what the old converter holds is let out by the next drain at
    // the latest; a format change inside a stream is rare enough to drop that tail.
    swr_.reset();
    const ffmpeg::ChannelLayout outLayout = ffmpeg::ChannelLayout::defaultFor(out_.channels);
    SwrContext* raw = nullptr;
    // This FFmpeg takes the layouts through non-const pointers but only reads them.
    if (swr_alloc_set_opts2(&raw, const_cast<AVChannelLayout*>(outLayout.get()), AV_SAMPLE_FMT_FLT,
                            out_.sampleRate, const_cast<AVChannelLayout*>(layout.get()),
                            AVSampleFormat(frame.format), frame.sample_rate, 0, nullptr) < 0) {
        return false;
    }
    ffmpeg::SwrPtr swr(raw);
    if (swr_init(swr.get()) < 0) return false;
    swr_ = std::move(swr);
    inRate_ = frame.sample_rate;
    inSampleFormat_ = frame.format;
    inLayout_ = layout;
    return true;
}

bool AudioResampler::convert(const AVFrame& frame, std::vector<float>& out) {
    if (frame.nb_samples <= 0) return true;
    if (isPassThrough(frame) && !swr_) {
        const size_t count = size_t(frame.nb_samples) * size_t(out_.channels);
        const auto* samples = reinterpret_cast<const float*>(frame.extended_data[0]);
        out.insert(out.end(), samples, samples + count);
        return true;
    }
    if (!configure(frame)) return false;
    const int room = swr_get_out_samples(swr_.get(), frame.nb_samples);
    if (room < 0) return false;
    const size_t before = out.size();
    out.resize(before + size_t(room) * size_t(out_.channels));
    uint8_t* target = reinterpret_cast<uint8_t*>(out.data() + before);
    const int got = swr_convert(swr_.get(), &target, room,
                                const_cast<const uint8_t**>(frame.extended_data), frame.nb_samples);
    out.resize(before + size_t(got > 0 ? got : 0) * size_t(out_.channels));
    return got >= 0;
}

void AudioResampler::drain(std::vector<float>& out) {
    if (!swr_) return;
    const int room = swr_get_out_samples(swr_.get(), 0);
    if (room > 0) {
        const size_t before = out.size();
        out.resize(before + size_t(room) * size_t(out_.channels));
        uint8_t* target = reinterpret_cast<uint8_t*>(out.data() + before);
        const int got = swr_convert(swr_.get(), &target, room, nullptr, 0);
        out.resize(before + size_t(got > 0 ? got : 0) * size_t(out_.channels));
    }
    swr_.reset();
}

void AudioResampler::reset() { swr_.reset(); }

}  // namespace audio
