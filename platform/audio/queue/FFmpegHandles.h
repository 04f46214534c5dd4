#pragma once
// Owning types for the FFmpeg handles the output queue uses, so that no path can leak or
// double-free one.

#include <memory>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
}

namespace audio::ffmpeg {

struct CodecContextDeleter {
    void operator()(AVCodecContext* context) const { avcodec_free_context(&context); }
};
struct PacketDeleter {
    void operator()(AVPacket* packet) const { av_packet_free(&packet); }
};
struct FrameDeleter {
    void operator()(AVFrame* frame) const { av_frame_free(&frame); }
};
struct ParserDeleter {
    void operator()(AVCodecParserContext* parser) const { av_parser_close(parser); }
};
struct SwrDeleter {
    void operator()(SwrContext* swr) const { swr_free(&swr); }
};

using CodecContextPtr = std::unique_ptr<AVCodecContext, CodecContextDeleter>;
using PacketPtr = std::unique_ptr<AVPacket, PacketDeleter>;
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;
using ParserPtr = std::unique_ptr<AVCodecParserContext, ParserDeleter>;
using SwrPtr = std::unique_ptr<SwrContext, SwrDeleter>;

// Channel layouts own memory for custom orders; this keeps av_channel_layout_uninit on every path.
class ChannelLayout {
public:
    ChannelLayout() = default;
    explicit ChannelLayout(const AVChannelLayout& other) {
        av_channel_layout_copy(&layout_, &other);
    }
    ChannelLayout(const ChannelLayout& other) : ChannelLayout(other.layout_) {}
    ChannelLayout& operator=(const ChannelLayout& other) {
        if (this != &other) {
            av_channel_layout_uninit(&layout_);
            av_channel_layout_copy(&layout_, &other.layout_);
        }
        return *this;
    }
    ~ChannelLayout() { av_channel_layout_uninit(&layout_); }

    static ChannelLayout defaultFor(int channels) {
        ChannelLayout result;
        av_channel_layout_default(&result.layout_, channels);
        return result;
    }

    const AVChannelLayout* get() const { return &layout_; }
    int channels() const { return layout_.nb_channels; }
    bool operator==(const ChannelLayout& other) const {
        return av_channel_layout_compare(&layout_, &other.layout_) == 0;
    }

private:
    AVChannelLayout layout_{};
};

}  // namespace audio::ffmpeg
