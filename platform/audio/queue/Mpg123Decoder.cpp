#include "platform/audio/queue/Mpg123Decoder.h"

#include <mpg123.h>

#include <mutex>

#include "platform/Log.h"
#include "platform/audio/parser/Mp3FrameHeader.h"

namespace audio {

namespace {

void initialiseLibrary() {
    static std::once_flag once;
    // A no-op in current versions, needed by older ones; once per process either way.
    std::call_once(once, [] { mpg123_init(); });
}

}  // namespace

Mpg123Decoder::Mpg123Decoder(int channels) {
    initialiseLibrary();
    int error = MPG123_OK;
    handle_ = mpg123_new(nullptr, &error);
    if (!handle_) {
        platform::logf("Audio queue: libmpg123 has no decoder (%s).", mpg123_plain_strerror(error));
        return;
    }
    // Float output at the stream's own rate and channels; no messages on stderr. The flags
    // replace the defaults, so gapless trimming (positions after a seek are the engine's, not
    // the decoder's) is off by leaving MPG123_GAPLESS out.
    mpg123_param(handle_, MPG123_FLAGS, MPG123_QUIET | MPG123_FORCE_FLOAT, 0);
    mpg123_format_none(handle_);
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i) {
        mpg123_format(handle_, rates[i], channels == 1 ? MPG123_MONO : MPG123_STEREO,
                      MPG123_ENC_FLOAT_32);
    }
    if (!openFeed()) {
        mpg123_delete(handle_);
        handle_ = nullptr;
    }
}

Mpg123Decoder::~Mpg123Decoder() {
    if (!handle_) return;
    mpg123_close(handle_);
    mpg123_delete(handle_);
}

bool Mpg123Decoder::openFeed() {
    // The format stays as it was: a reopened feed of the same stream need not announce it.
    return mpg123_open_feed(handle_) == MPG123_OK;
}

void Mpg123Decoder::decodeFrame(const uint8_t* data, size_t size, const FrameHandler& onFrame) {
    // Bytes after the frame its header describes are not audio: to a decoder reading one
    // stream they would be junk before the next frame, which costs it that frame.
    parsing::Mp3FrameHeader header;
    if (size >= 4 && parsing::readMp3FrameHeader(data, header) && header.frameLength > 0 &&
        header.frameLength < size) {
        size = header.frameLength;
    }
    decodeStream(data, size, onFrame);
}

void Mpg123Decoder::decodeStream(const uint8_t* data, size_t size, const FrameHandler& onFrame) {
    if (!handle_ || size == 0) return;
    if (mpg123_feed(handle_, data, size) != MPG123_OK) return;
    for (;;) {
        off_t frameNumber = 0;
        unsigned char* audio = nullptr;
        size_t bytes = 0;
        const int status = mpg123_decode_frame(handle_, &frameNumber, &audio, &bytes);
        if (status == MPG123_NEW_FORMAT) {
            int encoding = 0;
            mpg123_getformat(handle_, &rate_, &channels_, &encoding);
            continue;
        }
        if (status == MPG123_OK) {
            if (bytes > 0) emit(audio, bytes, onFrame);
            continue;
        }
        // MPG123_NEED_MORE: the frame is used up. An error is a damaged frame: the decoder
        // resynchronises on the next one by itself.
        return;
    }
}

void Mpg123Decoder::emit(unsigned char* audio, size_t bytes, const FrameHandler& onFrame) {
    if (rate_ <= 0 || channels_ <= 0) {
        int encoding = 0;
        mpg123_getformat(handle_, &rate_, &channels_, &encoding);
    }
    if (rate_ <= 0 || channels_ <= 0 || !frame_) return;
    // The decoder's own buffer, described as a frame: nothing is copied here.
    AVFrame& frame = *frame_;
    frame.format = AV_SAMPLE_FMT_FLT;
    frame.sample_rate = int(rate_);
    av_channel_layout_uninit(&frame.ch_layout);
    av_channel_layout_default(&frame.ch_layout, channels_);
    frame.nb_samples = int(bytes / (sizeof(float) * size_t(channels_)));
    frame.data[0] = audio;
    frame.extended_data = frame.data;
    frame.linesize[0] = int(bytes);
    onFrame(frame);
    frame.data[0] = nullptr;
}

void Mpg123Decoder::reset() {
    if (!handle_) return;
    mpg123_close(handle_);
    if (!openFeed()) {
        mpg123_delete(handle_);
        handle_ = nullptr;
    }
}

}  // namespace audio
